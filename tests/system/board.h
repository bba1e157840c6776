/* What differs between the two settings the checks run in: the emulated board (guest_board.c)
 * and a simulated unit set up like it (sim_board.cpp). */
#ifndef BSP_SYSTEM_BOARD_H
#define BSP_SYSTEM_BOARD_H

#ifdef __cplusplus
extern "C" {
#endif

/* Before the check groups named in argv[1..] run. */
void board_start(int argc, char **argv);

/* The TCP port the host side's client connects to. */
int board_tcp_port(void);

/* True once the console hand-over's command has started, waiting up to `seconds`. */
int board_console_started(int seconds);

#ifdef __cplusplus
}
#endif

#endif
