/* The simulated host for applications written in C: start a fresh simulated unit with the
 * real clock, so that the application runs against libbsp_ctrl.so off-target. */
#ifndef BSP_SIM_BSP_SIM_C_H
#define BSP_SIM_BSP_SIM_C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Checks that the simulated devices are reachable (aborts otherwise), resets the unit,
 * switches to the real clock and prints the debug log to standard error at level 1.
 * `state_dir` keeps board images between runs; NULL keeps everything in memory. Call it
 * before the first call into the library: until then the library's device opens fail. */
void bsp_sim_start(const char *state_dir);

/* A zero-filled memory region of `size` bytes that the library can name by a 32-bit address
 * (the store and the database need one: DbCreate(0, bsp_sim_region(size), size)). Returns
 * its base address, or 0 when no such region can be mapped. It stays mapped until the
 * process ends; it is not kept in the state folder. */
uint32_t bsp_sim_region(uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
