// Direct EEPROM access over /dev/i2c-1: chunking, the range cut at 0x4000, the write pauses
// measured on the bus, every failure path, and the driver-file path's failures.
#include <thread>

#include "e2prom_fixture.h"

namespace bsp::test {

namespace {

using DeviceTest = E2promTest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool semaphore_free() {
    int value = 0;
    return sem_getvalue(&e2prom, &value) == 0 && value == 1;
}

TEST_F(DeviceTest, WriteSplitsAtPageBoundariesWithAddressBytesInFront) {
    REQUIRE_DEFAULT_PROBE();
    std::vector<uint8_t> data = pattern(100, 0x80);
    EXPECT_EQ(e2prom_write(0x30, data.data(), 100), 100);
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{
                  msg('W', 0x57, concat({0x00, 0x30}, {data.begin(), data.begin() + 16})),
                  msg('W', 0x57, concat({0x00, 0x40}, {data.begin() + 16, data.begin() + 80})),
                  msg('W', 0x57, concat({0x00, 0x80}, {data.begin() + 80, data.end()}))}));
    EXPECT_EQ(sim::eeprom_chip()->peek(0x30, 100), data);
    EXPECT_TRUE(out().empty());
}

TEST_F(DeviceTest, ReadSetsThePositionBeforeEach64ByteChunk) {
    REQUIRE_DEFAULT_PROBE();
    std::vector<uint8_t> data = pattern(100, 7);
    sim::eeprom_chip()->poke(0x1230, data);
    std::vector<uint8_t> back(100);
    EXPECT_EQ(e2prom_read(0x1230, back.data(), 100), 100);
    EXPECT_EQ(back, data);
    EXPECT_EQ(
        sim::i2c_log_text(),
        (std::vector<std::string>{"W 57: 12 30", msg('R', 0x57, {data.begin(), data.begin() + 64}),
                                  "W 57: 12 70", msg('R', 0x57, {data.begin() + 64, data.end()})}));
}

struct ClampCase {
    UINT16 address;
    UINT16 length;
    INT expected;
};

void PrintTo(const ClampCase &c, std::ostream *os) {
    *os << "address " << c.address << " length " << c.length;
}

class ClampTest : public DeviceTest, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(ClampTest, RangeIsCutAt0x4000) {
    REQUIRE_DEFAULT_PROBE();
    const ClampCase &c = GetParam();
    std::vector<uint8_t> data = pattern(c.length, 1);
    EXPECT_EQ(e2prom_write(c.address, data.data(), c.length), c.expected);
    std::vector<uint8_t> back(c.length, 0);
    EXPECT_EQ(e2prom_read(c.address, back.data(), c.length), c.expected);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + c.expected, data.begin()));
    for (const sim::I2cTransfer &t : sim::i2c_log()) {
        if (!t.read) {
            ASSERT_GE(t.data.size(), 2u);
            EXPECT_LT(((t.data[0] << 8) | t.data[1]) + t.data.size() - 2, 0x4001u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Edges, ClampTest,
                         ::testing::Values(ClampCase{0x3FF0, 100, 16}, ClampCase{0x4000, 100, 0},
                                           ClampCase{0x3FFF, 2, 1}, ClampCase{0xFFFF, 10, 0},
                                           ClampCase{0x0000, 0, 0}));

// The pause follows every chunk, the last one included; measured on the bus, not slept for.
TEST_F(DeviceTest, WriteTimeRespectsThePauseAfterEveryChunk) {
    REQUIRE_DEFAULT_PROBE();
    sim::eeprom_chip()->set_write_cycle(std::chrono::microseconds(9000));
    std::vector<uint8_t> data = pattern(200);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(e2prom_write(0x30, data.data(), 200), 200);
    Clock::time_point end = Clock::now();
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 4u);  // 16 + 64 + 64 + 56
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_TRUE(log[i].acked) << i;
        Clock::time_point next = i + 1 < log.size() ? log[i + 1].at : end;
        EXPECT_GE(next - log[i].at, milliseconds(10)) << "after chunk " << i;
    }
    EXPECT_GE(end - start, milliseconds(40));
    EXPECT_EQ(sim::eeprom_chip()->peek(0x30, 200), data);
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

class DeviceFailureTest : public DeviceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DeviceFailureTest, ReportsCountsAndGivesTheSemaphoreBack) {
    REQUIRE_DEFAULT_PROBE();
    const FailureCase &c = GetParam();
    std::vector<uint8_t> data = pattern(100);
    sim::eeprom_chip()->poke(0x30, data);
    sim::inject_fault(c.fault);
    std::vector<uint8_t> buf = data;
    INT n = c.write ? e2prom_write(0x30, buf.data(), 100) : e2prom_read(0x30, buf.data(), 100);
    EXPECT_EQ(n, c.expected);
    EXPECT_EQ(out(), c.out);
    EXPECT_EQ(err(), c.err);
    EXPECT_TRUE(semaphore_free());
    EXPECT_EQ(sim::open_device_files(), 0u);
}

