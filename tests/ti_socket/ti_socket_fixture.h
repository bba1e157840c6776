// Fixture of the TCP frame socket tests: a free loopback port, a receive callback that
// records every buffer, and real TCP clients.
#ifndef BSP_TESTS_TI_SOCKET_TI_SOCKET_FIXTURE_H
#define BSP_TESTS_TI_SOCKET_TI_SOCKET_FIXTURE_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <bsp_ctrl/ti_socket_drv.h>
#include <bsp_sim/sim.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

using namespace std::chrono_literals;

// A TCP client on 127.0.0.1 (or a listener that takes a port).
class Client {
  public:
    Client() = default;
    ~Client() { close(); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Creates the socket (without connecting), then connects.
    bool create() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return fd_ >= 0;
    }
    bool connect(int port, bool listen = false) {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto *at = reinterpret_cast<sockaddr *>(&a);
        return (fd_ >= 0 || create()) &&
               (listen ? ::bind(fd_, at, sizeof a) == 0 && ::listen(fd_, 1) == 0
                       : ::connect(fd_, at, sizeof a) == 0);
    }
    bool send(const Bytes &bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads `count` bytes, or fewer when `deadline` passes or the server closes; `*end` tells
    // whether it closed.
    Bytes read(size_t count, std::chrono::milliseconds deadline, bool *end = nullptr) {
        timeval t = {};
        t.tv_sec = static_cast<time_t>(deadline.count() / 1000);
        t.tv_usec = static_cast<suseconds_t>(deadline.count() % 1000 * 1000);
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        Bytes out(count);
        ssize_t n = ::recv(fd_, out.data(), count, MSG_WAITALL);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (end != nullptr) {
            *end = n == 0;
        }
        return out;
    }
    // True when the server has closed its side within `deadline`.
    bool sees_end(std::chrono::milliseconds deadline) {
        bool end = false;
        read(1, deadline, &end);
        return end;
    }
    void shutdown_write() { ::shutdown(fd_, SHUT_WR); }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    // Closes with a reset instead of an orderly end.
    void abort() {
        linger l = {1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close();
    }

  private:
    int fd_ = -1;
};

// The 600-byte frame a client sends for `msg`, and the one the socket sends.
inline Bytes client_frame(const Bytes &msg) {
    Bytes f = unhex("5a a5 c3 3c 00 00 02 58");
    f.insert(f.end(), msg.begin(), msg.end());
    f.resize(596, 0);
    Bytes stop = unhex("a5 5a 3c c3");
    f.insert(f.end(), stop.begin(), stop.end());
    return f;
}

// What the receive callback of the tests has been given, each buffer's 600 bytes.
inline Recorded<Bytes> &buffer_log() {
    static Recorded<Bytes> r;
    return r;
}

inline int record_buffer(void *msg) {
    auto *p = static_cast<uint8_t *>(msg);
    buffer_log().add(Bytes(p, p + 600));
    std::free(msg);
    return 0;
}

inline std::vector<Bytes> received_buffers() {
    return buffer_log().all();
}

inline bool wait_for_buffers(size_t count) {
    return wait_until([count] { return received_buffers().size() >= count; });
}

class TiSocketTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        buffer_log().clear();
    }
    void TearDown() override {
        EXPECT_EQ(ti_socket_init(0), 0);  // retires the socket and ends its task
        EXPECT_TRUE(sim::join_tasks(10s));
        SimTest::TearDown();
    }

    // ti_socket_init and ti_socket_open on a free port, expected to succeed.
    void open_socket() {
        port_ = sim::free_loopback_port();
        ASSERT_EQ(ti_socket_init(port_), 0);
        ASSERT_EQ(ti_socket_open(record_buffer), 0);
    }
    // Connects `client` and waits until the socket serves it (a write reaches it).
    void connect_served(Client *client) {
        ASSERT_TRUE(client->connect(port_));
        char probe = 0x7E;
        ASSERT_TRUE(wait_until([&] { return ti_socket_write(&probe, 1) == 0; }));
        ASSERT_EQ(client->read(600, 5s), client_frame({0x7E}));
    }
    Client client_;
    int port_ = 0;
};

}  // namespace bsp::test

#endif
