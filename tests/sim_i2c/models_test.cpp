// The simulated I2C bus, its chips, the EEPROM driver's file and the MTD flash behave like
// the real parts, so that faults of the library show.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-user.h>

#include <cstdlib>
#include <filesystem>

#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using sim::EepromChip;

class ModelTest : public SimTest {
  protected:
    void TearDown() override {
        for (int fd : fds_) {
            ::close(fd);
        }
        SimTest::TearDown();
    }

    int open_dev(const std::string &path, int flags = O_RDWR) {
        int fd = ::open(path.c_str(), flags);
        if (fd >= 0) {
            fds_.push_back(fd);
        }
        return fd;
    }

    int bus_with(uint8_t addr) {
        int fd = open_dev("/dev/i2c-1");
        EXPECT_EQ(::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(addr)), 0);
        return fd;
    }

    std::vector<int> fds_;
};

TEST_F(ModelTest, EepromWriteWrapsInsideItsPage) {
    int fd = bus_with(0x57);
    std::vector<uint8_t> msg = {0x00, 0x7c};
    for (uint8_t i = 0; i < 8; ++i) {
        msg.push_back(static_cast<uint8_t>(0xa0 + i));
    }
    ASSERT_EQ(::write(fd, msg.data(), msg.size()), 10);
    auto chip = sim::eeprom_chip();
    EXPECT_EQ(chip->peek(0x7c, 4), (std::vector<uint8_t>{0xa0, 0xa1, 0xa2, 0xa3}));
    EXPECT_EQ(chip->peek(0x40, 4), (std::vector<uint8_t>{0xa4, 0xa5, 0xa6, 0xa7}));
    EXPECT_EQ(chip->peek(0x80, 1), std::vector<uint8_t>{0xff});
}

TEST_F(ModelTest, EepromAnswersNothingDuringItsWriteCycle) {
    auto chip = sim::eeprom_chip();
    chip->set_write_cycle(std::chrono::milliseconds(200));
    int fd = bus_with(0x57);
    uint8_t msg[3] = {0x00, 0x10, 0x42};
    ASSERT_EQ(::write(fd, msg, 3), 3);
    EXPECT_TRUE(chip->busy());
    uint8_t b = 0;
    errno = 0;
    EXPECT_EQ(::read(fd, &b, 1), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(::write(fd, msg, 2), -1);
    EXPECT_TRUE(wait_until([&] { return !chip->busy(); }));
    ASSERT_EQ(::write(fd, msg, 2), 2);  // sets the pointer, starts no cycle
    EXPECT_FALSE(chip->busy());
    uint8_t two[2] = {};
    ASSERT_EQ(::read(fd, two, 2), 2);
    EXPECT_EQ(two[0], 0x42);
    ASSERT_EQ(::read(fd, &b, 1), 1);  // continues from the pointer
    EXPECT_EQ(chip->write_cycles(), 1u);
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"W 57: 00 10 42", "R 57: nack", "W 57: nack", "W 57: 00 10",
                                        "R 57: 42 ff", "R 57: ff"}));
}

TEST_F(ModelTest, SlaveSelectionBusyInvalidAndForced) {
    int fd = open_dev("/dev/i2c-1");
    sim::set_i2c_busy(1, 0x57, true);
    errno = 0;
    EXPECT_EQ(::ioctl(fd, I2C_SLAVE, 0x57UL), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(::ioctl(fd, I2C_SLAVE_FORCE, 0x57UL), 0);
    EXPECT_EQ(::ioctl(fd, I2C_SLAVE, 0x80UL), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::ioctl(fd, I2C_SLAVE, 0x11UL), 0);  // selecting sends nothing
    uint8_t b = 0;
    EXPECT_EQ(::read(fd, &b, 1), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(::lseek(fd, 0, SEEK_SET), -1);
    EXPECT_EQ(open_dev("/dev/i2c-5"), -1);
}

TEST_F(ModelTest, SmbusAndCombinedTransfers) {
    int fd = bus_with(0x56);
    union i2c_smbus_data data {};
    i2c_smbus_ioctl_data req{I2C_SMBUS_WRITE, 2, I2C_SMBUS_BYTE, nullptr};
    ASSERT_EQ(::ioctl(fd, I2C_SMBUS, &req), 0);
    req = {I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data};
    ASSERT_EQ(::ioctl(fd, I2C_SMBUS, &req), 0);
    EXPECT_EQ(data.byte, 0x01);
    req = {I2C_SMBUS_READ, 3, I2C_SMBUS_WORD_DATA, &data};
    ASSERT_EQ(::ioctl(fd, I2C_SMBUS, &req), 0);
    EXPECT_EQ(data.word, 0xc20c);  // SMBus words are little-endian on the wire
    uint8_t reg = 4;
    uint8_t value[2] = {};
    i2c_msg msgs[2] = {{0x56, 0, 1, &reg}, {0x56, I2C_M_RD, 2, value}};
    i2c_rdwr_ioctl_data rdwr{msgs, 2};
    EXPECT_EQ(::ioctl(fd, I2C_RDWR, &rdwr), 2);
    EXPECT_EQ(value[0], 0x0d);
    EXPECT_EQ(value[1], 0xe1);
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"W 56: 02", "R 56: 01", "W 56: 03", "R 56: 0c c2",
                                        "W 56: 04", "R 56: 0d e1"}));
}

