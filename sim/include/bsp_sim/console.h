/* The console of a simulated unit: the shell's commands served on a Unix-domain socket, so
 * that a person or a script drives the unit (far sides, SFP cage, link, radio, fault plan) and
 * reads its devices while an application runs in it. */
#ifndef BSP_SIM_CONSOLE_H
#define BSP_SIM_CONSOLE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Serves the console on `path` (created mode 0600; a path that exists and is not a stale
 * socket is refused). Returns 0, or -1 with the reason on standard error. `bsp_sim_start`
 * calls it when the environment variable BSP_SIM_CONSOLE names a path. */
int bsp_sim_console_start(const char *path);

/* Stops serving: the socket is removed, every client is let go. */
void bsp_sim_console_stop(void);

#ifdef __cplusplus
}
#endif

#endif
