// Shell commands of the serial framer: open, send, change speed, hand the port to the login
// console, and show what arrives. What the port's far end saw is shown where the shell can
// see it (the simulator's line).
#include <bsp_ctrl/framer_api.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "link_print.h"
#include "serial_far_end.h"
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr size_t kSerialRxSize = 588;

void print_serial_rx(UINT8 *msg) {
    print_buffer("serial rx", msg, kSerialRxSize);
    std::free(msg);
    ++serial_rx_counter();
}

// The rates the framer sets; it would run any other at 9600 without a word.
bool parse_rate(const std::string &word, uint32_t *rate) {
    if (!parse_choice(word, {"2400", "4800", "9600", "19200", "38400", "57600", "115200"},
                      "RATE")) {
        return false;
    }
    *rate = static_cast<uint32_t>(std::stoul(word));
    return true;
}

// Whether the framer calls succeeded; the failing one's result is the reason.
int framer_result(const char *call, UINT32 result) {
    print_result(call, result);
    return result == 0 ? 0 : fail("%s = %u", call, static_cast<unsigned>(result));
}

int cmd_serial_open(const Args &args) {
    uint32_t rate = 115200;
    if (!args.empty() && !parse_rate(args[0], &rate)) {
        return 1;
    }
    UINT32 created = FramerCreate(0);
    UINT32 opened = created == 0 ? FramerOpen(print_serial_rx, rate) : 1;
    std::printf("FramerCreate = %u, FramerOpen = %u%s\n", created, opened,
                result_meaning("FramerOpen", created | opened).c_str());
    show_serial_far_end_note();
    return created == 0 && opened == 0 ? 0 : fail("FramerCreate or FramerOpen failed");
}

int cmd_serial_write(const Args &args) {
    std::vector<uint8_t> msg;
    if (!parse_bytes(args[0], &msg)) {
        return 1;
    }
    UINT32 result = FramerWrite(msg.data(), static_cast<UINT32>(msg.size()));
    int rc = framer_result("FramerWrite", result);
    if (result == 0) {
        show_serial_far_end();
    }
    return rc;
}

int cmd_serial_rate(const Args &args) {
    uint32_t rate = 0;
    if (!parse_rate(args[0], &rate)) {
        return 1;
    }
    return framer_result("FramerChangeBaudRate", FramerChangeBaudRate(rate));
}

int cmd_serial_close(const Args &) {
    size_t before = console_command_count();
    print_result("FramerClose", FramerClose());
    print_console_commands(before);
    return 0;
}

int cmd_serial_console(const Args &) {
    size_t before = console_command_count();
    print_result("FramerEnableDebugPort", FramerEnableDebugPort());
    print_console_commands(before);
    return 0;
}

int cmd_serial_delete(const Args &) {
    return framer_result("FramerDelete", FramerDelete());
}

constexpr Command kCommands[] = {
    {"serial-open", 0, 1, "[RATE]",
     "create and open the serial framer (2400..115200, default 115200)", cmd_serial_open},
    {"serial-write", 1, 1, "BYTES", "send a message; show the frame the far end got",
     cmd_serial_write},
    {"serial-rate", 1, 1, "RATE", "change the port's speed", cmd_serial_rate},
    {"serial-close", 0, 0, "", "close: hand the port to the login console", cmd_serial_close},
    {"serial-console", 0, 0, "", "FramerEnableDebugPort", cmd_serial_console},
    {"serial-delete", 0, 0, "", "delete the framer", cmd_serial_delete},
};

}  // namespace

std::atomic<int> &serial_rx_counter() {
    static std::atomic<int> received{0};
    return received;
}

std::span<const Command> serial_commands() {
    return kCommands;
}

}  // namespace bsp::shell
