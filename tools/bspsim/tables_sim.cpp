// The simulator shell's commands: every family, the simulated devices' own commands and the
// fault plan.
#include "shell.h"

namespace bsp::shell {

std::vector<std::span<const Command>> command_tables() {
    return {session_commands(),     sim_commands(), db_commands(),   storage_commands(),
            storage_sim_commands(), pci_commands(), dpdp_commands(), serial_commands(),
            serial_sim_commands(),  tcp_commands(), eth_commands(),  sync_commands(),
            faults_commands()};
}

const char *help_note() {
    return "";
}

}  // namespace bsp::shell
