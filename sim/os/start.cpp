// Start of a simulated unit for hosting applications (the shell and C programs).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bsp_sim/bsp_sim_c.h"
#include "bsp_sim/clock.h"
#include "bsp_sim/console.h"
#include "bsp_sim/log.h"
#include "bsp_sim/state.h"
#include "bsp_sim/unit.h"

// The console lives with the shell's commands; an executable without them has no console.
extern "C" int bsp_sim_console_start(const char *path) __attribute__((weak));

extern "C" void bsp_sim_start(const char *state_dir) {
    bsp::sim::require_interposition();
    std::string why;
    if (!bsp::sim::set_state_dir(state_dir ? state_dir : "", &why)) {
        std::fprintf(stderr, "bsp_sim: %s\n", why.c_str());
        std::exit(2);
    }
    bsp::sim::reset_unit();
    bsp::sim::use_real_clock();
    bsp::sim::set_log_printing(true);
    const char *console = std::getenv("BSP_SIM_CONSOLE");
    if (console != nullptr && *console != '\0') {
        if (bsp_sim_console_start == nullptr) {
            std::fprintf(stderr,
                         "bsp_sim: BSP_SIM_CONSOLE is set but this program has no console\n");
            std::exit(2);
        }
        if (bsp_sim_console_start(console) != 0) {
            std::exit(2);
        }
    }
}
