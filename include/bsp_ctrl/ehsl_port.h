/** @file
 * Ethernet port layer: attributes, PHY access, configuration and autonegotiation of the unit's
 * SFP Ethernet port, and the port diagnostic commands.
 *
 * `port` is a LAN port number 1..N of the board description; only ports whose MII address is
 * 0 (the SFP cage) are handled. Results: 0 on success; -1 for an illegal port or a failure;
 * -2 for an SFP port without a usable module (and for raw PHY access to a fibre module);
 * other negative values are the MAC/SFP driver's own results passed on. A null out-pointer
 * gives -1 before anything is done. Messages go to the debug log on DBG_EHSL_PORT_INDEX.
 *
 * @par Threads and locks
 * No operation takes a lock of its own except ehsl_port_supported_speeds_get (the driver's
 * lock). Callers are the application's threads.
 */
#ifndef BSP_CTRL_EHSL_PORT_H
#define BSP_CTRL_EHSL_PORT_H

#include <bsp_ctrl/bsp_types.h>
/* sfp_hw_t, the module type in the SFP cage, is the SFP monitor's: the host declares it. */
#include <bsp_ctrl/platform/bsp_board.h>

BSP_EXTERN_C_BEGIN

/** Class of a port, which every classified operation starts from. */
typedef enum ehsl_port_hw_e {
    EHSL_PORT_ILLEGAL_PORT = 0,
    EHSL_PORT_SFP_EMPTY = 1,
    EHSL_PORT_SFP_FIBER = 2,
    EHSL_PORT_SFP_COPPER = 3
} ehsl_port_hw_t;

/** MDI-X mode of a copper port. */
typedef enum ehsl_port_mdix_e {
    EHSL_PORT_MDIX_AUTO = 0,
    EHSL_PORT_MDIX_NORMAL = 1,
    EHSL_PORT_MDIX_XOVER = 2
} ehsl_port_mdix_t;

/** Port configuration; the last two values also serve as duplex values. */
typedef enum ehsl_port_cfg_e {
    EHSL_PORT_CONFIG_AUTODETECT = 1,
    EHSL_PORT_CONFIG_1000FD_MASTER = 2,
    EHSL_PORT_CONFIG_1000FD_SLAVE = 3,
    EHSL_PORT_CONFIG_1000FD = 4,
    EHSL_PORT_CONFIG_1000HD = 5,
    EHSL_PORT_CONFIG_100FD = 6,
    EHSL_PORT_CONFIG_100HD = 7,
    EHSL_PORT_CONFIG_10FD = 8,
    EHSL_PORT_CONFIG_10HD = 9,
    EHSL_PORT_CONFIG_FD = 10,
    EHSL_PORT_CONFIG_HD = 11
} ehsl_port_cfg_t;

/** Speed status of a running link. */
typedef enum ehsl_port_speed_e {
    EHSL_PORT_SPEED_1000FD_MASTER = 1,
    EHSL_PORT_SPEED_1000FD_SLAVE = 2,
    EHSL_PORT_SPEED_1000FD = 3,
    EHSL_PORT_SPEED_1000HD = 4,
    EHSL_PORT_SPEED_100FD = 5,
    EHSL_PORT_SPEED_100HD = 6,
    EHSL_PORT_SPEED_10FD = 7,
    EHSL_PORT_SPEED_10HD = 8,
    EHSL_PORT_SPEED_FD = 9,
    EHSL_PORT_SPEED_HD = 10
} ehsl_port_speed_t;

/** The port layer's stub record: entry i of each array belongs to port number i. */
typedef struct kvu_stub_s {
    int oper_status[3];
    int adminstatus[3];
    int speed_value[3];
    int autoneg_value[3];
    int pause_tx_value[3];
    int pause_rx_value[3];
    int ports_enabled[3];
    int num_sfp[3];
    int duplex_value[3];
    int mode_value[3];
} kvu_stub;

/** Null until ehsl_port_init points it at the stub record. */
BSP_API extern kvu_stub *kvu_info;

/* ---- start and classification ---- */

/** Starts the MAC/SFP driver and points kvu_info at the stub record; may be run again. */
BSP_API void ehsl_port_init(void);

/** Module type of the port's cage.
 * @return SFP_NO_SFP for a port outside 1..N or with a PHY address, else what the SFP
 * monitor reports.
 */
BSP_API sfp_hw_t sfp_port_hw_status(int port);

/* ---- raw PHY access (copper modules; fibre gives -2) ---- */

/** Reads PHY register `phyreg` of a copper module over MDIO into `val`. */
BSP_API int ehsl_port_phy_get(int port, int phyreg, int *val);

/** Writes `val` & 0xFFFF to PHY register `phyreg` of a copper module over MDIO. */
BSP_API int ehsl_port_phy_set(int port, int phyreg, int val);

/* ---- attributes ---- */

/** Writes the speed in Mbit/s (1000 for a fibre module), 0 when the link is down. */
BSP_API int ehsl_port_speed_get(int port, int *speed);

/** Sets the speed in Mbit/s; a fibre module takes 1000 only (-1 otherwise). */
BSP_API int ehsl_port_speed_set(int port, int speed);

/** Writes the administrative status: 1 up, 0 down (a copper PHY powered down and isolated);
 * a fibre module leaves `*status` untouched. */
BSP_API int ehsl_port_adminstatus_get(int port, int *status);

/** Writes the link status: 1 up, 0 down. */
BSP_API int ehsl_port_link_status_get(int port, int *val);

/** Writes the duplex, EHSL_PORT_CONFIG_FD or EHSL_PORT_CONFIG_HD (full for a fibre module). */
BSP_API int ehsl_port_duplex_get(int port, ehsl_port_cfg_t *duplex);

