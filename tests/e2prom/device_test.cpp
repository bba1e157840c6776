// Finding the EEPROM (the candidates 0x57 then 0x53, busy addresses and the kernel driver's
// file, a bus without the chip, the lazy start of the semaphore) and direct access over
// /dev/i2c-1: chunking, the range cut at 0x4000, the write pauses measured on the bus, and
// every failure path of both access methods.
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "e2prom_fixture.h"

namespace bsp::test {

namespace {

using Clock = std::chrono::steady_clock;
using sim::FaultOp;
using std::chrono::milliseconds;
const std::string kBus = "/dev/i2c-1";

std::shared_ptr<sim::EepromChip> move_eeprom_to_0x53() {
    sim::remove_i2c_chip(1, 0x57);
    int fd = sim::make_memfd("eeprom-0x53", sim::EepromChip::kSize);
    auto chip = std::make_shared<sim::EepromChip>(fd);
    ::close(fd);
    chip->fill(0xff);
    sim::add_i2c_chip(1, 0x53, chip);
    return chip;
}

TEST_F(ProbeTest, StopsAtTheFirstCandidateThatAnswers) {
    EXPECT_EQ(e2prom_i2c_addr_find(), 0);
    EXPECT_EQ(out(), "Found eeprom on bus /dev/i2c-1, addr: 0x57\n");
    EXPECT_EQ(sim::i2c_log_text(), std::vector<std::string>{"R 57: ff"});
}

TEST_F(ProbeTest, FallsBackTo0x53WhenNothingAnswersAt0x57) {
    auto chip = move_eeprom_to_0x53();
    uint8_t data[2] = {0xaa, 0xbb};
    EXPECT_EQ(e2prom_write(0x0102, data, 2), 2);
    EXPECT_EQ(out(), "Found eeprom on bus /dev/i2c-1, addr: 0x53\n");
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"R 57: nack", "R 53: ff", "W 53: 01 02 aa bb"}));
    EXPECT_EQ(chip->peek(0x102, 2), (Bytes{0xaa, 0xbb}));
}

// Through the driver the chip sees the library's own chunks.
TEST_F(ProbeTest, BothCandidatesBusyUsesTheDriverFileOfTheLastOne) {
    auto chip = move_eeprom_to_0x53();
    sim::set_i2c_busy(1, 0x57, true);
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x53));
    EXPECT_EQ(e2prom_i2c_addr_find(), 0);
    EXPECT_EQ(out(),
              "Addr: 0x57 is busy\nAddr: 0x53 is busy\n"
              "Found BUSY device at addr 0x53, assume using I2C_client driver\n");
    EXPECT_TRUE(sim::i2c_log_text().empty());
    Bytes data = pattern(100, 0x80), back(100);
    EXPECT_EQ(e2prom_write(0x30, data.data(), 100), 100);
    EXPECT_EQ(chip->peek(0x30, 100), data);
    EXPECT_EQ(e2prom_read(0x30, back.data(), 100), 100);
    EXPECT_EQ(back, data);
    EXPECT_EQ(sim::i2c_log_text(), transfer_log(0x53));
}

TEST_F(ProbeTest, EmptyBusReportsAndEveryAccessProbesAgain) {
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
    move_eeprom_to_0x53();
    EXPECT_EQ(e2prom_write(0, &byte, 1), 1);
    EXPECT_EQ(sim::i2c_log_text().back(), "W 53: 00 00 42");
}

TEST_F(ProbeTest, SelectionFailureOtherThanBusyEndsTheProbe) {
    sim::inject_fault({FaultOp::Ioctl, 1, EIO, -1, kBus});
    EXPECT_EQ(e2prom_i2c_addr_find(), -1);
    EXPECT_EQ(err(), "Error: Could not set address to 0x57: Input/output error\n");
    EXPECT_EQ(sim::open_device_files(), 0u);
}

TEST_F(ProbeTest, UnopenedBusFailsAtTheFirstSelection) {
    sim::inject_fault({FaultOp::Open, 1, ENOENT, -1, kBus});
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
    sim::eeprom_chip()->poke(0, pattern(32));
    Bytes a(16), b(16);
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
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        if (log[i] == "W 57: 00 00" || log[i] == "W 57: 00 10") {
            EXPECT_EQ(log[i + 1], "R 57: " + hex(pattern(16, log[i] == "W 57: 00 00" ? 0 : 16)));
        }
    }
    EXPECT_TRUE(semaphore_free());
}

