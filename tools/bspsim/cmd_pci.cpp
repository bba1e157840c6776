// Shell commands of the pci families.
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr Command kCommands[] = {
    {"", 0, 0, "", "", nullptr},
};

}  // namespace

std::span<const Command> pci_commands() { return std::span(kCommands).first(0); }

}  // namespace bsp::shell
