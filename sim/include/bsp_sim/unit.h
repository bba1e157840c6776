// The simulated unit as a whole: reset between tests and the start-up checks.
#ifndef BSP_SIM_UNIT_H
#define BSP_SIM_UNIT_H

#include <string>

namespace bsp::sim {

// Gives the process a fresh unit: every model registered with a ResetHook is reset (in the
// order of registration), the clock is set to 0 and stays manual, log capture restarts,
// faults are cleared and recorded `system` commands are forgotten.
void reset_unit();

// Registers a model's reset routine; models declare one as a file-scope object.
class ResetHook {
public:
    explicit ResetHook(void (*reset)());
};

// True when the simulated host's definitions of open/read/write/ioctl/lseek/close/system are
// the ones the process resolves, so that the library reaches the simulated devices.
bool interposition_live();

// Aborts the process with a message unless interposition is live: nothing may ever reach a
// real device of the machine.
void require_interposition();

}  // namespace bsp::sim

#endif