// The driver file's own failure paths, in one process that settled the driver method.
TEST_F(ProbeTest, DriverFileFailures) {
    sim::set_i2c_busy(1, 0x57, true);
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x57));
    sim::set_i2c_busy(1, 0x53, false);
    ASSERT_EQ(e2prom_i2c_addr_find(), 0);
    const std::string file = "/sys/bus/i2c/devices/1-0057/eeprom";
    struct Step {
        bool write;
        sim::FaultRule fault;
        INT expected;
        std::string out;
    };
    const Step steps[] = {
        {true, {FaultOp::Open, 1, EACCES, -1, file}, 0, "Error opening " + file + "\n"},
        {false, {FaultOp::Open, 1, EACCES, -1, file}, 0, "Error opening " + file + "\n"},
        {true, {FaultOp::Lseek, 1, EINVAL, -1, file}, 0, "Error setting position to byte 48\n"},
        {false, {FaultOp::Lseek, 1, EINVAL, -1, file}, 0, "Error setting position to byte 48\n"},
        // clang-format off
        {true, {FaultOp::Write, 2, EIO, 3, file}, 16,
         "Error writing EEPROM: write returned 3, instead of 64\n"},
        {false, {FaultOp::Read, 2, EIO, 0, file}, 64,
         "Error reading from EEPROM: fread returned 0, instead of 36\n"},
        // clang-format on
        {true, {FaultOp::Close, 1, EIO, -1, file}, 100, "Error while closing file"},
        {false, {FaultOp::Close, 1, EIO, -1, file}, 100, "Error while closing file"},
    };
    for (const Step &s : steps) {
        capture();
        sim::clear_faults();
        sim::inject_fault(s.fault);
        Bytes buf = pattern(100);
        INT n = s.write ? e2prom_write(0x30, buf.data(), 100) : e2prom_read(0x30, buf.data(), 100);
        EXPECT_EQ(n, s.expected) << s.out;
        EXPECT_EQ(out(), s.out);
        EXPECT_TRUE(semaphore_free());
        EXPECT_EQ(sim::open_device_files(), 0u);
    }
}

TEST_F(E2promTest, WriteSplitsAtPageBoundariesAndReadSetsThePositionBeforeEachChunk) {
    Bytes data = pattern(100, 0x80), back(100);
    EXPECT_EQ(e2prom_write(0x30, data.data(), 100), 100);
    EXPECT_EQ(chip(0x30, 100), data);
    EXPECT_EQ(e2prom_read(0x30, back.data(), 100), 100);
    EXPECT_EQ(back, data);
    EXPECT_EQ(sim::i2c_log_text(), transfer_log(0x57));
    EXPECT_TRUE(out().empty());
}

class ClampTest : public E2promTest,
                  public ::testing::WithParamInterface<std::tuple<UINT16, UINT16, INT>> {};

TEST_P(ClampTest, RangeIsCutAt0x4000) {
    auto [address, length, expected] = GetParam();
    Bytes data = pattern(length, 1), back(length, 0);
    EXPECT_EQ(e2prom_write(address, data.data(), length), expected);
    EXPECT_EQ(e2prom_read(address, back.data(), length), expected);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + expected, data.begin()));
    for (const sim::I2cTransfer &t : sim::i2c_log()) {
        if (!t.read) {
            ASSERT_GE(t.data.size(), 2u);
            EXPECT_LT(((t.data[0] << 8) | t.data[1]) + t.data.size() - 2, 0x4001u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Edges, ClampTest,
                         ::testing::Values(std::tuple{0x3FF0, 100, 16}, std::tuple{0x4000, 100, 0},
                                           std::tuple{0x3FFF, 2, 1}, std::tuple{0xFFFF, 10, 0},
                                           std::tuple{0x0000, 0, 0}));

// The pause follows every chunk, the last one included; measured on the bus, not slept for.
TEST_F(E2promTest, WriteTimeRespectsThePauseAfterEveryChunk) {
    sim::eeprom_chip()->set_write_cycle(std::chrono::microseconds(9000));
    Bytes data = pattern(200);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(e2prom_write(0x30, data.data(), 200), 200);
    Clock::time_point end = Clock::now();
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 4u);  // 16 + 64 + 64 + 56
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_TRUE(log[i].acked) << i;
        EXPECT_GE((i + 1 < log.size() ? log[i + 1].at : end) - log[i].at, milliseconds(10)) << i;
    }
    EXPECT_GE(end - start, milliseconds(40));
    EXPECT_EQ(chip(0x30, 200), data);
}

