// The simulated serial port: a real pseudo-terminal behind "/dev/ttyS0", raw from the start,
// a fresh line after a reset, and a terminal link that joins a person to the line (the
// framer's tests see the port fail as injected and the link carry the line's faults).
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

class SerialPortTest : public SimTest {
  protected:
    void TearDown() override {
        ::close(fd_);
        EXPECT_EQ(sim::serial_open_descriptors(), 0u);
        SimTest::TearDown();
    }
    void open_port() {
        fd_ = ::open(sim::kSerialPortPath, O_RDWR | O_NOCTTY);
        ASSERT_GE(fd_, 0);
    }

    int fd_ = -1;
};

// `count` bytes from `fd`, each read within five seconds.
Bytes read_from(int fd, size_t count) {
    Bytes out(count);
    pollfd p = {fd, POLLIN, 0};
    for (size_t got = 0; got<count && ::poll(&p, 1, 5000)> 0;) {
        ssize_t n = ::read(fd, out.data() + got, count - got);
        got += n > 0 ? static_cast<size_t>(n) : count;
    }
    return out;
}

TEST_F(SerialPortTest, PortIsARawTerminalFromTheStart) {
    open_port();
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    struct termios t = {};
    ASSERT_EQ(tcgetattr(fd_, &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
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
    open_port();
    EXPECT_EQ(sim::serial_pending_input(), 0u);
    EXPECT_EQ(sim::serial_bytes_read(), 0u);
}

// The unit's bytes reach the person, and the link's watcher sees them. (The person's way is
// the framer's link test; the watcher's on that way, the shell's terminal session.)
TEST_F(SerialPortTest, TerminalLinkJoinsAPersonToTheLine) {
    open_port();
    std::mutex mutex;
    Bytes seen[2];  // from the unit, towards it
    std::string path =
        sim::serial_start_terminal_link([&](bool towards, const uint8_t *data, size_t size) {
            std::lock_guard lock(mutex);
            seen[towards].insert(seen[towards].end(), data, data + size);
        });
    int person = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(person, 0);
    ASSERT_EQ(::write(fd_, "ok", 2), 2);
    EXPECT_EQ(read_from(person, 2), (Bytes{'o', 'k'}));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen[0], (Bytes{'o', 'k'}));
        EXPECT_TRUE(seen[1].empty());
    }
    ::close(person);
    sim::serial_stop_terminal_link();
    EXPECT_EQ(sim::serial_terminal_link_path(), "");
}

}  // namespace
}  // namespace bsp::test
