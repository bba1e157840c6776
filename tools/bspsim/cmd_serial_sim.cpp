// The simulated serial line's far end for the shell: what it got, frames and raw bytes it
// sends, a terminal program joined to it, the port's state, and the system() calls recorded
// in place of the login console.
#include <bsp_ctrl/framer_api.h>
#include <bsp_sim/serial.h>
#include <bsp_sim/sim.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "json.h"
#include "link_print.h"
#include "serial_far_end.h"
#include "shell.h"

namespace bsp::shell {

namespace {

using namespace std::chrono_literals;

void ensure_exit_hook() {
    static std::once_flag once;
    std::call_once(once, [] { at_shell_exit(sim::serial_stop_terminal_link); });
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

// Shows what the bytes caused: a message to the callback or a login console.
int inject_serial(const std::vector<uint8_t> &bytes) {
    int before = serial_rx_counter().load();
    size_t consoles = console_command_count();
    if (!sim::serial_peer_write(bytes)) {
        return fail("the far end could not send");
    }
    await_count(serial_rx_counter(), before);
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

int cmd_serial_link(const Args &) {
    ensure_exit_hook();
    std::string path =
        sim::serial_start_terminal_link([](bool to_unit, const uint8_t *data, size_t size) {
            print_far_end(to_unit ? "terminal -> unit" : "unit -> terminal",
                          std::vector<uint8_t>(data, data + size));
        });
    if (path.empty()) {
        return fail("no pseudo-terminal for the link");
    }
    std::printf("attach a terminal program to %s (e.g. picocom -b 115200 %s)\n", path.c_str(),
                path.c_str());
    return 0;
}

void print_serial_status_json(const struct termios *t) {
    std::string link = sim::serial_terminal_link_path();
    JsonObject j;
    j.str("port", sim::serial_slave_path())
        .num("descriptors", static_cast<long long>(sim::serial_open_descriptors()))
        .num("bytes_read", static_cast<long long>(sim::serial_bytes_read()));
    if (t != nullptr) {
        j.raw("settings", JsonObject()
                              .num("speed_code", cfgetospeed(t))
                              .num("iflag", t->c_iflag)
                              .num("cflag", t->c_cflag)
                              .num("lflag", t->c_lflag)
                              .text());
    }
    j.raw("terminal_link", link.empty() ? "null" : json_string(link)).print();
}

int cmd_serial_status(const Args &) {
    struct termios t = {};
    bool known = sim::serial_port_settings(&t);
    if (json()) {
        print_serial_status_json(known ? &t : nullptr);
        return 0;
    }
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

int cmd_system_log(const Args &) {
    for (const std::string &c : sim::system_commands()) {
        std::printf("%s\n", c.c_str());
    }
    return 0;
}

constexpr Command kCommands[] = {
    {"serial-inject", 1, 1, "BYTES", "the far end sends a message in a frame", cmd_serial_inject},
    {"serial-inject-raw", 1, 1, "BYTES", "the far end sends bytes as they are (0d0d: console)",
     cmd_serial_inject_raw},
    {"serial-link", 0, 0, "", "join a terminal program to the far end; prints its path",
     cmd_serial_link},
    {"serial-status", 0, 0, "", "the port, its settings and the terminal link", cmd_serial_status},
    {"system-log", 0, 0, "", "show the commands passed to system()", cmd_system_log},
};

}  // namespace

void show_serial_far_end_note() {
    std::printf("/dev/ttyS0 is %s; its far end is this shell (serial-link joins a terminal)\n",
                sim::serial_slave_path().c_str());
}

void show_serial_far_end() {
    if (sim::serial_terminal_link_path().empty()) {
        print_far_end("far end got", sim::serial_peer_read_quiet(50ms));
    }
}

size_t console_command_count() {
    return sim::system_commands().size();
}

void print_console_commands(size_t from) {
    std::vector<std::string> commands = sim::system_commands();
    for (size_t i = from; i < commands.size(); ++i) {
        std::printf("system(\"%s\")\n", commands[i].c_str());
    }
}

std::span<const Command> serial_sim_commands() {
    return kCommands;
}

}  // namespace bsp::shell
