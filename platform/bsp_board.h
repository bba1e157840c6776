/** @file
 * Board hardware services of the host process: FPGA register access, the board description,
 * the Ethernet MAC/SFP driver, the SFP monitor, the HDLC channel service, the radio-link
 * driver, the reset type and restart-log handling.
 *
 * Like the OS layer, every symbol here stays undefined in libbsp_ctrl.so and is resolved from
 * the host process at load time.
 *
 * @par Threads and locks
 * The MAC/SFP driver calls its link-event callbacks in its own context, the HDLC service its
 * receive handler and reconfiguration operations in its context, and the radio-link driver
 * its compensation-shift callback in its context. eth_ctrl_emac_sfp_sem_wait and
 * eth_ctrl_emac_sfp_sem_post are the MAC/SFP driver's own lock.
 */
#ifndef BSP_PLATFORM_BSP_BOARD_H
#define BSP_PLATFORM_BSP_BOARD_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/* ---- FPGA register access (results are not examined by the library) ---- */

/** Reads the 16-bit register at `address` into *value. */
int vanta_read(UINT32 address, UINT16 *value);

/** Writes the whole 16-bit register at `address`. */
int vanta_write(UINT32 address, UINT16 value);

/** Reads the 16-bit register at `address` AND `mask` into *value. */
int vanta_read_reg(UINT32 address, UINT16 *value, UINT16 mask);

/** Reads the 32-bit register at `address` into *value. */
int vanta2_read32(UINT32 address, UINT32 *value);

/** Writes the whole 32-bit register at `address`. */
int vanta2_write32(UINT32 address, UINT32 value);

/** Reads the 32-bit register at `address` AND `mask` into *value, not shifted (callers
 * shift). */
int vanta2_read32_reg(UINT32 address, UINT32 *value, UINT32 mask);

/** Read-modify-write of the 32-bit register at `address`: the bits in `mask` take the bits
 * of `value`, the others keep theirs. */
int vanta2_write32_reg(UINT32 address, UINT32 value, UINT32 mask);

/* ---- Board description: 32-bit signed fields, owned by the host, never written ---- */
/** Port entries in the per-entry tables. */
#define KVU_HAL_PORT_ENTRIES 3
/** Hardware ports, numbered 0..3. */
#define KVU_HAL_HW_PORTS 4

/** The board description. A port entry is the index 0..2 of the unit's Ethernet ports in the
 * per-entry tables; hardware port numbers run 0..3. */
typedef struct kvu_hal_board_s {
    INT max_hw_port;                              /**< offset 0: hw ports 0..this are valid */
    INT reserved[3];                              /**< offset 4: not read */
    INT lan_ports;                                /**< offset 16 */
    INT wan_ports;                                /**< offset 20 */
    INT sfp_ports;                                /**< offset 24 */
    INT enabled_ports;                            /**< offset 28: bitmap */
    INT hw_port_of_entry[KVU_HAL_PORT_ENTRIES];   /**< offset 32 */
    INT entry_of_hw_port[KVU_HAL_HW_PORTS];       /**< offset 44: -1 when none */
    INT mii_addr_of_entry[KVU_HAL_PORT_ENTRIES];  /**< offset 60: 0 marks the SFP cage */
    INT lan_port_of_entry[KVU_HAL_PORT_ENTRIES];  /**< offset 72 */
    INT seis_link_of_entry[KVU_HAL_PORT_ENTRIES]; /**< offset 84 */
    INT cp_num_of_entry[KVU_HAL_PORT_ENTRIES];    /**< offset 96 */
} kvu_hal_board_t;

/** The board description, valid and unchanged for the life of the process; the library
 * calls this anew before every field it reads. */
const kvu_hal_board_t *kvu_hal_get(void);

/** Hardware ports that carry a time-stamping unit: the radio-link port and the SFP port. */
/** @{ */
#define KVU_HAL_RL_HW_PORT 1
#define KVU_HAL_SFP_HW_PORT 3
/** @} */

/** Module type in the SFP cage, as the SFP monitor reports it (the port layer's
 * sfp_port_hw_status passes it on). */
typedef enum sfp_hw_e {
    SFP_NO_SFP = 0,
    SFP_COPPER = 1,
    SFP_FIBER = 2,
    SFP_ERROR = 3,
    SFP_NOT_INIT = 65535
} sfp_hw_t;

/* ---- Ethernet MAC/SFP driver: negative (or non-zero where stated) is failure ---- */
/** Autonegotiation commands of eth_ctrl_emac_sfp_autoneg_set. */
/** @{ */
#define PHY_AUTONEG_RESTART 0
#define PHY_AUTONEG_START 1
#define PHY_AUTONEG_STOP 2
/** @} */

/** Link-event callback of the 1588 control: hardware port, status and speed. */
typedef int (*eth_ecps_link_event_cb)(int port, int status, unsigned int speed);

/** Link-event callback of the SEIS handling: hardware port and link status (1 = up). */
typedef int (*eth_seis_link_up_event_cb)(int port, int linkstatus);

/** Starts the driver; called once by ehsl_port_init. */
int eth_ctrl_emac_sfp_init(void);

