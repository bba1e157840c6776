// The EEPROM family. Finding the chip (the candidates 0x57 then 0x53, busy addresses and the
// kernel driver's file, a bus without the chip, the lazy start of the semaphore) and direct
// access over /dev/i2c-1: chunking, the range cut at 0x4000, the write pauses measured on the
// bus, and every failure path of both access methods. The layout: formatting, areas and data
// items byte for byte on the chip and on the bus, every result code in the situation that
// gives it, and page writes torn or lost under the fault plan, which the layout's checks then
// find.
//
// Each test starts from a fresh unit with standard output and error captured, and the
// library's probe settled on the default chip (0x57, direct access) with the bus log cleared.
// The probe's result lasts for the life of the process (the library offers no way back), so
// a ProbeTest, which needs its own probe outcome, runs only as the first EEPROM test of a
// process (CTest runs each case in a process of its own) and skips otherwise; an E2promTest
// skips after a ProbeTest in the same process.
#include <bsp_ctrl/e2prom.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {
Bytes pattern(size_t n, uint8_t first = 0) {
    Bytes v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// The bus log of writing pattern(100, 0x80) at 0x30 to `chip`, then reading it back: writes
// end at page boundaries, reads set the position before each chunk of 64 bytes.
std::vector<std::string> transfer_log(uint8_t chip) {
    Bytes d = pattern(100, 0x80);
    const std::string w = "W " + hex(&chip, 1) + ": ", r = "R " + hex(&chip, 1) + ": ";
    return {w + "00 30 " + hex(d.data(), 16),
            w + "00 40 " + hex(d.data() + 16, 64),
            w + "00 80 " + hex(d.data() + 80, 20),
            w + "00 30",
            r + hex(d.data(), 64),
            w + "00 70",
            r + hex(d.data() + 64, 36)};
}

bool semaphore_free() {
    int value = 0;
    return sem_getvalue(&e2prom, &value) == 0 && value == 1;
}

// One fault on the EEPROM's file, and what a write (or read) of 100 bytes at 0x30 returns and
// reports on standard output and standard error.
struct FailureCase {
    bool write;
    sim::FaultOp op;
    unsigned nth;
    long short_length;
    INT expected;
    std::string out;
    std::string err = "";
};

class E2promTest : public SimTest {
  protected:
    explicit E2promTest(bool own_probe = false) : own_probe_(own_probe) {}

    void SetUp() override {
        SimTest::SetUp();
        static int tests_in_process = 0;
        static bool probe_altered = false;
        const bool first = ++tests_in_process == 1;
        capture();
        if (own_probe_) {
            if (!first) {
                GTEST_SKIP() << "needs a process of its own: the probe result lasts for it";
            }
            probe_altered = true;
            return;
        }
        if (probe_altered) {
            GTEST_SKIP() << "an earlier test of this process settled another probe outcome";
        }
        ASSERT_EQ(e2prom_i2c_addr_find(), 0);  // the default chip answers
        sim::clear_i2c_log();
        capture();
    }
    // Captures anew, dropping what was written so far.
    void capture() {
        stdout_.emplace();
        stderr_.emplace();
    }
    std::string out() { return stdout_->text(); }
    std::string err() { return stderr_->text(); }
    // Each case on `path` (with EIO), the semaphore given back and no file left open.
    void expect_failures(const std::vector<FailureCase> &cases, const std::string &path) {
        for (const FailureCase &c : cases) {
            // a write cut short leaves the chip in its write cycle
            ASSERT_TRUE(wait_until([] { return !sim::eeprom_chip()->busy(); }));
            capture();
            sim::clear_faults();
            sim::inject_fault({c.op, c.nth, EIO, c.short_length, path});
            Bytes buf = pattern(100);
            poke(0x30, buf);
            INT n =
                c.write ? e2prom_write(0x30, buf.data(), 100) : e2prom_read(0x30, buf.data(), 100);
            EXPECT_EQ(n, c.expected) << c.out;
            EXPECT_EQ(out(), c.out);
            EXPECT_EQ(err(), c.err) << c.out;
            EXPECT_TRUE(semaphore_free()) << c.out;
            EXPECT_EQ(sim::open_device_files(), 0u) << c.out;
        }
    }
    static Bytes chip(size_t at, size_t n) { return sim::eeprom_chip()->peek(at, n); }
    static void poke(size_t at, const Bytes &bytes) { sim::eeprom_chip()->poke(at, bytes); }

    std::optional<StdoutCapture> stdout_;
    std::optional<StderrCapture> stderr_;
    const bool own_probe_;
};

class ProbeTest : public E2promTest {
  protected:
    ProbeTest() : E2promTest(true) {}
};

using enum sim::FaultOp;
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
    // The driver file's own failure paths.
    const std::string file = "/sys/bus/i2c/devices/1-0053/eeprom";
    const std::string open = "Error opening " + file + "\n", closing = "Error while closing file";
    const std::string position = "Error setting position to byte 48\n";
    expect_failures(
        {
            {true, Open, 1, -1, 0, open},
            {false, Open, 1, -1, 0, open},
            {true, Lseek, 1, -1, 0, position},
            {false, Lseek, 1, -1, 0, position},
            {true, Write, 2, 3, 16, "Error writing EEPROM: write returned 3, instead of 64\n"},
            {false, Read, 2, 0, 64, "Error reading from EEPROM: fread returned 0, instead of 36\n"},
            {true, Close, 1, -1, 100, closing, "Close returned: \n: Input/output error\n"},
            {false, Close, 1, -1, 100, closing, "Close returned: \n: Input/output error\n"},
        },
        file);
}