/** Sets the duplex, EHSL_PORT_CONFIG_FD or EHSL_PORT_CONFIG_HD, when it differs (a fibre
 * module: nothing done, 0). */
BSP_API int ehsl_port_duplex_set(int port, ehsl_port_cfg_t duplex);

/** Writes the MDI-X mode (EHSL_PORT_MDIX_AUTO for a fibre module). */
BSP_API int ehsl_port_mdix_get(int port, ehsl_port_mdix_t *mode);

/** Sets the MDI-X mode when it differs; a fibre module takes EHSL_PORT_MDIX_NORMAL only
 * (-1 otherwise). */
BSP_API int ehsl_port_mdix_set(int port, ehsl_port_mdix_t mode);

/** Writes whether autonegotiation is on (non-zero) or off. */
BSP_API int ehsl_port_autoneg_get(int port, int *autoneg);

/** Switches autonegotiation on (non-zero) or off; nothing when already in force. */
BSP_API int ehsl_port_autoneg_set(int port, int autoneg);

/** Writes the link-loss forwarding status. */
BSP_API int ehsl_port_llf_get(int port, int *status);

/** Switches link-loss forwarding on (non-zero) or off. */
BSP_API int ehsl_port_llf_set(int port, int enable);

/* ---- operations without port classification ---- */

/** The same as ehsl_port_link_status_get. */
BSP_API int ehsl_port_oper_status_get(int port, int *operstatus);

/** Stores status_set in entry `port` (0..2) of the stub's oper_status; touches no hardware.
 * @return 0; -1 for another port or before ehsl_port_init.
 */
BSP_API int ehsl_port_oper_status_set(int port, int status_set);

/** Writes 1544, always.
 * @return 0 (-1 for a null `mtu`).
 */
BSP_API int ehsl_port_mtu_get(int port, int *mtu);

/** Stores nothing.
 * @return 0 always.
 */
BSP_API int ehsl_port_mtu_set(int port, int mtu);

/** Logs the port and `enable` and does nothing else.
 * @return 0 always.
 */
BSP_API int ehsl_port_sync_enable_set(int port, int enable, int ssm_supported);

/** Not supported: nothing read or written.
 * @return -1 always.
 */
/** @{ */
BSP_API int ehsl_port_untagged_priority_get(int port, int *pri);
BSP_API int ehsl_port_untagged_priority_set(int port, int pri);
/** @} */

/** Statistics: the library holds no counters; the first word at `counter` and *res become 0.
 * Returns 0 (-1 for a null `counter` or `res`). */
/** @{ */
BSP_API int ehsl_es_stat_ifTable(int port, unsigned int *counter, int count, unsigned int *res);
BSP_API int ehsl_es_stat_ifXTable(int port, void *counter, int count, unsigned int *res);
BSP_API int ehsl_es_stat_clear_statistics(int port);
BSP_API int ehsl_port_stat_clear_all(void);
/** @} */

/* ---- configuration and autonegotiation ---- */

/** Moves the port towards `config`: with autonegotiation on, by advertisement and restart;
 * with it off, by forced speed, master/slave and duplex (in that order; a failure stops the
 * sequence with the earlier steps left applied). */
BSP_API int ehsl_port_config_set(int port, ehsl_port_cfg_t config);

/** Reads the configuration.
 * @param autoneg written non-zero when autonegotiation is on.
 * @param speed the configuration: the advertised one with autonegotiation on, the forced one
 * with it off.
 * @param duplex a duplex value, EHSL_PORT_CONFIG_FD or EHSL_PORT_CONFIG_HD.
 */
BSP_API int ehsl_port_config_get(int port, int *autoneg, ehsl_port_cfg_t *speed,
                                 ehsl_port_cfg_t *duplex);

/** Writes the speed status of the running link; -1 when the link is down. */
BSP_API int ehsl_port_speed_status_get(int port, ehsl_port_speed_t *speed_status);

/** Master mode code: 1 slave, 2 master, 3 automatic; passed to the driver unchecked. */
BSP_API int ehsl_port_master_set(int port, int master);

/** Pause in the PHY advertisement and the FPGA flow-control field; pause_rx decides. */
BSP_API int ehsl_port_pause_set(int port, int pause_tx, int pause_rx);

/** Writes the pause setting: `*pause_rx` 1 when the PHY advertises pause, `*pause_tx`
 * always 0. ehsl_port_mac_pause_get is the same under its own name. */
/** @{ */
BSP_API int ehsl_port_pause_get(int port, int *pause_tx, int *pause_rx);
BSP_API int ehsl_port_mac_pause_get(int port, int *pause_tx, int *pause_rx);
/** @} */

/** Switches pause off, then passes `status` to the driver. */
BSP_API int ehsl_port_adminstatus_set(int port, int status);

/** Writes `size` bytes of the supported-speeds bitmap, most significant byte first, with the
 * port's SyncE capability. Holds the driver's lock; blocks while the SyncE capability
 * initialisation of the port map is unfinished. */
BSP_API int ehsl_port_supported_speeds_get(int port, unsigned char *speeds, int size);

/* ---- diagnostic commands (standard output; always 0) ---- */

/** Prints the board description's port configuration on standard output.
 * @return 0 always.
 */
BSP_API int kvu_hal_cmd(void);

/** Prints the port layer's stub record on standard output.
 * @return 0 always.
 */
BSP_API int kvu_stub_cmd(void);

/** Prints the port map on standard output.
 * @return 0 always.
 */
BSP_API int kvu_pmap_cmd(void);

/** Runs the named port operation with `port` and `value` and prints its outcome on standard
 * output; `phy` is not used; a NULL or unknown name does nothing.
 * @return 0 always.
 */
BSP_API int cli_cmd(int phy, int port, void *cmd_name, int value);

BSP_EXTERN_C_END

#endif
