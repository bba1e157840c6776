// I2C device access on the simulated buses: the SFP PHY's wire format and its failure
// messages, block reads and writes with their data addresses and pauses, forced selection,
// and the semaphore given back on every path.
#include <bsp_ctrl/i2cdev.h>

#include <atomic>
#include <thread>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr uint8_t kChip = 0x20;
const char *const kBus = "/dev/i2c-1";
using enum sim::FaultOp;

class I2cTest : public SimTest {
  protected:
    std::shared_ptr<sim::RegisterChip> add_chip(size_t size, unsigned addr_len) {
        auto chip = std::make_shared<sim::RegisterChip>(size, addr_len);
        sim::add_i2c_chip(1, kChip, chip);
        return chip;
    }

    static bool semaphore_free() {
        int value = 0;
        return sem_getvalue(&i2cdev, &value) == 0 && value == 1;
    }

    static std::string log() { return sim::log_text(DBG_SFP_INDEX); }
    static std::vector<std::string> bus() { return sim::i2c_log_text(1); }
};

TEST_F(I2cTest, SfpPhyOnTheWireWhileClaimedAndSilent) {
    sim::sfp_phy_chip()->set_reg(2, 0x1234);
    UINT16 value = 0;
    EXPECT_EQ(i2c_read_sfp_phy(0, 2, &value), 0);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(i2c_write_sfp_phy(0, 0, 0x8000), 0);
    EXPECT_EQ(sim::sfp_phy_chip()->reg(0), 0x8000);
    EXPECT_EQ(bus(), (std::vector<std::string>{"W 56: 02", "R 56: 12 34", "W 56: 00 80 00"}));
    EXPECT_TRUE(log().empty());
    EXPECT_TRUE(semaphore_free());
    // A kernel driver's claim does not keep the PHY out; a PHY that does not answer fails
    // with a warning (level 1) and an error (level 0).
    sim::set_i2c_busy(1, 0x56, true);
    EXPECT_EQ(i2c_read_sfp_phy(0, 1, &value), 0);
    EXPECT_EQ(value, 0x7949);
    sim::clear_i2c_log();
    sim::remove_i2c_chip(1, 0x56);
    EXPECT_EQ(i2c_read_sfp_phy(0, 3, &value), -ENXIO);
    std::vector<uint32_t> levels;
    for (const sim::LogRecord &r : sim::log_records()) {
        levels.push_back(r.level);
    }
    EXPECT_EQ(levels, (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(bus(), (std::vector<std::string>{"W 56: nack", "W 56: nack"}));
}

// One fault on the bus device (operation, which call, error, short transfer length) and what
// a call then returns and reports: the SFP PHY calls in the debug log (with the error
// number), the block transfers on standard error. The open and the selection are shared by
// a read and a write of the PHY: one of each is enough. Those of the block transfers give -1
// and -2, as the register helpers' test sees for a missing bus and a bad address (and the
// fault matrix for a failing open or selection of a block write).
enum Call { kPhyRead, kPhyWrite, kBufRead, kBufWrite };

struct FailureCase {
    Call call;
    sim::FaultOp op;
    unsigned nth;
    int error;
    long short_length;
    int expected;
    const char *text;
};

class Failure : public I2cTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, IsReportedAndGivesTheSemaphoreBack) {
    const FailureCase &c = GetParam();
    add_chip(256, 1);
    sim::inject_fault({c.op, c.nth, c.error, c.short_length, kBus});
    UINT16 value = 0;
    Bytes buf(8, 0x11);
    StderrCapture err;
    int rc = c.call == kPhyRead    ? i2c_read_sfp_phy(0, 2, &value)
             : c.call == kPhyWrite ? i2c_write_sfp_phy(0, 2, 0x1234)
             : c.call == kBufRead  ? i2c_read_buf(1, kChip, 0, 1, buf.data(), 8, 4)
                                   : i2c_write_buf(1, kChip, 0, 1, buf.data(), 8, 4);
    EXPECT_EQ(rc, c.expected);
    EXPECT_EQ(c.call <= kPhyWrite ? log() : err.text(), c.text);
    EXPECT_TRUE(semaphore_free());
    EXPECT_EQ(sim::open_device_files(), 0u);
}

const char *const kClosed = "Close returned: \n: Input/output error\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, Failure, ::testing::Values(
    FailureCase{kPhyRead, Open, 1, ENOENT, -1, -ENOENT,
                "[SFP_DEV] Error 0x2 (No such file or directory) opening device /dev/i2c-1\n"},
    FailureCase{kPhyWrite, Ioctl, 1, EINVAL, -1, -EINVAL, "[SFP_DEV] Error 0x16 (Invalid "
                "argument) requesting slave address 0x56 of i2c device\n"},
    FailureCase{kPhyRead, Write, 1, EIO, -1, 0, "[SFP_DEV] Warning: First try to set "
                "DATA-ADDRESS 0x2 failed (error 0x5 Input/output error)\n"},
    FailureCase{kPhyRead, Write, 0, ENXIO, -1, -ENXIO, "[SFP_DEV] Warning: First try to set "
                "DATA-ADDRESS 0x2 failed (error 0x6 No such device or address)\n[SFP_DEV] Error "
                "0x6 (No such device or address) while setting DATA-ADDRESS 0x2\n"},
    FailureCase{kPhyRead, Write, 0, EIO, 0, -EIO, "[SFP_DEV] Warning: First try to set "
                "DATA-ADDRESS 0x2 failed (error 0x5 Input/output error)\n[SFP_DEV] Error 0x5 "
                "(Input/output error) while setting DATA-ADDRESS 0x2\n"},
    FailureCase{kPhyRead, Read, 1, EIO, 1, -EIO,
                "[SFP_DEV] Error 0x5 (Input/output error) while reading SFP PHY\n"},
    FailureCase{kPhyRead, Close, 1, EIO, -1, -EIO,
                "[SFP_DEV] Error 0x5 (Input/output error) while closing device\n"},
    FailureCase{kPhyWrite, Write, 1, EIO, 2, -EIO,
                "[SFP_DEV] Error 0x5 (Input/output error) while writing SFP MONITOR\n"},
    FailureCase{kPhyWrite, Write, 1, EREMOTEIO, -1, -EREMOTEIO,
                "[SFP_DEV] Error 0x79 (Remote I/O error) while writing SFP MONITOR\n"},
    FailureCase{kPhyWrite, Close, 1, EBADF, -1, -EBADF,
                "[SFP_DEV] Error 0x9 (Bad file descriptor) while closing device\n"},
    FailureCase{kBufRead, Write, 2, EIO, -1, -3, ""},
    FailureCase{kBufRead, Read, 2, EIO, 1, 4, ""},
    FailureCase{kBufWrite, Write, 2, EIO, -1, 4, ""},
    FailureCase{kBufWrite, Write, 1, EIO, 3, 0, ""},
    FailureCase{kBufRead, Close, 1, EIO, -1, 8, kClosed},
    FailureCase{kBufWrite, Close, 1, EIO, -1, 8, kClosed}));
