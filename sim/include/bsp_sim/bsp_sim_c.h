/* The simulated host for applications written in C: start a fresh simulated unit with the
 * real clock, so that the application runs against libbsp_ctrl.so off-target. */
#ifndef BSP_SIM_BSP_SIM_C_H
#define BSP_SIM_BSP_SIM_C_H

#ifdef __cplusplus
extern "C" {
#endif

/* Checks that the simulated devices are reachable (aborts otherwise), resets the unit,
 * switches to the real clock and prints the debug log to standard error at level 1.
 * `state_dir` keeps board images between runs; NULL keeps everything in memory. */
void bsp_sim_start(const char *state_dir);

#ifdef __cplusplus
}
#endif

#endif