// A failed probe settles nothing: the next access probes again, until a chip answers.
TEST_F(ProbeTest, FailedProbesSettleNothing) {
    // A selection failure other than busy ends the probe. (A bus that does not open fails
    // the same selection, on descriptor -1.)
    sim::inject_fault({Ioctl, 1, EIO, -1, kBus});
    EXPECT_EQ(e2prom_i2c_addr_find(), -1);
    EXPECT_EQ(err(), "Error: Could not set address to 0x57: Input/output error\n");
    EXPECT_EQ(sim::open_device_files(), 0u);
    EXPECT_TRUE(sim::i2c_log_text().empty());
    // An empty bus is reported and every access probes again.
    capture();
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
    // Nothing at 0x57, the chip at 0x53: the probe falls back to it.
    auto chip = move_eeprom_to_0x53();
    sim::clear_i2c_log();
    capture();
    EXPECT_EQ(e2prom_write(0x0102, &byte, 1), 1);
    EXPECT_EQ(out(), "Found eeprom on bus /dev/i2c-1, addr: 0x53\n");
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"R 57: nack", "R 53: ff", "W 53: 01 02 42"}));
    EXPECT_EQ(chip->peek(0x102, 1), Bytes{0x42});
}

// A NULL buffer is refused without bus traffic; writes end at page boundaries and reads set
// the position before each chunk; the range is cut at 0x4000, so no write reaches beyond the
// chip; a reset writes 0xFF over the whole chip in page writes and fails when one is lost.
TEST_F(E2promTest, ChunksTheRangeCutAt0x4000AndReset) {
    EXPECT_EQ(e2prom_read(0, nullptr, 4), 0);
    EXPECT_EQ(e2prom_write(0, nullptr, 4), 0);
    EXPECT_TRUE(semaphore_free());
    Bytes data = pattern(100, 0x80), back(100);
    EXPECT_EQ(e2prom_write(0x30, data.data(), 100), 100);
    EXPECT_EQ(chip(0x30, 100), data);
    EXPECT_EQ(e2prom_read(0x30, back.data(), 100), 100);
    EXPECT_EQ(back, data);
    EXPECT_EQ(sim::i2c_log_text(), transfer_log(0x57));
    EXPECT_TRUE(out().empty());
    const std::tuple<UINT16, UINT16, INT> edges[] = {
        {0x3FF0, 100, 16}, {0x4000, 100, 0}, {0x3FFF, 2, 1}, {0xFFFF, 10, 0}, {0x0000, 0, 0}};
    for (auto [address, length, expected] : edges) {
        sim::clear_i2c_log();
        Bytes edge = pattern(length, 1), edge_back(length, 0);
        EXPECT_EQ(e2prom_write(address, edge.data(), length), expected) << address;
        EXPECT_EQ(e2prom_read(address, edge_back.data(), length), expected) << address;
        EXPECT_TRUE(std::equal(edge_back.begin(), edge_back.begin() + expected, edge.begin()))
            << address;
        for (const sim::I2cTransfer &t : sim::i2c_log()) {
            ASSERT_TRUE(t.read || t.data.size() >= 2u);
            EXPECT_TRUE(t.read || ((t.data[0] << 8) | t.data[1]) + t.data.size() - 2 < 0x4001u);
        }
    }
    sim::eeprom_chip()->fill(0x00);
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_reset(), 0);
    EXPECT_EQ(chip(0, 16384), Bytes(16384, 0xff));
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 256u);
    for (const sim::I2cTransfer &t : log) {
        EXPECT_EQ(t.data.size(), 66u);
    }
    sim::inject_fault({Write, 1, EIO, -1, kBus});
    EXPECT_EQ(e2prom_reset(), -1);
}

