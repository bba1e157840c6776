// The TCP frame socket with real clients on loopback. (The stress test sends from several
// threads while its client talks back.)
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bsp_sim/sim.h>

#include <numeric>
#include <regex>
#include <thread>

#include "support/capture.h"
#include "ti_socket_fixture.h"

namespace bsp::test {
namespace {

// Refused writes send nothing; short and full messages go out as exact 600-byte frames
// (connect_served sends a short one), and the client's frames come in; a close changes
// nothing of that.
TEST_F(TiSocketTest, ExactFramesBothWaysEvenAfterCloseAndNothingForARefusedWrite) {
    char one = 1;
    EXPECT_EQ(ti_socket_write(&one, 1), -1);  // nothing initialised yet
    open_socket();
    EXPECT_EQ(ti_socket_write(&one, 1), -1);  // no client yet
    connect_served(&client_);
    EXPECT_EQ(ti_socket_close(), 0);
    Bytes full(589);
    std::iota(full.begin(), full.end(), uint8_t{1});
    EXPECT_EQ(ti_socket_write(reinterpret_cast<char *>(full.data()), 589), -1);
    EXPECT_EQ(ti_socket_write(&one, 0), -1);
    EXPECT_EQ(ti_socket_write(nullptr, 1), -1);
    EXPECT_TRUE(client_.read(1, 50ms).empty());
    EXPECT_TRUE(sim::held_semaphores().empty());
    ASSERT_EQ(ti_socket_write(reinterpret_cast<char *>(full.data()), 588), 0);
    EXPECT_EQ(client_.read(600, 5s), client_frame(Bytes(full.begin(), full.end() - 1)));
    EXPECT_TRUE(client_.read(1, 20ms).empty());
    Bytes frame = client_frame({0xDE, 0xAD, 0xBE, 0xEF});
    ASSERT_TRUE(client_.send(frame));
    ASSERT_TRUE(wait_for_buffers(1));
    Bytes want(frame.begin() + 8, frame.end());  // message area and stop marker, no head
    want.resize(600, 0);
    EXPECT_EQ(received_buffers(), std::vector<Bytes>{want});
}

// The callback may retire its own socket with a new init.
int init_from_callback(void *msg) {
    std::free(msg);
    return ti_socket_init(0);
}

TEST_F(TiSocketTest, ShortBlocksAreDropped) {
    open_socket();
    for (size_t size = 1; size <= 8; ++size) {
        Client client;
        ASSERT_TRUE(client.connect(port_));
        Bytes block(size, 0x33);
        ASSERT_TRUE(client.send(block));
        client.shutdown_write();
        ASSERT_TRUE(client.sees_end(10s)) << size;  // the socket has read it and let go
    }
    // Only the 8-byte block (a head without a message) was delivered, as an empty buffer.
    EXPECT_EQ(received_buffers(), std::vector<Bytes>{Bytes(600, 0)});
}

// A second client waits until the first has gone. Writes to a client that has reset its
// connection fail with -1 instead of raising SIGPIPE, leave the semaphore free, and later
// writes reach the next client.
TEST_F(TiSocketTest, SecondClientWaitsUntilTheFirstHasGoneAndWritesToAGoneOneFail) {
    open_socket();
    Client first;
    connect_served(&first);
    Client second;
    ASSERT_TRUE(second.connect(port_));  // completes in the backlog
    char msg = 0x55;
    ASSERT_EQ(ti_socket_write(&msg, 1), 0);
    EXPECT_EQ(first.read(600, 5s).size(), 600u);
    EXPECT_TRUE(second.read(1, 50ms).empty());
    first.shutdown_write();
    ASSERT_TRUE(first.sees_end(10s));  // the socket has let the first client go
    EXPECT_TRUE(wait_until([&] { return ti_socket_write(&msg, 1) == 0; }));
    EXPECT_EQ(second.read(600, 5s).size(), 600u);
    ASSERT_TRUE(second.send(client_frame({0x42})));
    ASSERT_TRUE(wait_for_buffers(1));
    EXPECT_EQ(received_buffers()[0][0], 0x42);
    second.abort();
    int failures = 0;
    for (int i = 0; i < 200 && failures == 0; ++i) {
        failures += ti_socket_write(&msg, 1) == -1;
    }
    EXPECT_GT(failures, 0);
    EXPECT_TRUE(sim::held_semaphores().empty());
    connect_served(&client_);
}

TEST_F(TiSocketTest, AcceptErrorsArePaced) {
    open_socket();
    Client client;
    ASSERT_TRUE(client.create());
    rlimit saved = {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    StderrCapture err;
    int lowest = ::dup(0);
    ::close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);  // no descriptor left for accept
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    ASSERT_TRUE(client.connect(port_));
    // Measures the pace of the failing accepts over a fixed window.
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    const std::string text = err.text();
    const std::regex failure("ERROR on accept: ");
    const auto count = std::distance(std::sregex_iterator(text.begin(), text.end(), failure), {});
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 10);
    char msg = 0x55;
    EXPECT_TRUE(wait_until([&] { return ti_socket_write(&msg, 1) == 0; }));
}

TEST_F(TiSocketTest, OpenFailsWhenThePortIsTaken) {
    port_ = sim::free_loopback_port();
    Client other;
    ASSERT_TRUE(other.connect(port_, true));
    StderrCapture err;
    ASSERT_EQ(ti_socket_init(port_), 0);
    EXPECT_EQ(ti_socket_open(record_buffer), -1);
    EXPECT_EQ(err.text(), "");  // a failed bind prints nothing
    EXPECT_EQ(sim::running_tasks(), 0u);
}

// A new init, here from the receive callback, ends the task once the callback returns, closes
// the sockets, and gives back every descriptor and the semaphore the opened socket added to a
// fresh one (the receive task's wake descriptor too).
TEST_F(TiSocketTest, NewInitEndsTheTaskAndGivesBackEverything) {
    ASSERT_EQ(ti_socket_init(sim::free_loopback_port()), 0);
    const size_t before = open_descriptor_count();
    port_ = sim::free_loopback_port();
    ASSERT_EQ(ti_socket_init(port_), 0);
    ASSERT_EQ(ti_socket_open(init_from_callback), 0);
    connect_served(&client_);
    ASSERT_TRUE(client_.send(client_frame({1})));
    EXPECT_TRUE(client_.sees_end(10s));
    EXPECT_TRUE(sim::join_tasks(10s));
    EXPECT_EQ(sim::semaphores().size(), 1u);  // the new socket's
    char msg = 1;
    EXPECT_EQ(ti_socket_write(&msg, 1), -1);
    Client refused;
    EXPECT_FALSE(refused.connect(port_));  // nothing listens any more
    refused.close();
    client_.close();
    EXPECT_EQ(open_descriptor_count(), before);
    // A new socket serves again (on another port: no socket option lets the closed
    // connection's port be bound again at once).
    open_socket();
    Client again;
    connect_served(&again);
}

}  // namespace
}  // namespace bsp::test
