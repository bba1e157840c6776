// Shell commands of the db families.
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr Command kCommands[] = {
    {"", 0, 0, "", "", nullptr},
};

}  // namespace

std::span<const Command> db_commands() { return std::span(kCommands).first(0); }

}  // namespace bsp::shell
