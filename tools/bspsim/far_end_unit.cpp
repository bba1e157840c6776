// On a unit the serial line's far end is real: the shell sees neither what it got nor the
// login console, which system() really starts.
#include "serial_far_end.h"

namespace bsp::shell {

void show_serial_far_end_note() {}

void show_serial_far_end() {}

size_t console_command_count() {
    return 0;
}

void print_console_commands(size_t) {}

}  // namespace bsp::shell
