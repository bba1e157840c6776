// Shell commands of the serial framer and the TCP frame socket: send from the library, send
// from the far end, and show what arrives on each side. The serial port's far end is the
// simulated line's pseudo-terminal (or a person's terminal program joined with serial-link);
// the TCP socket listens on a real port that nc or socat can reach, and the shell can be a
// client itself.
#include <arpa/inet.h>
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/ti_socket_drv.h>
#include <bsp_sim/sim.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "shell.h"

namespace bsp::shell {

namespace {

using namespace std::chrono_literals;

constexpr size_t kSerialRxSize = 588;
constexpr size_t kTcpFrameSize = 600;
constexpr size_t kTcpMessageArea = 588;

std::mutex g_print_mutex;  // callbacks print from the library's tasks
std::atomic<int> g_serial_rx{0};
std::atomic<int> g_tcp_rx{0};
int g_tcp_port = -1;
int g_tcp_client = -1;  // the shell's own client of the TCP socket
bool g_exit_hook = false;

// The receive buffers carry no length: trailing zeros are left out of the dump.
void print_buffer(const char *what, const uint8_t *bytes, size_t size) {
    size_t used = size;
    while (used > 0 && bytes[used - 1] == 0) {
        --used;
    }
    std::lock_guard lock(g_print_mutex);
    std::printf("%s, %zu bytes (trailing zeros left out of %zu)\n", what, used, size);
    print_hex_dump(bytes, used, 0);
    std::fflush(stdout);
}

void print_serial_rx(UINT8 *msg) {
    print_buffer("serial rx", msg, kSerialRxSize);
    std::free(msg);
    ++g_serial_rx;
}

// A full client frame leaves its stop marker at offset 588 of the buffer: shown apart.
int print_tcp_rx(void *msg) {
    auto *bytes = static_cast<uint8_t *>(msg);
    print_buffer("tcp rx", bytes, kTcpMessageArea);
    std::lock_guard lock(g_print_mutex);
    std::printf("  then at offset 588: %02x %02x %02x %02x\n", bytes[588], bytes[589], bytes[590],
                bytes[591]);
    std::fflush(stdout);
    std::free(msg);
    ++g_tcp_rx;
    return 0;
}

// Waits a moment for a callback, so that scripts show what arrives.
void await_count(const std::atomic<int> &counter, int before) {
    auto end = std::chrono::steady_clock::now() + 1s;
    while (counter.load() == before && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
}

void print_far_end(const char *what, const std::vector<uint8_t> &bytes) {
    std::lock_guard lock(g_print_mutex);
    std::printf("%s, %zu bytes\n", what, bytes.size());
    print_hex_dump(bytes.data(), bytes.size(), 0);
}

void close_tcp_client() {
    if (g_tcp_client >= 0) {
        ::close(g_tcp_client);
        g_tcp_client = -1;
    }
}

void ensure_exit_hook() {
    if (!g_exit_hook) {
        g_exit_hook = true;
        at_shell_exit([] {
            close_tcp_client();
            ti_socket_close();
            sim::serial_stop_terminal_link();
        });
    }
}

// The serial frame the far end sends: start marker, length (message + 12), message, stop.
std::vector<uint8_t> frame_of(const std::vector<uint8_t> &msg) {
    uint32_t length = static_cast<uint32_t>(msg.size() + 12);
    std::vector<uint8_t> f(length, 0);
    const uint8_t head[8] = {START_BYTE1,
                             START_BYTE2,
                             START_BYTE3,
                             START_BYTE4,
                             static_cast<uint8_t>(length >> 24),
                             static_cast<uint8_t>(length >> 16),
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length)};
    const uint8_t stop[4] = {STOP_BYTE1, STOP_BYTE2, STOP_BYTE3, STOP_BYTE4};
    std::copy(head, head + 8, f.begin());
    std::copy(msg.begin(), msg.end(), f.begin() + 8);
    std::copy(stop, stop + 4, f.end() - 4);
    return f;
}

int cmd_serial_open(const Args &args) {
    uint32_t rate = 115200;
    if (!args.empty() && !parse_u32(args[0], &rate)) {
        return 1;
    }
    ensure_exit_hook();
    UINT32 created = FramerCreate(0);
    UINT32 opened = created == 0 ? FramerOpen(print_serial_rx, rate) : 1;
    std::printf("FramerCreate = %u, FramerOpen = %u\n", created, opened);
    std::printf("/dev/ttyS0 is %s; its far end is this shell (serial-link joins a terminal)\n",
                sim::serial_slave_path().c_str());
    return created == 0 && opened == 0 ? 0 : 1;
}

int cmd_serial_write(const Args &args) {
    std::vector<uint8_t> msg;
    if (!parse_bytes(args[0], &msg)) {
        return 1;
    }
    UINT32 result = FramerWrite(msg.data(), static_cast<UINT32>(msg.size()));
    std::printf("FramerWrite = %u\n", result);
    if (result == 0 && sim::serial_terminal_link_path().empty()) {
        print_far_end("far end got", sim::serial_peer_read_quiet(50ms));
    }
    return result == 0 ? 0 : 1;
}

void print_console_commands(size_t from) {
    std::vector<std::string> commands = sim::system_commands();
    for (size_t i = from; i < commands.size(); ++i) {
        std::printf("system(\"%s\")\n", commands[i].c_str());
    }
}

// Shows what the bytes caused: a message to the callback or a login console.
int inject_serial(const std::vector<uint8_t> &bytes) {
    int before = g_serial_rx.load();
    size_t consoles = sim::system_commands().size();
    if (!sim::serial_peer_write(bytes)) {
        std::fprintf(stderr, "the far end could not send\n");
        return 1;
    }
    await_count(g_serial_rx, before);
    print_console_commands(consoles);
    return 0;
}

int cmd_serial_inject(const Args &args) {
    std::vector<uint8_t> msg;
    return parse_bytes(args[0], &msg) ? inject_serial(frame_of(msg)) : 1;
}

int cmd_serial_inject_raw(const Args &args) {
    std::vector<uint8_t> bytes;
    return parse_bytes(args[0], &bytes) ? inject_serial(bytes) : 1;
}

int cmd_serial_rate(const Args &args) {
    uint32_t rate = 0;
    if (!parse_u32(args[0], &rate)) {
        return 1;
    }
    std::printf("FramerChangeBaudRate = %u\n", FramerChangeBaudRate(rate));
    return 0;
}

int cmd_serial_close(const Args &) {
    size_t before = sim::system_commands().size();
    std::printf("FramerClose = %u\n", FramerClose());
    print_console_commands(before);
    return 0;
}

int cmd_serial_console(const Args &) {
    size_t before = sim::system_commands().size();
    std::printf("FramerEnableDebugPort = %d\n", FramerEnableDebugPort());
    print_console_commands(before);
    return 0;
}

int cmd_serial_delete(const Args &) {
    std::printf("FramerDelete = %u\n", FramerDelete());
    return 0;
}

int cmd_serial_link(const Args &) {
    ensure_exit_hook();
    std::string path =
        sim::serial_start_terminal_link([](bool to_unit, const uint8_t *data, size_t size) {
            std::lock_guard lock(g_print_mutex);
            std::printf("%s, %zu bytes\n", to_unit ? "terminal -> unit" : "unit -> terminal", size);
            print_hex_dump(data, size, 0);
            std::fflush(stdout);
        });
    if (path.empty()) {
        std::fprintf(stderr, "no pseudo-terminal for the link\n");
        return 1;
    }
    std::printf("attach a terminal program to %s (e.g. picocom -b 115200 %s)\n", path.c_str(),
                path.c_str());
    return 0;
}

int cmd_serial_status(const Args &) {
    struct termios t = {};
    bool known = sim::serial_port_settings(&t);
    std::printf("/dev/ttyS0: %s, %zu descriptor(s) open, %llu byte(s) read by the library\n",
                sim::serial_slave_path().c_str(), sim::serial_open_descriptors(),
                static_cast<unsigned long long>(sim::serial_bytes_read()));
    if (known) {
        std::printf("settings: speed code %u, iflag 0x%x, cflag 0x%x, lflag 0x%x\n",
                    static_cast<unsigned>(cfgetospeed(&t)), static_cast<unsigned>(t.c_iflag),
                    static_cast<unsigned>(t.c_cflag), static_cast<unsigned>(t.c_lflag));
    }
    std::string link = sim::serial_terminal_link_path();
    std::printf("terminal link: %s\n", link.empty() ? "none" : link.c_str());
    return 0;
}

int cmd_tcp_open(const Args &args) {
    int port = 0;
    if (!parse_int(args[0], &port)) {
        return 1;
    }
    ensure_exit_hook();
    close_tcp_client();
    int init = ti_socket_init(port);
    int open = init == 0 ? ti_socket_open(print_tcp_rx) : -1;
    std::printf("ti_socket_init = %d, ti_socket_open = %d\n", init, open);
    if (open == 0) {
        g_tcp_port = port;
        std::printf("listening on port %d: try nc 127.0.0.1 %d\n", port, port);
    }
    return open == 0 ? 0 : 1;
}

// The shell's own client, connected on first use.
bool tcp_client() {
    if (g_tcp_client >= 0) {
        return true;
    }
    if (g_tcp_port < 0) {
        std::fprintf(stderr, "tcp-open first\n");
        return false;
    }
    g_tcp_client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(g_tcp_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (g_tcp_client < 0 ||
        ::connect(g_tcp_client, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("connect");
        close_tcp_client();
        return false;
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
    std::printf("ti_socket_write = %d\n", result);
    if (result == 0 && g_tcp_client >= 0) {
        print_client_frames(tcp_client_read(100ms));
    }
    return result == 0 ? 0 : 1;
}

int cmd_tcp_inject(const Args &args) {
    std::vector<uint8_t> msg;
    if (!parse_bytes(args[0], &msg) || !tcp_client()) {
        return 1;
    }
    if (msg.size() > kTcpFrameSize - 12) {
        std::fprintf(stderr, "at most 588 bytes\n");
        return 1;
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
        std::perror("send");
        close_tcp_client();
        return 1;
    }
    await_count(g_tcp_rx, before);
    return 0;
}

int cmd_tcp_disconnect(const Args &) {
    close_tcp_client();
    return 0;
}

int cmd_tcp_close(const Args &) {
    close_tcp_client();
    std::printf("ti_socket_close = %d\n", ti_socket_close());
    g_tcp_port = -1;
    return 0;
}

constexpr Command kCommands[] = {
    {"serial-open", 0, 1, "[RATE]", "create and open the serial framer (default 115200)",
     cmd_serial_open},
    {"serial-write", 1, 1, "BYTES", "send a message; show the frame the far end got",
     cmd_serial_write},
    {"serial-inject", 1, 1, "BYTES", "the far end sends a message in a frame", cmd_serial_inject},
    {"serial-inject-raw", 1, 1, "BYTES", "the far end sends bytes as they are (0d0d: console)",
     cmd_serial_inject_raw},
    {"serial-rate", 1, 1, "RATE", "change the port's speed", cmd_serial_rate},
    {"serial-close", 0, 0, "", "close: hand the port to the login console", cmd_serial_close},
    {"serial-console", 0, 0, "", "FramerEnableDebugPort", cmd_serial_console},
    {"serial-delete", 0, 0, "", "delete the framer", cmd_serial_delete},
    {"serial-link", 0, 0, "", "join a terminal program to the far end; prints its path",
     cmd_serial_link},
    {"serial-status", 0, 0, "", "the port, its settings and the terminal link", cmd_serial_status},
    {"tcp-open", 1, 1, "PORT", "init and open the TCP frame socket on PORT", cmd_tcp_open},
    {"tcp-connect", 0, 0, "", "connect the shell's own client", cmd_tcp_connect},
    {"tcp-write", 1, 1, "BYTES", "send a message to the client; show what the shell's got",
     cmd_tcp_write},
    {"tcp-inject", 1, 1, "BYTES", "the shell's client sends a 600-byte frame", cmd_tcp_inject},
    {"tcp-disconnect", 0, 0, "", "the shell's client goes away", cmd_tcp_disconnect},
    {"tcp-close", 0, 0, "", "close the TCP frame socket", cmd_tcp_close},
};

}  // namespace

std::span<const Command> serial_commands() {
    return kCommands;
}

}  // namespace bsp::shell