TEST_F(E2promTest, DeviceFailuresAreReportedAndCounted) {
    const std::string open = "Error opening /dev/i2c-1\n",
                      closed = "Close returned: \n: Input/output error\n";
    const std::string select = "Error requesting slave address 0x57 of device\n";
    expect_failures(
        {
            {true, Open, 1, -1, 0, open},
            {true, Ioctl, 1, -1, 0, select},
            {true, Write, 2, 10, 16, "Error writing EEPROM: write returned 10, instead of 66\n"},
            {true, Write, 1, -1, 0, "Error writing EEPROM: write returned -1, instead of 18\n"},
            {true, Close, 1, -1, 100, "Error while closing file", closed},
            {false, Open, 1, -1, 0, open},
            {false, Ioctl, 1, -1, 0, select},
            {false, Write, 2, -1, 64, "Error setting position to byte 112\n"},
            {false, Read, 1, 5, 0, "Error reading from EEPROM: fread returned 5, instead of 64\n"},
            {false, Close, 1, -1, 100, "Error while closing device", closed},
        },
        kBus);
}

using sim::BusFault;

uint8_t sum(const Bytes &v) {
    return static_cast<uint8_t>(std::accumulate(v.begin(), v.end(), 0u));
}

class LayoutTest : public E2promTest {
  protected:
    // A formatted EEPROM with area 1 of 1000 bytes at 0x40 holding item 7 = "hello" at 0x140.
    void make_item() {
        ASSERT_EQ(e2prom_init(), 0);
        ASSERT_EQ(e2prom_area_init(1, 1000), 0);
        ASSERT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);
        sim::clear_i2c_log();
    }

    // The writes of data on the bus (position-only writes left out).
    static std::vector<std::string> writes() {
        std::vector<std::string> out;
        for (const sim::I2cTransfer &t : sim::i2c_log()) {
            if (!t.read && t.data.size() > 2) {
                out.push_back(sim::to_string(t));
            }
        }
        return out;
    }

    // The page write after the next `skip` ones is torn at `at`.
    static void tear_next(uint32_t at, uint64_t skip = 0) {
        sim::fault_plan_at(BusFault::EepromTear,
                           sim::fault_plan_events(BusFault::EepromTear) + 1 + skip, at);
    }

    // A size query's size, or its result code when it fails.
    int sized(INT rc) const { return rc != 0 ? rc : size_; }

    UINT8 hello_[5] = {'h', 'e', 'l', 'l', 'o'};
    UINT8 world_[5] = {'w', 'o', 'r', 'l', 'd'};
    UINT16 size_ = 0;
    Bytes buf_ = Bytes(256);
};

