// The simulated I2C bus, its chips, the EEPROM driver's file and the MTD flash behave like
// the real parts, so that faults of the library show and applications developed on the
// simulator meet what the unit's drivers give them.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-user.h>

#include <cstdlib>
#include <filesystem>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

class ModelTest : public SimTest {
  protected:
    void TearDown() override {
        for (int fd : fds_) {
            ::close(fd);
        }
        SimTest::TearDown();
    }

    // Opens a device (closed by TearDown); with `addr`, an I2C bus with that slave selected.
    int open_dev(const std::string &path, int flags = O_RDWR, int addr = -1) {
        int fd = ::open(path.c_str(), flags);
        fds_.push_back(fd);
        if (addr >= 0) {
            EXPECT_EQ(::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(addr)), 0);
        }
        return fd;
    }

    std::vector<int> fds_;
};

TEST_F(ModelTest, EepromWriteWrapsInsideItsPageAndAnswersNothingDuringItsWriteCycle) {
    auto chip = sim::eeprom_chip();
    chip->set_write_cycle(std::chrono::milliseconds(200));
    int fd = open_dev("/dev/i2c-1", O_RDWR, 0x57);
    Bytes msg = unhex("00 7c a0 a1 a2 a3 a4 a5 a6 a7");
    ASSERT_EQ(::write(fd, msg.data(), msg.size()), 10);
    EXPECT_EQ(hex(chip->peek(0x7c, 4)) + " | " + hex(chip->peek(0x40, 4)) + " | " +
                  hex(chip->peek(0x80, 1)),
              "a0 a1 a2 a3 | a4 a5 a6 a7 | ff");
    EXPECT_TRUE(chip->busy());
    uint8_t b[2] = {};
    errno = 0;
    EXPECT_EQ(::read(fd, b, 1), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(::write(fd, msg.data(), 2), -1);
    EXPECT_TRUE(wait_until([&] { return !chip->busy(); }));
    ASSERT_EQ(::write(fd, msg.data(), 2), 2);  // sets the pointer, starts no cycle
    EXPECT_FALSE(chip->busy());
    ASSERT_EQ(::read(fd, b, 2), 2);
    ASSERT_EQ(::read(fd, b, 1), 1);  // continues from the pointer
    EXPECT_EQ(chip->write_cycles(), 1u);
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"W 57: " + hex(msg), "R 57: nack", "W 57: nack",
                                        "W 57: 00 7c", "R 57: a0 a1", "R 57: a2"}));
}

TEST_F(ModelTest, SmbusWordsAreLittleEndianAndCombinedTransfersRun) {
    int fd = open_dev("/dev/i2c-1", O_RDWR, 0x56);
    union i2c_smbus_data data {};
    i2c_smbus_ioctl_data req{I2C_SMBUS_READ, 3, I2C_SMBUS_WORD_DATA, &data};
    ASSERT_EQ(::ioctl(fd, I2C_SMBUS, &req), 0);
    EXPECT_EQ(data.word, 0xc20c);
    uint8_t reg = 4, value[2] = {};
    i2c_msg msgs[2] = {{0x56, 0, 1, &reg}, {0x56, I2C_M_RD, 2, value}};
    i2c_rdwr_ioctl_data rdwr{msgs, 2};
    EXPECT_EQ(::ioctl(fd, I2C_RDWR, &rdwr), 2);
    EXPECT_EQ(sim::i2c_log_text(),
              (std::vector<std::string>{"W 56: 03", "R 56: 0c c2", "W 56: 04", "R 56: 0d e1"}));
}

// The driver binds only to an EEPROM, stops at the end of the chip and writes nothing through
// a read-only file. (Its page splits and its waits through the write cycle show in the EEPROM
// family's driver test.)
TEST_F(ModelTest, DriverFileBindsToAnEepromAndStopsAtTheEnd) {
    ASSERT_TRUE(sim::bind_eeprom_driver(1, 0x57));
    EXPECT_FALSE(sim::bind_eeprom_driver(1, 0x56));
    const std::string path = sim::eeprom_sysfs_path(1, 0x57);
    int fd = open_dev(path);
    Bytes data(4, 0x5a);
    EXPECT_EQ(::lseek(fd, 0x3ffe, SEEK_SET), 0x3ffe);
    EXPECT_EQ(::write(fd, data.data(), 4), 2);
    errno = 0;
    EXPECT_EQ(::write(fd, data.data(), 1), -1);
    EXPECT_EQ(errno, EFBIG);
    EXPECT_EQ(::read(fd, data.data(), 1), 0);
    EXPECT_EQ(::write(open_dev(path, O_RDONLY), data.data(), 1), -1);
    EXPECT_EQ(errno, EBADF);
}

// (Reads and writes at the end of the flash are seen by the flash family's range checks.)
TEST_F(ModelTest, FlashFollowsTheMtdCharacterDeviceAndImagesPersistInTheStateFolder) {
    int fd = open_dev(sim::kFlashPath);
    mtd_info_t info{};
    ASSERT_EQ(::ioctl(fd, MEMGETINFO, &info), 0);
    EXPECT_EQ(info.type, MTD_NORFLASH);
    EXPECT_EQ(info.flags, static_cast<uint32_t>(MTD_CAP_NORFLASH));
    EXPECT_EQ(info.writesize, 1u);
    for (erase_info_t bad : {erase_info_t{0x10001, 0x10000}, erase_info_t{0x10000, 0x8000},
                             erase_info_t{0x7f0000, 0x20000}, erase_info_t{0x800000, 0x10000}}) {
        errno = 0;
        EXPECT_EQ(::ioctl(fd, MEMERASE, &bad), -1) << bad.start << " " << bad.length;
        EXPECT_EQ(errno, EINVAL);
    }
    erase_info_t erase{0x10000, 0x10000};
    EXPECT_EQ(::ioctl(open_dev(sim::kFlashPath, O_RDONLY), MEMERASE, &erase), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_TRUE(sim::flash_ops().empty());
    // The shell's state folder keeps both images across a reset of the unit.
    char tmpl[] = "/tmp/bsp-sim-state-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    sim::set_state_dir(tmpl);
    sim::reset_unit();
    sim::eeprom_chip()->poke(0x100, Bytes{0x12, 0x34});
    sim::flash_poke(0x20000, Bytes{0x12, 0x34});
    sim::reset_unit();
    EXPECT_EQ(hex(sim::eeprom_chip()->peek(0x100, 3)), "12 34 ff");
    EXPECT_EQ(hex(sim::flash_peek(0x20000, 2)), "12 34");
    EXPECT_EQ(std::filesystem::file_size(std::string(tmpl) + "/eeprom.bin"), 16384u);
    sim::set_state_dir("");
    sim::reset_unit();
    EXPECT_EQ(hex(sim::eeprom_chip()->peek(0x100, 2)), "ff ff");
    std::filesystem::remove_all(tmpl);
}

}  // namespace

}  // namespace bsp::test
