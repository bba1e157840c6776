// The unit shell's commands: the library's families against the unit's own devices. The
// simulator's device commands and fault plan are absent.
#include "shell.h"

namespace bsp::shell {

std::vector<std::span<const Command>> command_tables() {
    return {session_commands(), sim_commands(),  db_commands(),     storage_commands(),
            pci_commands(),     dpdp_commands(), serial_commands(), tcp_commands(),
            eth_commands(),     sync_commands()};
}

const char *help_note() {
    return "The db, e2prom, flash, i2c, serial and tcp commands use this unit's devices.\n"
           "Simulated in this build, as the board has none: the FPGA registers (fpga-*), the\n"
           "board description (board, reset-type), the MAC/SFP driver and SFP monitor\n"
           "(Ethernet commands, sfp-*), the HDLC channel (dpdp-*), the radio link (sync) and\n"
           "the PCI window with its far side (pci-*).\n";
}

}  // namespace bsp::shell
