// The device mechanism: the library's plain C library calls on a simulated path reach the
// model, every other path is the machine's own, and injected faults hit the named call.
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/i2cdev.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using bsp::sim::FaultOp;

// A register device: ioctl 0x42 stores the argument's int; reads return it as text.
class RegisterFile : public bsp::sim::OpenFile {
  public:
    RegisterFile(int fd, std::vector<std::string> *events) : OpenFile(fd), events_(events) {}
    ssize_t read(void *buf, size_t count) override {
        std::string text = std::to_string(value_);
        size_t n = std::min(count, text.size());
        std::memcpy(buf, text.data(), n);
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const void *, size_t count) override {
        events_->push_back("write " + std::to_string(count));
        return static_cast<ssize_t>(count);
    }
    int ioctl(unsigned long request, void *arg) override {
        if (request != 0x42) {
            return OpenFile::ioctl(request, arg);
        }
        value_ = *static_cast<int *>(arg);
        return 0;
    }
    void closing() override { events_->push_back("closed"); }

  private:
    std::vector<std::string> *events_;
    int value_ = 0;
};

class RegisterDevice : public bsp::sim::Device {
  public:
    std::shared_ptr<bsp::sim::OpenFile> open(int) override {
        return std::make_shared<RegisterFile>(bsp::sim::reserve_fd(), &events);
    }
    std::vector<std::string> events;
};

class DevicesTest : public bsp::test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        dev_ = std::make_shared<RegisterDevice>();
        bsp::sim::add_device("/dev/bsp-test", dev_);
    }
    void TearDown() override { bsp::sim::remove_device("/dev/bsp-test"); }
    std::shared_ptr<RegisterDevice> dev_;
};

TEST_F(DevicesTest, CallsOnSimulatedPathsReachTheModelAndNoOthers) {
    EXPECT_TRUE(bsp::sim::interposition_live());
    int fd = open("/dev/bsp-test", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(bsp::sim::open_device_files(), 1u);
    int value = 1234;
    EXPECT_EQ(ioctl(fd, 0x42, &value), 0);
    char buf[16] = {};
    EXPECT_EQ(read(fd, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "1234");
    EXPECT_EQ(write(fd, "abc", 3), 3);
    EXPECT_EQ(ioctl(fd, 0x43, &value), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(dev_->events, (std::vector<std::string>{"write 3", "closed"}));
    EXPECT_EQ(bsp::sim::open_device_files(), 0u);
    // The fortified and large-file entry points are routed too.
    EXPECT_EQ(close(open64("/dev/bsp-test", O_RDWR)), 0);
    EXPECT_EQ(close(openat(AT_FDCWD, "/dev/bsp-test", O_RDWR)), 0);
    EXPECT_EQ(dev_->events.size(), 4u);
    // Every other path is the machine's own.
    fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(bsp::sim::open_device_files(), 0u);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(open("/dev/bsp-test-absent", O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(DevicesTest, FaultsHitTheNamedCallOnTheNamedPath) {
    bsp::sim::inject_fault({FaultOp::Open, 2, EBUSY, -1, "/dev/bsp-test"});
    bsp::sim::inject_fault({FaultOp::Write, 1, EIO, 2, ""});
    bsp::sim::inject_fault({FaultOp::Read, 1, EAGAIN});
    int fd = open("/dev/bsp-test", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(open("/dev/bsp-test", O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(write(fd, "abcd", 4), 2) << "short transfer";
    char buf[8];
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(read(fd, buf, sizeof buf), 1);
    bsp::sim::inject_fault({FaultOp::Close, 1, EIO});
    EXPECT_EQ(close(fd), -1);
    EXPECT_EQ(bsp::sim::open_device_files(), 0u) << "a failed close still releases";
    EXPECT_EQ(bsp::sim::fault_op_calls(FaultOp::Open), 2u);
}

// The library's calls are recorded and not run; the application's own run for real.
TEST_F(DevicesTest, SystemRunsOnlyTheApplicationsOwnCalls) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(nullptr, 9600), 0u);
    ASSERT_EQ(FramerClose(), 0u);  // hands the port to a login console: system("getty ...")
    EXPECT_EQ(bsp::sim::system_commands(), std::vector<std::string>{"getty -L ttyS0 9600 vt100"});
    // Even one that starts with the same program runs for real.
    const int status = system("getty --version >/dev/null 2>&1; exit 3");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_EQ(bsp::sim::system_commands().size(), 1u);
    EXPECT_EQ(FramerDelete(), 0u);
    EXPECT_TRUE(bsp::sim::join_tasks(std::chrono::seconds(10)));
}

// Before any unit is started the library's opens are refused with the way to start one. The
// check runs in a fresh process, where no unit has been reset yet.
TEST(UnstartedUnitTest, LibraryIsToldToStartTheUnit) {
    if (std::string(BSP_EMULATOR).size() > 0) {
        GTEST_SKIP() << "the fresh process re-runs the test binary, which needs its emulator";
    }
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            UINT8 byte = 0;
            std::exit(i2c_read_buf(1, 0x57, 0, 1, &byte, 1, 0) == -1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "bsp_sim: the simulated unit was not started, so the library cannot open /dev/i2c-1: "
        "call bsp_sim_start\\(state_dir\\) from <bsp_sim/bsp_sim_c.h> before the first call");
    GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
