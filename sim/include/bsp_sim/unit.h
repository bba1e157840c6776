// The simulated unit as a whole: reset between tests and the start-up checks.
#ifndef BSP_SIM_UNIT_H
#define BSP_SIM_UNIT_H

#include <string>

namespace bsp::sim {

// Gives the process a fresh unit: the core is reset first (timers stopped and the clock set
// to 0 and manual, log capture restarted, faults cleared, FPGA registers cleared, the default
// board loaded), then every model registered with a ResetHook, in the order of registration.
void reset_unit();

// Registers a reset routine; models declare one as a file-scope object. Core parts of the
// simulated host use kCorePhase so that they are reset before any model.
// Models whose own threads call into the library drain them in kQuiescePhase, before the
// core and the board they may read are reset.
constexpr int kQuiescePhase = -1;
constexpr int kCorePhase = 0;
constexpr int kModelPhase = 1;

class ResetHook {
  public:
    explicit ResetHook(void (*reset)(), int phase = kModelPhase);
};

// True when the simulated host's definitions of open/read/write/ioctl/lseek/close/system are
// the ones the process resolves, so that the library reaches the simulated devices.
bool interposition_live();

// Aborts the process with a message unless interposition is live: nothing may ever reach a
// real device of the machine.
void require_interposition();

}  // namespace bsp::sim

#endif
