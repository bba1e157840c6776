/** @file
 * SEIS: SyncE synchronisation status message (SSM) handling of the FPGA's SEIS block, for up
 * to two Ethernet links. Detection at start feeds the port map's SyncE capabilities; the
 * handlers follow each link's port through enable, disable, link up/down and PHY role
 * changes; seis_cmd prints the links' status for the debug shell.
 *
 * Results: 0, or -1 for a hardware port that no SEIS link serves. Diagnostics go to the debug
 * log on DBG_SEIS_INDEX (errors at level 1, tracing at level 2).
 *
 * @par Threads and locks
 * No lock is taken. The handlers run in the caller's thread; the link handler installed with
 * the MAC/SFP driver runs in the driver's context. Each handler works on one link entry and
 * its link's registers.
 */
#ifndef BSP_CTRL_EHSL_SEIS_H
#define BSP_CTRL_EHSL_SEIS_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Detects the SEIS block and its links (reporting SyncE-capable ports to the port map and
 * then ending its capability initialisation phase), initialises the link registers on reset
 * type 1 or takes them over on a warm restart, and installs the link handler with the
 * MAC/SFP driver. Call once at start, after ehsl_pmap_init.
 * @return 0.
 */
BSP_API int init_seis(void);

/** The port is enabled for SSM handling: programs the link for its PHY role.
 * @return 0 (also when already enabled: nothing written), or -1.
 */
BSP_API int seis_handle_enable_port(int hw_port);

/** The port is disabled: the link stops and its ingress QL is QL-FAILED.
 * @return 0 (also when already disabled: nothing written), or -1.
 */
BSP_API int seis_handle_disable_port(int hw_port);

/** The port's PHY role changes. Applied whether or not the link is enabled, and remembered
 * for a later enable.
 * @param master non-zero: master.
 * @param slave non-zero: slave; neither set: bidirectional.
 * @return 0; -1 when both are set, or for a port no link serves.
 */
BSP_API int seis_handle_set_eth_mode(int hw_port, int master, int slave);

/** Debug-shell command "seis [-h] [-r] [-v]": writes the link status table, or with -r the
 * raw registers, or the usage text into res (res_length bytes): never more than res_length
 * bytes, NUL-terminated when res_length > 0, cut at the end when it does not fit.
 * @param argv the arguments; argv[0] is the command name.
 * @param res may be NULL when res_length is 0.
 * @return 0.
 */
BSP_API int seis_cmd(int argc, char **argv, int res_length, char *res);

/** The command's synopsis and one-line description for the command table. */
/** @{ */
BSP_API extern const char seis_synopsis[];
BSP_API extern const char seis_descr[];
/** @} */

BSP_EXTERN_C_END

#endif
