// Shell commands of the TCP frame socket: it listens on a real port that nc or socat can
// reach, and the shell can be a client itself; send from the library, send from the client,
// and show what arrives on each side.
#include <arpa/inet.h>
#include <bsp_ctrl/ti_socket_drv.h>
#include <bsp_sim/sim.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "link_print.h"
#include "shell.h"

namespace bsp::shell {

namespace {

using namespace std::chrono_literals;

constexpr size_t kTcpFrameSize = 600;
constexpr size_t kTcpMessageArea = 588;

std::atomic<int> g_tcp_rx{0};
int g_tcp_port = -1;
int g_tcp_client = -1;  // the shell's own client of the TCP socket

// A full client frame leaves its stop marker at offset 588 of the buffer: shown apart.
int print_tcp_rx(void *msg) {
    auto *bytes = static_cast<uint8_t *>(msg);
    print_buffer("tcp rx", bytes, kTcpMessageArea);
    std::printf("  then at offset 588: %02x %02x %02x %02x\n", bytes[588], bytes[589], bytes[590],
                bytes[591]);
    std::fflush(stdout);
    std::free(msg);
    ++g_tcp_rx;
    return 0;
}

void close_tcp_client() {
    if (g_tcp_client >= 0) {
        ::close(g_tcp_client);
        g_tcp_client = -1;
    }
}

void ensure_exit_hook() {
    static std::once_flag once;
    std::call_once(once, [] {
        at_shell_exit([] {
            close_tcp_client();
            ti_socket_init(0);  // retires the open socket and its task
        });
    });
}

int cmd_tcp_open(const Args &args) {
    int port = 0;
    if (!parse_range(args[0], 1, 65535, "PORT", &port)) {
        return 1;
    }
    ensure_exit_hook();
    close_tcp_client();
    int init = ti_socket_init(port);
    int open = init == 0 ? ti_socket_open(print_tcp_rx) : -1;
    std::printf("ti_socket_init = %d, ti_socket_open = %d%s\n", init, open,
                result_meaning("ti_socket_open", init | open).c_str());
    if (open != 0) {
        return fail("the socket does not listen on port %d (is the port in use?)", port);
    }
    g_tcp_port = port;
    std::printf("listening on port %d: try nc 127.0.0.1 %d\n", port, port);
    return 0;
}

// The shell's own client, connected on first use.
bool tcp_client() {
    if (g_tcp_client >= 0) {
        return true;
    }
    if (g_tcp_port < 0) {
        return refuse("tcp-open first");
    }
    g_tcp_client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(g_tcp_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (g_tcp_client < 0 ||
        ::connect(g_tcp_client, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        int error = errno;
        close_tcp_client();
        return refuse("connect: %s", std::strerror(error));
    }
    // Gives the socket's task a moment to accept, so that a write right after reaches us.
    std::this_thread::sleep_for(50ms);
    return true;
}

std::vector<uint8_t> tcp_client_read(std::chrono::milliseconds quiet) {
    std::vector<uint8_t> out;
    uint8_t buf[4096];
    pollfd p = {g_tcp_client, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
        ssize_t n = ::recv(g_tcp_client, buf, sizeof buf, 0);
        if (n <= 0) {
            close_tcp_client();
            break;
        }
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

// Each 600-byte frame: its head, the message area without trailing zeros, its stop marker.
void print_client_frames(const std::vector<uint8_t> &bytes) {
    std::printf("shell client got %zu bytes\n", bytes.size());
    size_t pos = 0;
    for (; pos + kTcpFrameSize <= bytes.size(); pos += kTcpFrameSize) {
        const uint8_t *f = bytes.data() + pos;
        std::printf(
            "frame: head %02x %02x %02x %02x %02x %02x %02x %02x, stop %02x %02x %02x %02x\n", f[0],
            f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[596], f[597], f[598], f[599]);
        print_buffer("message area", f + 8, kTcpMessageArea);
    }
    if (pos < bytes.size()) {
        print_far_end("and a partial frame",
                      std::vector<uint8_t>(bytes.begin() + static_cast<long>(pos), bytes.end()));
    }
}

int cmd_tcp_connect(const Args &) {
    if (!tcp_client()) {
        return 1;
    }
    std::printf("shell client connected to port %d\n", g_tcp_port);
    return 0;
}

int cmd_tcp_write(const Args &args) {
    std::vector<uint8_t> msg;
    if (!parse_bytes(args[0], &msg)) {
        return 1;
    }
    int result =
        ti_socket_write(reinterpret_cast<char *>(msg.data()), static_cast<UINT32>(msg.size()));
    print_result("ti_socket_write", result);
    if (result == 0 && g_tcp_client >= 0) {
        print_client_frames(tcp_client_read(100ms));
    }
    return result == 0 ? 0 : fail("ti_socket_write = %d", result);
}

int cmd_tcp_inject(const Args &args) {
    std::vector<uint8_t> msg;
    if (!parse_bytes(args[0], &msg) || !tcp_client()) {
        return 1;
    }
    if (msg.size() > kTcpMessageArea) {
        return fail("at most %zu bytes fit a frame", kTcpMessageArea);
    }
    std::vector<uint8_t> frame(kTcpFrameSize, 0);
    const uint8_t head[8] = {TCPSTART_BYTE1, TCPSTART_BYTE2, TCPSTART_BYTE3, TCPSTART_BYTE4,
                             0x00,           0x00,           0x02,           0x58};
    const uint8_t stop[4] = {TCPSTOP_BYTE1, TCPSTOP_BYTE2, TCPSTOP_BYTE3, TCPSTOP_BYTE4};
    std::copy(head, head + 8, frame.begin());
    std::copy(msg.begin(), msg.end(), frame.begin() + 8);
    std::copy(stop, stop + 4, frame.begin() + 596);
    int before = g_tcp_rx.load();
    if (::send(g_tcp_client, frame.data(), frame.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(frame.size())) {
        int error = errno;
        close_tcp_client();
        return fail("send: %s", std::strerror(error));
    }
    await_count(g_tcp_rx, before);
    return 0;
}

int cmd_tcp_disconnect(const Args &) {
    close_tcp_client();
    return 0;
}

// The library's close leaves the socket, its task and its client as they are: the socket
// goes on listening, and only a new ti_socket_init (tcp-open) retires it.
int cmd_tcp_close(const Args &) {
    print_result("ti_socket_close", ti_socket_close());
    return 0;
}

constexpr Command kCommands[] = {
    {"tcp-open", 1, 1, "PORT", "init and open the TCP frame socket on PORT (1..65535)",
     cmd_tcp_open},
    {"tcp-connect", 0, 0, "", "connect the shell's own client", cmd_tcp_connect},
    {"tcp-write", 1, 1, "BYTES", "send a message to the client; show what the shell's got",
     cmd_tcp_write},
    {"tcp-inject", 1, 1, "BYTES", "the shell's client sends a 600-byte frame", cmd_tcp_inject},
    {"tcp-disconnect", 0, 0, "", "the shell's client goes away", cmd_tcp_disconnect},
    {"tcp-close", 0, 0, "", "ti_socket_close (leaves the socket as it is)", cmd_tcp_close},
};

}  // namespace

std::span<const Command> tcp_commands() {
    return kCommands;
}

}  // namespace bsp::shell
