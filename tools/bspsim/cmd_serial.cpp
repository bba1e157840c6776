// Shell commands of the serial families.
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr Command kCommands[] = {
    {"", 0, 0, "", "", nullptr},
};

}  // namespace

std::span<const Command> serial_commands() { return std::span(kCommands).first(0); }

}  // namespace bsp::shell