/** @return the value of PHY register `reg` at MDIO address `address`. */
int eth_ctrl_emac_sfp_mdio_read(int address, int reg);

/** Writes the low 16 bits of `value` to PHY register `reg` at MDIO address `address`. */
int eth_ctrl_emac_sfp_mdio_write(int address, int reg, int value);

/** Per-port attributes: a port number and a value, or a pointer to one. Duplex values are
 * those of ehsl_port_cfg_e, MDI-X modes those of ehsl_port_mdix_e. */
/** @{ */
int eth_ctrl_emac_sfp_speed_get(int port, int *speed);
int eth_ctrl_emac_sfp_speed_set(int port, int speed);
int eth_ctrl_emac_sfp_duplex_get(int port, int *duplex);
int eth_ctrl_emac_sfp_duplex_set(int port, int duplex);
int eth_ctrl_emac_sfp_mdix_get(int port, int *mode);
int eth_ctrl_emac_sfp_mdix_set(int port, int mode);
int eth_ctrl_emac_sfp_llf_get(int port, int *status);
int eth_ctrl_emac_sfp_llf_set(int port, int enable);
int eth_ctrl_emac_sfp_master_set(int port, int master);
int eth_ctrl_emac_sfp_get_operstatus(int port, int *status);
/** @} */

/** Sets the administrative status (no port argument). */
int eth_ctrl_emac_sfp_set_adminstatus(int status);

/** Writes whether autonegotiation is on (no port argument). */
int eth_ctrl_emac_sfp_autoneg_get(int *autoneg);

/** PHY_AUTONEG_RESTART, PHY_AUTONEG_START or PHY_AUTONEG_STOP (no port argument). */
int eth_ctrl_emac_sfp_autoneg_set(int mode);

/** Takes and gives back the driver's own lock (held around the supported-speeds query). */
/** @{ */
int eth_ctrl_emac_sfp_sem_wait(void);
int eth_ctrl_emac_sfp_sem_post(void);
/** @} */

/** Installs the callback that the driver calls on each link event of a hardware port, in its
 * own context. */
/** @{ */
int eth_ctrl_emac_sfp_ecpsLinkEvent_install(eth_ecps_link_event_cb cb);
int eth_ctrl_emac_sfp_SeisLinkUpEvent_install(eth_seis_link_up_event_cb cb);
/** @} */

/* ---- SFP monitor ---- */

/** @return the module type of the unit's SFP cage. */
sfp_hw_t sfp_mon_get_module_type(void);

/* ---- HDLC channel service ---- */

/** Reconfiguration operation: 0 = done, 1 = failed. */
typedef INT (*hdlc_reconf_op)(void);

/** Receive handler, called when frames have arrived. */
typedef void (*hdlc_rx_handler)(UINT32 hdlc_id);

/** Registers the two operations that the service may call to reconfigure the channel. */
int hdlc_set_reconf_ch_data(UINT32 channel, hdlc_reconf_op enable, hdlc_reconf_op disable);

/** Opens the channel (the library passes option1 15 and option2 128).
 * @return 0 when opened.
 */
int hdlc_open(UINT32 channel, UINT32 clock_mode, UINT32 baud_rate, UINT32 crc_type, UINT32 option1,
              UINT32 option2);

/** Closes the channel.
 * @return 0 when closed.
 */
int hdlc_close(UINT32 channel);

/** Installs the receive handler of the channel. */
int hdlc_install_rx_callback(UINT32 channel, hdlc_rx_handler handler);

/** @return non-zero while a received frame waits. */
int hdlc_data_ready(UINT32 channel);

/** Copies the next received frame (at most `capacity` bytes) into `buffer` and its length to
 * *size.
 * @return 0 when a frame was copied.
 */
int hdlc_get_frame(UINT32 channel, UINT8 *buffer, UINT32 capacity, UINT32 *size);

/** Hands a frame of `size` bytes to the channel; *taken receives the number of bytes taken.
 * @return 0 when the frame was accepted.
 */
int hdlc_put_frame(UINT32 channel, UINT8 *buffer, UINT32 size, UINT32 *taken);

/* ---- Radio-link driver, reset type and restart log ---- */
/** The reset type of a cold start. */
#define BSP_RESET_TYPE_COLD 1

/** Compensation-shift callback: the radio's ingress (si) and egress (so) shifts; 0x80000000
 * or 0x80000001 mean unsupported radio capacity or a disconnected radio link. */
typedef void (*rlbsp_comp_shift_cb)(int si, int so, int ext_enhanced_comp);

/** Write the reset type of the current start: BSP_RESET_TYPE_COLD (hardware state is to be
 * initialised), any other value a warm restart (hardware state is taken over). */
/** @{ */
int RLBSP_get_reset_type(UINT32 *type);
int eh_get_reset_type(UINT32 *type);
/** @} */

/** Installs the callback that the radio-link driver calls whenever the radio's compensation
 * shifts change. */
int RLBSP_1588_ecps_compensation_shift_install(rlbsp_comp_shift_cb cb);

/** Hands the logs over before a restart (called by pci_terminate as its last step; the
 * result is ignored). */
int dbg_handle_logs_at_restart(void);

BSP_EXTERN_C_END

#endif
