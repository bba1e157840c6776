// Start of a simulated unit for hosting applications (the shell and C programs).
#include "bsp_sim/bsp_sim_c.h"
#include "bsp_sim/clock.h"
#include "bsp_sim/log.h"
#include "bsp_sim/state.h"
#include "bsp_sim/unit.h"

extern "C" void bsp_sim_start(const char *state_dir) {
    bsp::sim::require_interposition();
    bsp::sim::set_state_dir(state_dir ? state_dir : "");
    bsp::sim::reset_unit();
    bsp::sim::use_real_clock();
    bsp::sim::set_log_printing(true);
}