// clang-format on

// Two address bytes (an address length above 2 counts as 2), one, or none (the chip's own
// pointer); a block length of 0 reads all in one block; a write of length 0 writes one byte.
TEST_F(I2cTest, BlockTransfersSendTheDataAddressBeforeEachBlock) {
    auto chip = add_chip(0x200, 2);
    Bytes data = unhex("40 41 42 43 44 45 46 47 48 49"), buf(10);
    chip->poke(0x100, data);
    EXPECT_EQ(i2c_read_buf(1, kChip, 0x0100, 2, buf.data(), 10, 4), 10);
    EXPECT_EQ(buf, data);
    EXPECT_EQ(i2c_read_buf(1, kChip, 0x0102, 3, buf.data(), 3, 0), 3);
    EXPECT_EQ(i2c_write_buf(1, kChip, 0x0123, 7, data.data(), 0, 0), 1);
    EXPECT_EQ(bus(), (std::vector<std::string>{"W 20: 01 00", "R 20: 40 41 42 43", "W 20: 01 04",
                                               "R 20: 44 45 46 47", "W 20: 01 08", "R 20: 48 49",
                                               "W 20: 01 02", "R 20: 42 43 44", "W 20: 01 23 40"}));
    sim::clear_i2c_log();
    sim::remove_i2c_chip(1, kChip);
    chip = add_chip(256, 1);
    chip->poke(0, unhex("00 01 02 03 04 05"));
    chip->poke(0xff, Bytes{0xff});
    EXPECT_EQ(i2c_read_buf(1, kChip, 0x1ff, 0, buf.data(), 6, 3), 6);
    EXPECT_EQ(i2c_read_buf(1, kChip, 0x1ff, 1, buf.data(), 2, 0), 2);
    EXPECT_EQ(i2c_read_buf(1, kChip, 0, 0, buf.data(), 0, 0), 0);
    EXPECT_EQ(bus(), (std::vector<std::string>{"R 20: 00 01 02", "R 20: 03 04 05", "W 20: ff",
                                               "R 20: ff 00"}));
    EXPECT_TRUE(semaphore_free());
}

