// The simulated serial port: a real pseudo-terminal behind "/dev/ttyS0".
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <bsp_sim/sim.h>

#include <mutex>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using namespace std::chrono_literals;

class SerialPortTest : public SimTest {
  protected:
    void TearDown() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        EXPECT_EQ(sim::serial_open_descriptors(), 0u);
        SimTest::TearDown();
    }

    void open_port() {
        fd_ = ::open(sim::kSerialPortPath, O_RDWR | O_NOCTTY);
        ASSERT_GE(fd_, 0);
    }

    Bytes read_port(size_t count) {
        Bytes out(count);
        size_t got = 0;
        while (got < count) {
            pollfd p = {fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) {
                break;
            }
            ssize_t n = ::read(fd_, out.data() + got, count - got);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        out.resize(got);
        return out;
    }

    int fd_ = -1;
};

TEST_F(SerialPortTest, PortIsASlaveOpenedRawFromTheStart) {
    open_port();
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    EXPECT_TRUE(isatty(fd_));
    EXPECT_EQ(sim::serial_slave_path().rfind("/dev/pts/", 0), 0u);
    struct termios t = {};
    ASSERT_EQ(tcgetattr(fd_, &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
}

TEST_F(SerialPortTest, PendingInputCountsWhatTheLibraryHasNotRead) {
    open_port();
    ASSERT_TRUE(sim::serial_peer_write({1, 2, 3, 4, 5}));
    ASSERT_TRUE(wait_until([] { return sim::serial_pending_input() == 5; }));
    EXPECT_EQ(read_port(2), (Bytes{1, 2}));
    EXPECT_EQ(sim::serial_pending_input(), 3u);
    ASSERT_EQ(tcflush(fd_, TCIFLUSH), 0);
    EXPECT_EQ(sim::serial_pending_input(), 0u);
}

TEST_F(SerialPortTest, InjectedFaultsApplyToThePort) {
    sim::inject_fault({sim::FaultOp::Open, 1, EBUSY, -1, "/dev/ttyS0"});
    EXPECT_EQ(::open(sim::kSerialPortPath, O_RDWR | O_NOCTTY), -1);
    EXPECT_EQ(errno, EBUSY);
    open_port();
    sim::inject_fault({sim::FaultOp::Read, 1, EIO, -1, "/dev/ttyS0"});
    uint8_t b = 0;
    EXPECT_EQ(::read(fd_, &b, 1), -1);
    EXPECT_EQ(errno, EIO);
    sim::inject_fault({sim::FaultOp::Write, 1, EIO, -1, "/dev/ttyS0"});
    EXPECT_EQ(::write(fd_, &b, 1), -1);
}

TEST_F(SerialPortTest, ResetGivesAFreshLineAndHangsUpTheOldOne) {
    open_port();
    ASSERT_TRUE(sim::serial_peer_write({9, 9}));
    sim::reset_unit();
    uint8_t b[4];
    pollfd p = {fd_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    ssize_t n = ::read(fd_, b, sizeof b);
    EXPECT_TRUE(n == 2 || n <= 0);  // what was queued, or the hang-up
    ::close(fd_);
    fd_ = -1;
    open_port();
    EXPECT_EQ(sim::serial_pending_input(), 0u);
    EXPECT_EQ(sim::serial_bytes_read(), 0u);
}

TEST_F(SerialPortTest, TerminalLinkJoinsAPersonToTheLine) {
    open_port();
    std::mutex mutex;
    Bytes to_unit;
    Bytes from_unit;
    std::string path =
        sim::serial_start_terminal_link([&](bool towards_unit, const uint8_t *data, size_t size) {
            std::lock_guard lock(mutex);
            (towards_unit ? to_unit : from_unit)
                .insert((towards_unit ? to_unit : from_unit).end(), data, data + size);
        });
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(sim::serial_terminal_link_path(), path);
    int person = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(person, 0);
    ASSERT_EQ(::write(person, "hi\r", 3), 3);
    EXPECT_EQ(read_port(3), (Bytes{'h', 'i', '\r'}));
    ASSERT_EQ(::write(fd_, "ok", 2), 2);
    char got[2] = {};
    pollfd p = {person, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    ASSERT_EQ(::read(person, got, 2), 2);
    EXPECT_EQ(std::string(got, 2), "ok");
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(to_unit, (Bytes{'h', 'i', '\r'}));
        EXPECT_EQ(from_unit, (Bytes{'o', 'k'}));
    }
    ::close(person);
    sim::serial_stop_terminal_link();
    EXPECT_EQ(sim::serial_terminal_link_path(), "");
}

}  // namespace
}  // namespace bsp::test