TEST_F(LayoutTest, InitWritesTheEmptyHeaderOnceAndAreaInitEntryTerminatorCheckAndAreaHeader) {
    EXPECT_EQ(e2prom_init(), 0);
    EXPECT_EQ(writes(), std::vector<std::string>{"W 57: 00 00 00 00 00 3e 00 00 3e"});
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_init(), -1);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(sized(e2prom_get_header_size(&size_)), 6);
    // An area: its entry, terminator and check byte, then its own header.
    EXPECT_EQ(e2prom_area_init(1, 1000), 0);
    // Entry (id 1, size 1000, at 0x40), terminator, check byte.
    EXPECT_EQ(writes(), (std::vector<std::string>{"W 57: 00 05 01 00 00 03 e8 00 00 00 40",
                                                  "W 57: 00 05 01 00 00 03 e8 00 00 00 40 00 6a",
                                                  "W 57: 00 40 00 00 03 e8 00 00 eb"}));
    EXPECT_EQ(e2prom_area_init(2, 100), 0);
    EXPECT_EQ(chip(14, 9), unhex("02 00 00 00 64 00 00 04 28"));
    EXPECT_EQ(sized(e2prom_get_header_size(&size_)), 24);
    EXPECT_EQ(sized(e2prom_get_area_header_size(2, &size_)), 6);
    Bytes header(64);
    EXPECT_EQ(e2prom_header_read(header.data()), 0);
    EXPECT_EQ(header, chip(0, 64));
}

TEST_F(LayoutTest, AreaLimits) {
    ASSERT_EQ(e2prom_init(), 0);
    EXPECT_EQ(e2prom_area_init(1, 0x3e00 - 0x40 + 1), -11);
    EXPECT_EQ(e2prom_area_init(0, 10), -6);
    poke(0x40, {0x00, 0x00});  // an area header there already: the new entry stays
    EXPECT_EQ(e2prom_area_init(1, 16), -6);
    EXPECT_EQ(chip(5, 1), Bytes{0x01});
    for (UINT8 id = 2; id <= 6; ++id) {
        ASSERT_EQ(e2prom_area_init(id, 10), 0) << int(id);
    }
    EXPECT_EQ(e2prom_area_init(6, 10), -6);
    EXPECT_EQ(e2prom_area_init(7, 10), -5);
    EXPECT_EQ(sized(e2prom_get_header_size(&size_)), 60);
}

TEST_F(LayoutTest, NewItemCostsFourWritesReadsBackAndIsRewrittenInPlace) {
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 1000), 0);
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);
    EXPECT_EQ(writes(),
              (std::vector<std::string>{
                  "W 57: 00 44 00 07 00 06 01 00",                    // the entry
                  "W 57: 00 44 00 07 00 06 01 00 00 00 f9",           // + terminator, check
                  "W 57: 01 40 68 65 6c 6c 6f", "W 57: 01 45 14"}));  // data, its check
    EXPECT_EQ(sized(e2prom_get_data_size(1, 7, &size_)), 5);
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), 0);
    EXPECT_EQ(buf_, chip(0x40, 256));
    sim::clear_i2c_log();  // the same size again overwrites in place; another size is refused
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), 0);
    EXPECT_EQ(writes(), (std::vector<std::string>{"W 57: 01 40 77 6f 72 6c 64", "W 57: 01 45 28"}));
    EXPECT_EQ(e2prom_data_write(1, 7, 4, world_), -15);
    uint8_t second[] = {1, 2, 3};
    EXPECT_EQ(e2prom_data_write(1, 8, 3, second), 0);
    EXPECT_EQ(chip(0x4a, 6), unhex("00 08 00 04 01 06"));
}