TEST_F(ModelTest, DriverFileSharesTheChipAndStopsAtItsEnd) {
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x57));
    EXPECT_FALSE(sim::bind_eeprom_driver(1, 0x56));
    const std::string path = sim::eeprom_sysfs_path(1, 0x57);
    EXPECT_EQ(path, "/sys/bus/i2c/devices/1-0057/eeprom");
    int fd = open_dev(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::lseek(fd, 0x3ffe, SEEK_SET), 0x3ffe);
    uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(::write(fd, data, 4), 2);
    EXPECT_EQ(sim::eeprom_chip()->peek(0x3ffe, 2), (std::vector<uint8_t>{1, 2}));
    errno = 0;
    EXPECT_EQ(::write(fd, data, 1), -1);
    EXPECT_EQ(errno, EFBIG);
    EXPECT_EQ(::read(fd, data, 1), 0);
    int ro = open_dev(path, O_RDONLY);
    EXPECT_EQ(::write(ro, data, 1), -1);
    EXPECT_EQ(errno, EBADF);
}

// The driver splits at pages and polls the chip through its write cycle.
TEST_F(ModelTest, DriverFileWaitsOutTheWriteCycle) {
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x57));
    int fd = open_dev(sim::eeprom_sysfs_path(1, 0x57));
    std::vector<uint8_t> data(70, 0x5a);
    ASSERT_EQ(::write(fd, data.data(), data.size()), 70);
    EXPECT_EQ(sim::eeprom_chip()->peek(0, 70), data);
    std::vector<std::string> log = sim::i2c_log_text();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front().substr(0, 11), "W 57: 00 00");
    EXPECT_EQ(log.front().size(), 11u + 64 * 3);
    EXPECT_EQ(log[1], "W 57: nack");
    EXPECT_EQ(log.back(), "W 57: 00 40 5a 5a 5a 5a 5a 5a");
}

TEST_F(ModelTest, FlashFollowsTheMtdCharacterDevice) {
    int fd = open_dev(sim::kFlashPath);
    mtd_info_t info{};
    ASSERT_EQ(::ioctl(fd, MEMGETINFO, &info), 0);
    EXPECT_EQ(info.type, MTD_NORFLASH);
    EXPECT_EQ(info.flags, static_cast<uint32_t>(MTD_CAP_NORFLASH));
    EXPECT_EQ(info.size, 8u << 20);
    EXPECT_EQ(info.erasesize, 64u << 10);
    EXPECT_EQ(info.writesize, 1u);
    erase_info_t erase{0x10000, 0x10000};
    EXPECT_EQ(::ioctl(fd, MEMERASE, &erase), 0);
    for (erase_info_t bad : {erase_info_t{0x10001, 0x10000}, erase_info_t{0x10000, 0x8000},
                             erase_info_t{0x7f0000, 0x20000}, erase_info_t{0x800000, 0x10000}}) {
        errno = 0;
        EXPECT_EQ(::ioctl(fd, MEMERASE, &bad), -1) << bad.start << " " << bad.length;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(::lseek(fd, 0x800000, SEEK_SET), 0x800000);
    EXPECT_EQ(::lseek(fd, 0x800001, SEEK_SET), -1);
    uint8_t b = 0;
    EXPECT_EQ(::read(fd, &b, 1), 0);
    EXPECT_EQ(::write(fd, &b, 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    int ro = open_dev(sim::kFlashPath, O_RDONLY);
    EXPECT_EQ(::ioctl(ro, MEMERASE, &erase), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(sim::flash_ops(), std::vector<std::string>{"erase 0x10000 65536"});
}

// The shell's state folder keeps both images across a reset of the unit.
TEST_F(ModelTest, ImagesPersistInTheStateFolder) {
    char tmpl[] = "/tmp/bsp-sim-state-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    sim::set_state_dir(tmpl);
    sim::reset_unit();
    const std::vector<uint8_t> bytes = {0x12, 0x34};
    sim::eeprom_chip()->poke(0x100, bytes);
    sim::flash_poke(0x20000, bytes);
    sim::reset_unit();
    EXPECT_EQ(sim::eeprom_chip()->peek(0x100, 2), bytes);
    EXPECT_EQ(sim::flash_peek(0x20000, 2), bytes);
    EXPECT_EQ(sim::eeprom_chip()->peek(0x102, 1), std::vector<uint8_t>{0xff});
    EXPECT_EQ(std::filesystem::file_size(std::string(tmpl) + "/eeprom.bin"), 16384u);
    sim::set_state_dir("");
    sim::reset_unit();
    EXPECT_EQ(sim::eeprom_chip()->peek(0x100, 2), (std::vector<uint8_t>{0xff, 0xff}));
    std::filesystem::remove_all(tmpl);
}

}  // namespace

}  // namespace bsp::test
