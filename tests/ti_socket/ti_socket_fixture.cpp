// Support of the TCP frame socket tests: the definitions behind ti_socket_fixture.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bsp_sim/sim.h>

#include <cstdlib>
#include <mutex>

#include "ti_socket_fixture.h"

namespace bsp::test {

namespace {

struct Received {
    std::mutex mutex;
    std::vector<Bytes> buffers;
};

Received &received() {
    static Received r;
    return r;
}

sockaddr_in loopback(int port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

Client::~Client() {
    close();
}

bool Client::create() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
}

bool Client::connect(int port) {
    if (fd_ < 0 && !create()) {
        return false;
    }
    sockaddr_in a = loopback(port);
    return ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

bool Client::send(const Bytes &bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

Bytes Client::read(size_t count, std::chrono::milliseconds deadline) {
    Bytes out(count);
    size_t got = 0;
    auto end = std::chrono::steady_clock::now() + deadline;
    while (got < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p = {fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        ssize_t n = ::recv(fd_, out.data() + got, count - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return out;
}

bool Client::sees_end(std::chrono::milliseconds deadline) {
    pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(deadline.count())) <= 0) {
        return false;
    }
    uint8_t b = 0;
    return ::recv(fd_, &b, 1, 0) == 0;
}

void Client::shutdown_write() {
    ::shutdown(fd_, SHUT_WR);
}

void Client::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void Client::abort() {
    linger l = {1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
}

Bytes client_frame(const Bytes &msg) {
    Bytes f(600, 0);
    Bytes head = {0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x00, 0x02, 0x58};
    std::copy(head.begin(), head.end(), f.begin());
    std::copy(msg.begin(), msg.end(), f.begin() + 8);
    Bytes stop = {0xA5, 0x5A, 0x3C, 0xC3};
    std::copy(stop.begin(), stop.end(), f.begin() + 596);
    return f;
}

int record_buffer(void *msg) {
    auto *p = static_cast<uint8_t *>(msg);
    std::lock_guard lock(received().mutex);
    received().buffers.emplace_back(p, p + 600);
    std::free(msg);
    return 0;
}

std::vector<Bytes> received_buffers() {
    std::lock_guard lock(received().mutex);
    return received().buffers;
}

bool wait_for_buffers(size_t count) {
    return wait_until([count] { return received_buffers().size() >= count; });
}

void TiSocketTest::SetUp() {
    SimTest::SetUp();
    std::lock_guard lock(received().mutex);
    received().buffers.clear();
}

void TiSocketTest::TearDown() {
    EXPECT_EQ(ti_socket_init(0), 0);  // retires the socket and ends its task
    EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    SimTest::TearDown();
}

void TiSocketTest::open_socket() {
    port_ = sim::free_loopback_port();
    ASSERT_EQ(ti_socket_init(port_), 0);
    ASSERT_EQ(ti_socket_open(record_buffer), 0);
}

void TiSocketTest::connect_served(Client *client) {
    ASSERT_TRUE(client->connect(port_));
    char probe = 0x7E;
    ASSERT_TRUE(wait_until([&] { return ti_socket_write(&probe, 1) == 0; }));
    ASSERT_EQ(client->read(600, std::chrono::seconds(5)).size(), 600u);
}

}  // namespace bsp::test