TEST_F(LayoutTest, ItemMustEndWithinTheAreaAndAreasWithinTheSpace) {
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 300), 0);
    EXPECT_EQ(e2prom_data_write(1, 1, 44, buf_.data()), -15);
    EXPECT_EQ(e2prom_data_write(1, 1, 43, buf_.data()), 0);
    ASSERT_EQ(e2prom_area_init(2, 300), 0);
    EXPECT_EQ(e2prom_data_write(2, 3, 0, buf_.data()), 0);  // an empty item reads back
    EXPECT_EQ(sized(e2prom_get_data_size(2, 3, &size_)), 0);
    EXPECT_EQ(e2prom_data_read(2, 3, buf_.data()), 0);
    EXPECT_EQ(e2prom_area_init(3, 0x3e00 - 0x40 - 600), 0);  // an area filling the space fits
    EXPECT_EQ(e2prom_area_init(4, 1), -11);
}

TEST_F(LayoutTest, LookupFailuresAndAlteredBytes) {
    EXPECT_EQ(e2prom_header_read(buf_.data()), -2);
    EXPECT_EQ(e2prom_area_init(1, 10), -2);
    EXPECT_EQ(e2prom_data_read(1, 1, buf_.data()), -2);
    make_item();
    EXPECT_EQ(e2prom_area_header_read(9, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_read(9, 7, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_write(9, 7, 1, buf_.data()), -7);
    EXPECT_EQ(e2prom_get_area_header_size(9, &size_), -7);
    EXPECT_EQ(e2prom_get_data_size(1, 99, &size_), -12);
    EXPECT_EQ(e2prom_data_read(1, 99, buf_.data()), -12);
    // Ids 0 name terminators, never an area or an item.
    EXPECT_EQ(e2prom_data_read(0, 7, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_read(1, 0, buf_.data()), -12);
    EXPECT_EQ(e2prom_data_write(1, 0, 1, buf_.data()), -12);
    // Altered bytes give their check errors; sizes verify no check byte.
    uint8_t item[5];
    poke(0x142, {'L'});
    EXPECT_EQ(e2prom_data_read(1, 7, item), -14);
    EXPECT_EQ(std::string(item, item + 5), "heLlo");
    poke(15, {static_cast<uint8_t>(chip(15, 1)[0] ^ 0x01)});
    EXPECT_EQ(e2prom_header_read(buf_.data()), -4);
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -4);
    EXPECT_EQ(e2prom_data_read(1, 7, item), -4);
    poke(15, {static_cast<uint8_t>(chip(15, 1)[0] ^ 0x01)});
    poke(0x4c, {static_cast<uint8_t>(chip(0x4c, 1)[0] + 1)});
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -9);
    EXPECT_EQ(e2prom_data_read(1, 7, item), -9);
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size_), 0);
    poke(0x40, {0xff, 0xff});
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -7);
}

TEST_F(LayoutTest, SizeZeroEntryMissingTerminatorsAndFullAreaHeader) {
    make_item();
    Bytes zero = unhex("00 00 03 e8 00 07 00 00 01 00 00 00");  // item 7 of stored size 0
    zero.push_back(sum(zero));
    poke(0x40, zero);
    Bytes buf(8, 0x5a);
    EXPECT_EQ(e2prom_data_read(1, 7, buf.data()), -14);
    EXPECT_EQ(buf, Bytes(8, 0x5a));
    size_ = 0x1234;
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size_), -14);
    EXPECT_EQ(size_, 0x1234);
    // 41 entries fill the area header: its terminator lies at offset 250.
    Bytes area = {0x00, 0x00, 0x03, 0xe8};
    for (uint8_t id = 1; id <= 41; ++id) {
        area.insert(area.end(), {0x00, id, 0x00, 0x01, 0x01, 0x00});
    }
    area.insert(area.end(), {0x00, 0x00});
    area.push_back(sum(area));
    poke(0x40, area);
    EXPECT_EQ(sized(e2prom_get_area_header_size(1, &size_)), 252);
    EXPECT_EQ(e2prom_data_write(1, 42, 1, hello_), -10);
    poke(0x40 + 250, {0x00, 0x63});
    EXPECT_EQ(e2prom_get_area_header_size(1, &size_), -8);
    poke(5, Bytes(59, 0x01));
    EXPECT_EQ(e2prom_get_header_size(&size_), -3);
    EXPECT_EQ(e2prom_area_init(2, 10), -3);
}