struct FailureCase {
    const char *name;
    bool write;
    sim::FaultRule fault;
    INT expected;
    const char *out;
    const char *err;
};

void PrintTo(const FailureCase &c, std::ostream *os) {
    *os << c.name;
}

class DeviceFailureTest : public E2promTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DeviceFailureTest, ReportsCountsAndGivesTheSemaphoreBack) {
    const FailureCase &c = GetParam();
    Bytes buf = pattern(100);
    poke(0x30, buf);
    sim::inject_fault(c.fault);
    INT n = c.write ? e2prom_write(0x30, buf.data(), 100) : e2prom_read(0x30, buf.data(), 100);
    EXPECT_EQ(n, c.expected);
    EXPECT_EQ(out(), c.out);
    EXPECT_EQ(err(), c.err);
    EXPECT_TRUE(semaphore_free());
    EXPECT_EQ(sim::open_device_files(), 0u);
}

const char *const kOpen = "Error opening /dev/i2c-1\n";
const char *const kSelect = "Error requesting slave address 0x57 of device\n";
const char *const kClosed = "Close returned: \n: Input/output error\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, DeviceFailureTest, ::testing::Values(
    FailureCase{"WriteOpen", true, {FaultOp::Open, 1, ENOENT, -1, kBus}, 0, kOpen, ""},
    FailureCase{"WriteSelect", true, {FaultOp::Ioctl, 1, EIO, -1, kBus}, 0, kSelect, ""},
    FailureCase{"WriteShort", true, {FaultOp::Write, 2, EIO, 10, kBus}, 16,
                "Error writing EEPROM: write returned 10, instead of 66\n", ""},
    FailureCase{"WriteError", true, {FaultOp::Write, 1, EIO, -1, kBus}, 0,
                "Error writing EEPROM: write returned -1, instead of 18\n", ""},
    FailureCase{"WriteClose", true, {FaultOp::Close, 1, EIO, -1, kBus}, 100,
                "Error while closing file", kClosed},
    FailureCase{"ReadOpen", false, {FaultOp::Open, 1, ENOENT, -1, kBus}, 0, kOpen, ""},
    FailureCase{"ReadSelect", false, {FaultOp::Ioctl, 1, EIO, -1, kBus}, 0, kSelect, ""},
    FailureCase{"ReadPosition", false, {FaultOp::Write, 2, EIO, -1, kBus}, 64,
                "Error setting position to byte 112\n", ""},
    FailureCase{"ReadShort", false, {FaultOp::Read, 1, EIO, 5, kBus}, 0,
                "Error reading from EEPROM: fread returned 5, instead of 64\n", ""},
    FailureCase{"ReadClose", false, {FaultOp::Close, 1, EIO, -1, kBus}, 100,
                "Error while closing device", kClosed}),
    [](const auto &param_info) { return std::string(param_info.param.name); });
// clang-format on

TEST_F(E2promTest, NullBufferIsRefusedWithoutBusTraffic) {
    EXPECT_EQ(e2prom_read(0, nullptr, 4), 0);
    EXPECT_EQ(e2prom_write(0, nullptr, 4), 0);
    EXPECT_TRUE(sim::i2c_log().empty());
    EXPECT_TRUE(semaphore_free());
}

TEST_F(E2promTest, ResetWritesFFOverTheWholeDeviceAndFailsWhenAChunkIsLost) {
    sim::eeprom_chip()->fill(0x00);
    EXPECT_EQ(e2prom_reset(), 0);
    EXPECT_EQ(chip(0, 16384), Bytes(16384, 0xff));
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 256u);
    for (const sim::I2cTransfer &t : log) {
        EXPECT_EQ(t.data.size(), 66u);
    }
    sim::inject_fault({FaultOp::Write, 1, EIO, -1, kBus});
    EXPECT_EQ(e2prom_reset(), -1);
}

}  // namespace

}  // namespace bsp::test
