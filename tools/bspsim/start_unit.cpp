// The unit shell's unit: the host layer and the board services the board lacks (simulated),
// beside the unit's own devices. Nothing is interposed: every device file is the kernel's.
#include <bsp_sim/clock.h>
#include <bsp_sim/log.h>
#include <bsp_sim/state.h>
#include <bsp_sim/unit.h>

#include <cstdio>

#include "start.h"

namespace bsp::shell {

const char kProgram[] = "bspunit";
const char kDefaultStateDir[] = "./bspunit-state";

bool start_unit(const std::string &state_dir) {
    std::string why;
    if (!bsp::sim::set_state_dir(state_dir, &why)) {
        std::fprintf(stderr, "bspunit: %s\n", why.c_str());
        return false;
    }
    bsp::sim::reset_unit();
    bsp::sim::use_real_clock();
    bsp::sim::set_log_printing(true);
    keep_fpga_registers();
    return true;
}

}  // namespace bsp::shell
