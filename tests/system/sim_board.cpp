// A simulated unit set up like the emulated board, so that the guest program's checks run
// against the simulated devices too: bus 1 with two 16 KiB EEPROMs holding the board's
// patterns, 0x57 on the bus and 0x53 bound to the EEPROM driver (0x57 left out for the sysfs
// fallback's group); a 2 MiB flash of 4 KiB sectors, erased; the serial line's far end on a
// pseudo-terminal named on the first line of output, for the host side's peer; the TCP port
// the host side names in BSP_CHECKS_TCP_PORT. The simulated unit records the console
// hand-over's command instead of running it.
#include <bsp_sim/bsp_sim_c.h>
#include <bsp_sim/sim.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "board.h"

namespace {

// The pattern the host side preloads into a chip of the board: byte i is i * salt + 3.
void load_pattern(bsp::sim::EepromChip &chip, unsigned salt) {
    std::vector<uint8_t> bytes(bsp::sim::EepromChip::kSize);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * salt + 3);
    }
    chip.poke(0, bytes);
}

bool runs_group(int argc, char **argv, const char *group) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], group) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void board_start(int argc, char **argv) {
    using namespace bsp::sim;
    bsp_sim_start(nullptr);  // as an application starts it: real time, no state folder
    remove_i2c_chip(1, 0x50);
    remove_i2c_chip(1, 0x56);
    load_pattern(*eeprom_chip(), 7);
    // The chip's image lives as long as the program: the descriptor is never closed.
    auto driver_owned = std::make_shared<EepromChip>(make_memfd("eeprom-0x53", EepromChip::kSize));
    load_pattern(*driver_owned, 13);
    add_i2c_chip(1, 0x53, driver_owned);
    bind_eeprom_driver(1, 0x53);
    if (runs_group(argc, argv, "eeprom-sysfs")) {
        remove_i2c_chip(1, 0x57);
    }
    configure_flash({2u << 20, 4u << 10, 0});
    if (runs_group(argc, argv, "serial")) {
        std::printf("  serial far end: %s\n", serial_start_terminal_link(nullptr).c_str());
        std::fflush(stdout);
    }
}

int board_tcp_port(void) {
    const char *port = std::getenv("BSP_CHECKS_TCP_PORT");
    return port != nullptr ? std::atoi(port) : 5555;
}

int board_console_started(int seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        for (const std::string &command : bsp::sim::system_commands()) {
            if (command == "getty -L ttyS0 115200 vt100") {
                return 1;
            }
        }
        if (std::chrono::steady_clock::now() > until) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