const char *const kBus = "/dev/i2c-1";
using sim::FaultOp;

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

TEST_F(DeviceTest, NullBufferIsRefusedWithoutBusTraffic) {
    REQUIRE_DEFAULT_PROBE();
    EXPECT_EQ(e2prom_read(0, nullptr, 4), 0);
    EXPECT_EQ(e2prom_write(0, nullptr, 4), 0);
    EXPECT_TRUE(sim::i2c_log().empty());
    EXPECT_TRUE(semaphore_free());
}

TEST_F(DeviceTest, ResetWritesFFOverTheWholeDevice) {
    REQUIRE_DEFAULT_PROBE();
    sim::eeprom_chip()->fill(0x00);
    EXPECT_EQ(e2prom_reset(), 0);
    EXPECT_EQ(sim::eeprom_chip()->peek(0, 16384), std::vector<uint8_t>(16384, 0xff));
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 256u);
    for (const sim::I2cTransfer &t : log) {
        EXPECT_EQ(t.data.size(), 66u);
    }
}

TEST_F(DeviceTest, ResetFailsWhenAChunkIsLost) {
    REQUIRE_DEFAULT_PROBE();
    sim::inject_fault({sim::FaultOp::Write, 1, EIO, -1, "/dev/i2c-1"});
    EXPECT_EQ(e2prom_reset(), -1);
}

// Accesses of several threads never interleave on the bus.
TEST_F(DeviceTest, ConcurrentReadsAreSerialised) {
    REQUIRE_DEFAULT_PROBE();
    sim::eeprom_chip()->poke(0, pattern(256));
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &good] {
            for (int i = 0; i < 5; ++i) {
                uint8_t buf[64];
                UINT16 at = static_cast<UINT16>(t * 64);
                good += e2prom_read(at, buf, 64) == 64 && buf[0] == at && buf[63] == at + 63;
            }
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    EXPECT_EQ(good.load(), 20);
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 40u);
    for (size_t i = 0; i < log.size(); i += 2) {
        EXPECT_FALSE(log[i].read);
        EXPECT_TRUE(log[i + 1].read);
        EXPECT_EQ(log[i + 1].data[0], log[i].data[1]);
    }
}

// The driver file's own failure paths, in one process that settled the driver method.
TEST_F(DeviceTest, DriverFileFailures) {
    REQUIRE_FRESH_PROCESS();
    sim::set_i2c_busy(1, 0x57, true);
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x57));
    sim::set_i2c_busy(1, 0x53, false);
    ASSERT_EQ(e2prom_i2c_addr_find(), 0);
    const std::string file = "/sys/bus/i2c/devices/1-0057/eeprom";
    std::vector<uint8_t> data = pattern(100);
    stdout_.reset();

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
        stdout_ = std::make_unique<StdoutCapture>();
        sim::clear_faults();
        sim::inject_fault(s.fault);
        std::vector<uint8_t> buf = data;
        INT n = s.write ? e2prom_write(0x30, buf.data(), 100) : e2prom_read(0x30, buf.data(), 100);
        EXPECT_EQ(n, s.expected) << s.out;
        EXPECT_EQ(out(), s.out);
        EXPECT_TRUE(semaphore_free());
        EXPECT_EQ(sim::open_device_files(), 0u);
        stdout_.reset();
    }
}

}  // namespace

}  // namespace bsp::test
