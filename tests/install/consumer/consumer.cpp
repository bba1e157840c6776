// A C++ application built against the installed library, hosted by the simulated unit.
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_sim/sim.h>

#include <cstdio>

int main() {
    bsp::sim::require_interposition();
    bsp::sim::reset_unit();
    ehsl_pmap_init();
    int eps = -1;
    if (ehsl_pmap_hw_to_eps(1, &eps) != 0) {
        return 1;
    }
    std::printf("hardware port 1 is switch port %d\n", eps);
    return 0;
}
