// How the shell's unit starts: the simulated unit (bspsim), or the board services beside the
// real devices of the unit the shell runs on (bspunit). One of start_sim.cpp and
// start_unit.cpp is linked.
#ifndef BSP_TOOLS_BSPSIM_START_H
#define BSP_TOOLS_BSPSIM_START_H

#include <string>

namespace bsp::shell {

// The program's name in its messages, and the state folder it uses unless told another.
extern const char kProgram[];
extern const char kDefaultStateDir[];

// Starts the unit with its state folder; false when it cannot, said on standard error.
bool start_unit(const std::string &state_dir);

// The FPGA registers as the last run in the state folder left them, saved again at the end.
void keep_fpga_registers();

}  // namespace bsp::shell

#endif