// Every function turns a device that returns nothing into -13, and a NULL buffer too.
TEST_F(LayoutTest, UnreadableDeviceAndNullBuffersGiveMinus13) {
    static UINT8 *buf;
    static UINT16 *size;
    const std::function<INT()> calls[] = {
        [] { return e2prom_header_read(buf); },
        [] { return e2prom_area_header_read(1, buf); },
        [] { return e2prom_get_header_size(size); },
        [] { return e2prom_get_area_header_size(1, size); },
        [] { return e2prom_data_read(1, 7, buf); },
        [] { return e2prom_data_write(1, 7, 5, buf); },
        [] { return e2prom_get_data_size(1, 7, size); },
        [] { return e2prom_area_init(2, 10); },
        [] { return e2prom_init(); },
    };
    make_item();
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(calls[i](), -13) << "NULL, call " << i;
    }
    buf = buf_.data();
    size = &size_;
    sim::inject_fault({sim::FaultOp::Read, 0, EIO, -1, "/dev/i2c-1"});
    for (size_t i = 0; i < std::size(calls); ++i) {
        EXPECT_EQ(calls[i](), -13) << "unreadable, call " << i;
    }
}

TEST_F(LayoutTest, TornDataAreaHeaderOrHeaderEntryGivesItsCheckError) {
    make_item();
    tear_next(2);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), 0);       // writes are not verified
    EXPECT_EQ(chip(0x140, 6), unhex("77 6f 6c 6c 6f 28"));  // "wollo", check of "world"
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -14);
    EXPECT_EQ(Bytes(buf_.begin(), buf_.begin() + 5), unhex("77 6f 6c 6c 6f"));
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), 0);  // rewriting mends it
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), 0);
    tear_next(6, 2);  // the area header write loses its check byte
    EXPECT_EQ(e2prom_area_init(2, 1000), 0);
    EXPECT_EQ(chip(0x428, 7), unhex("00 00 03 e8 00 00 ff"));
    EXPECT_EQ(e2prom_area_header_read(2, buf_.data()), -9);
    EXPECT_EQ(e2prom_data_write(2, 7, 5, hello_), 0);  // a new entry rewrites the check byte
    EXPECT_EQ(e2prom_area_header_read(2, buf_.data()), 0);
    tear_next(10, 1);  // the entry, terminator and check byte write keeps all but the check
    EXPECT_EQ(e2prom_area_init(3, 100), 0);
    EXPECT_EQ(chip(32, 2), unhex("00 ff"));
    EXPECT_EQ(e2prom_header_read(buf_.data()), -4);
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -4);
    EXPECT_EQ(sized(e2prom_get_header_size(&size_)), 33);  // does not look at the check byte
}

TEST_F(LayoutTest, BusyChipLosesTheCheckByteWriteAndReadsFailUntilItAnswers) {
    make_item();
    sim::fault_plan_busy_time(std::chrono::seconds(2));
    sim::fault_plan_at(BusFault::EepromBusy, sim::fault_plan_events(BusFault::EepromBusy) + 1);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), -13);  // the refused check byte is reported
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -13);
    EXPECT_EQ(out(),
              "Error writing EEPROM: write returned -1, instead of 3\n"
              "Error setting position to byte 0\n");
    ASSERT_TRUE(wait_until([] { return !sim::eeprom_chip()->busy(); }));
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -14);  // the check byte is still of "hello"
    EXPECT_EQ(Bytes(buf_.begin(), buf_.begin() + 5), Bytes(world_, world_ + 5));
}

}  // namespace
}  // namespace bsp::test
