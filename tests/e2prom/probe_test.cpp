// Finding the EEPROM: the candidates 0x57 then 0x53, busy addresses and the kernel driver's
// file, a bus without the chip, and the lazy start of the semaphore.
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <thread>

#include "e2prom_fixture.h"

namespace bsp::test {

namespace {

std::shared_ptr<sim::EepromChip> move_eeprom_to(uint8_t addr) {
    sim::remove_i2c_chip(1, 0x57);
    int fd = sim::make_memfd("eeprom-0x53", sim::EepromChip::kSize);
    auto chip = std::make_shared<sim::EepromChip>(fd);
    ::close(fd);
    chip->fill(0xff);
    sim::add_i2c_chip(1, addr, chip);
    return chip;
}

using ProbeTest = E2promTest;

TEST_F(ProbeTest, StopsAtTheFirstCandidateThatAnswers) {
    REQUIRE_FRESH_PROCESS();
    EXPECT_EQ(e2prom_i2c_addr_find(), 0);
    EXPECT_EQ(out(), "Found eeprom on bus /dev/i2c-1, addr: 0x57\n");
    EXPECT_EQ(sim::i2c_log_text(), std::vector<std::string>{"R 57: ff"});
}

TEST_F(ProbeTest, FallsBackTo0x53WhenNothingAnswersAt0x57) {
    REQUIRE_FRESH_PROCESS();
    auto chip = move_eeprom_to(0x53);
    uint8_t data[2] = {0xaa, 0xbb};
    EXPECT_EQ(e2prom_write(0x0102, data, 2), 2);
    EXPECT_EQ(out(), "Found eeprom on bus /dev/i2c-1, addr: 0x53\n");
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"R 57: nack", "R 53: ff", "W 53: 01 02 aa bb"}));
    EXPECT_EQ(chip->peek(0x102, 2), (std::vector<uint8_t>{0xaa, 0xbb}));
}

TEST_F(ProbeTest, BothCandidatesBusyUsesTheDriverFileOfTheLastOne) {
    REQUIRE_FRESH_PROCESS();
    auto chip = move_eeprom_to(0x53);
    sim::set_i2c_busy(1, 0x57, true);
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x53));
    EXPECT_EQ(e2prom_i2c_addr_find(), 0);
    EXPECT_EQ(out(),
              "Addr: 0x57 is busy\nAddr: 0x53 is busy\n"
              "Found BUSY device at addr 0x53, assume using I2C_client driver\n");
    EXPECT_TRUE(sim::i2c_log_text().empty());

    // Writes reach the chip through the driver in the library's page-bounded chunks.
    std::vector<uint8_t> data = pattern(100);
    EXPECT_EQ(e2prom_write(0x30, data.data(), 100), 100);
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{
                  msg('W', 0x53, concat({0x00, 0x30}, {data.begin(), data.begin() + 16})),
                  msg('W', 0x53, concat({0x00, 0x40}, {data.begin() + 16, data.begin() + 80})),
                  msg('W', 0x53, concat({0x00, 0x80}, {data.begin() + 80, data.end()}))}));
    EXPECT_EQ(chip->peek(0x30, 100), data);

    sim::clear_i2c_log();
    std::vector<uint8_t> back(100);
    EXPECT_EQ(e2prom_read(0x30, back.data(), 100), 100);
    EXPECT_EQ(back, data);
    EXPECT_EQ(
        sim::i2c_log_text(),
        (std::vector<std::string>{"W 53: 00 30", msg('R', 0x53, {data.begin(), data.begin() + 64}),
                                  "W 53: 00 70", msg('R', 0x53, {data.begin() + 64, data.end()})}));
}

TEST_F(ProbeTest, EmptyBusReportsAndEveryAccessProbesAgain) {
    REQUIRE_FRESH_PROCESS();
    sim::remove_i2c_chip(1, 0x57);
    const std::string report = "Could not probe e2prom at addr 0x57 or 0x53, use default 0x53\n";
    EXPECT_EQ(e2prom_i2c_addr_find(), -1);
    uint8_t byte = 0x42;
    EXPECT_EQ(e2prom_read(0, &byte, 1), 0);
    EXPECT_EQ(e2prom_write(0, &byte, 1), 0);
    EXPECT_EQ(err(), report + report + report);
    const std::vector<std::string> probes = {"R 57: nack", "R 53: nack", "R 57: nack",
                                             "R 53: nack", "R 57: nack", "R 53: nack"};
    EXPECT_EQ(sim::i2c_log_text(), probes);

    move_eeprom_to(0x53);
    EXPECT_EQ(e2prom_write(0, &byte, 1), 1);
    EXPECT_EQ(sim::i2c_log_text().back(), "W 53: 00 00 42");
}

TEST_F(ProbeTest, SelectionFailureOtherThanBusyEndsTheProbe) {
    REQUIRE_FRESH_PROCESS();
    sim::inject_fault({sim::FaultOp::Ioctl, 1, EIO, -1, "/dev/i2c-1"});
    EXPECT_EQ(e2prom_i2c_addr_find(), -1);
    EXPECT_EQ(err(), "Error: Could not set address to 0x57: Input/output error\n");
    EXPECT_EQ(sim::open_device_files(), 0u);
}

TEST_F(ProbeTest, UnopenedBusFailsAtTheFirstSelection) {
    REQUIRE_FRESH_PROCESS();
    sim::inject_fault({sim::FaultOp::Open, 1, ENOENT, -1, "/dev/i2c-1"});
    // The slave request then goes to descriptor -1: the message carries the system's answer
    // (EBADF from a kernel; an emulator may refuse the request itself).
    errno = 0;
    ioctl(-1, I2C_SLAVE, 0x57);
    std::string reason = std::strerror(errno);
    EXPECT_EQ(e2prom_i2c_addr_find(), -1);
    EXPECT_EQ(err(), "Error: Could not set address to 0x57: " + reason + "\n");
    EXPECT_TRUE(sim::i2c_log_text().empty());
}

// Two first callers start the semaphore once and their accesses do not interleave.
TEST_F(ProbeTest, TwoFirstCallersInTwoThreads) {
    REQUIRE_FRESH_PROCESS();
    sim::eeprom_chip()->poke(0, pattern(32));
    std::vector<uint8_t> a(16), b(16);
    INT ra = -1, rb = -1;
    std::thread ta([&] { ra = e2prom_read(0, a.data(), 16); });
    std::thread tb([&] { rb = e2prom_read(16, b.data(), 16); });
    ta.join();
    tb.join();
    EXPECT_EQ(ra, 16);
    EXPECT_EQ(rb, 16);
    EXPECT_EQ(a, pattern(16));
    EXPECT_EQ(b, pattern(16, 16));
    std::vector<std::string> log = sim::i2c_log_text();
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i] == "W 57: 00 00" || log[i] == "W 57: 00 10") {
            ASSERT_LT(i + 1, log.size());
            EXPECT_EQ(log[i + 1], msg('R', 0x57, pattern(16, log[i] == "W 57: 00 00" ? 0 : 16)));
        }
    }
    int free_count = 0;
    ASSERT_EQ(sem_getvalue(&e2prom, &free_count), 0);
    EXPECT_EQ(free_count, 1);
}

}  // namespace

}  // namespace bsp::test