TEST_F(I2cTest, WriteBufPausesAfterEveryBlock) {
    auto chip = add_chip(256, 1);
    Bytes data = {0xb0, 0xb1, 0xb2, 0xb3, 0xb4};
    EXPECT_EQ(i2c_write_buf(1, kChip, 0x10, 1, data.data(), 5, 2), 5);
    Clock::time_point end = Clock::now();
    EXPECT_EQ(bus(), (std::vector<std::string>{"W 20: 10 b0 b1", "W 20: 12 b2 b3", "W 20: 14 b4"}));
    std::vector<sim::I2cTransfer> log = sim::i2c_log();
    ASSERT_EQ(log.size(), 3u);
    for (size_t i = 0; i < log.size(); ++i) {  // the last block's pause ends the call
        Clock::time_point next = i + 1 < log.size() ? log[i + 1].at : end;
        EXPECT_GE(next - log[i].at, milliseconds(10)) << "after block " << i;
    }
    EXPECT_EQ(chip->peek(0x10, 5), data);
}

// The register helpers; a missing chip fails at the data address, a bad address or bus
// before; NULL buffers are refused without bus traffic.
TEST_F(I2cTest, RegisterHelpersAndRefusedTransfers) {
    auto chip = add_chip(256, 1);
    EXPECT_EQ(i2c_write_reg(1, kChip, 0x05, 1, 0xab), 0);
    EXPECT_EQ(i2c_read_reg(1, kChip, 0x05, 1), 0xab);
    EXPECT_EQ(bus(), (std::vector<std::string>{"W 20: 05 ab", "W 20: 05", "R 20: ab"}));
    sim::remove_i2c_chip(1, kChip);
    EXPECT_EQ(i2c_write_reg(1, kChip, 0x05, 1, 0xcd), 0);
    EXPECT_EQ(i2c_read_reg(1, kChip, 0x05, 1), 0);
    EXPECT_EQ(i2c_read_reg(7, kChip, 0x05, 1), 0);  // no such bus
    EXPECT_TRUE(semaphore_free());
    uint8_t buf[4] = {};
    EXPECT_EQ(i2c_read_buf(1, 0x33, 0, 1, buf, 4, 0), -3);
    EXPECT_EQ(i2c_write_buf(1, 0x33, 0, 1, buf, 4, 0), 0);
    EXPECT_EQ(i2c_read_buf(1, 0x80, 0, 1, buf, 4, 0), -2);  // not a 7-bit address
    EXPECT_EQ(i2c_read_buf(9, 0x20, 0, 1, buf, 4, 0), -1);  // no such bus
    add_chip(256, 1);
    sim::clear_i2c_log();
    EXPECT_EQ(i2c_read_sfp_phy(0, 2, nullptr), -EFAULT);
    EXPECT_EQ(i2c_read_buf(1, kChip, 0, 1, nullptr, 4, 0), -1);
    EXPECT_EQ(i2c_write_buf(1, kChip, 0, 1, nullptr, 0, 0), -1);
    EXPECT_EQ(i2c_read_buf(1, kChip, 0, 1, nullptr, 0, 0), 0);
    EXPECT_TRUE(bus().empty());
    EXPECT_TRUE(semaphore_free());
}

TEST_F(I2cTest, HostHoldingTheSemaphoreKeepsTransfersOut) {
    add_chip(256, 1);
    EXPECT_EQ(i2c_sem_wait(), 0);
    std::atomic<bool> done{false};
    std::thread t([&] {
        i2c_read_reg(1, kChip, 0, 1);
        done = true;
    });
    EXPECT_FALSE(wait_until([&] { return done.load(); }, milliseconds(50)));
    EXPECT_TRUE(bus().empty());
    EXPECT_EQ(i2c_sem_post(), 0);
    EXPECT_TRUE(wait_until([&] { return done.load(); }));
    t.join();
    EXPECT_EQ(bus().size(), 2u);
}

}  // namespace

}  // namespace bsp::test
