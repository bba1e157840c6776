// The serial port's far end as the shell sees it. In the simulator it is the simulated line
// (or a terminal program joined to it) and the login console's system() calls are recorded;
// on a unit it is the real line, which the shell cannot see, and system() really runs.
#ifndef BSP_TOOLS_BSPSIM_SERIAL_FAR_END_H
#define BSP_TOOLS_BSPSIM_SERIAL_FAR_END_H

#include <atomic>
#include <cstddef>

namespace bsp::shell {

// Messages the framer's receive callback has handed to the shell so far.
std::atomic<int> &serial_rx_counter();

// A line saying where the port's far end is, after the framer opened.
void show_serial_far_end_note();
// What the far end got from a write that succeeded.
void show_serial_far_end();
// Commands passed to system() so far (the login console hand-over), and printing those
// after the first `from` as system("...") lines.
size_t console_command_count();
void print_console_commands(size_t from);

}  // namespace bsp::shell

#endif
