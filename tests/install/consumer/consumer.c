/* A C application built against the installed library, hosted by the simulated unit. */
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_sim/bsp_sim_c.h>

#include <stdio.h>

int main(void) {
    int eps = -1;
    bsp_sim_start(NULL);
    ehsl_pmap_init();
    if (ehsl_pmap_hw_to_eps(1, &eps) != 0) {
        return 1;
    }
    printf("hardware port 1 is switch port %d\n", eps);
    return 0;
}
