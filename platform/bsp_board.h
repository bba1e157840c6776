/*
 * Board hardware services of the host process: FPGA register access, the board description,
 * the Ethernet MAC/SFP driver, the SFP monitor, the HDLC channel service, the radio-link
 * driver, the reset type and restart-log handling.
 *
 * Like the OS layer, every symbol here stays undefined in libbsp_ctrl.so and is resolved from
 * the host process at load time.
 */
#ifndef BSP_PLATFORM_BSP_BOARD_H
#define BSP_PLATFORM_BSP_BOARD_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/* ---- FPGA register access (results are not examined by the library) ---- */
int vanta_read(UINT32 address, UINT16 *value);
int vanta_write(UINT32 address, UINT16 value);
int vanta_read_reg(UINT32 address, UINT16 *value, UINT16 mask);
int vanta2_read32(UINT32 address, UINT32 *value);
int vanta2_write32(UINT32 address, UINT32 value);
int vanta2_read32_reg(UINT32 address, UINT32 *value, UINT32 mask);
int vanta2_write32_reg(UINT32 address, UINT32 value, UINT32 mask);

/* ---- Board description: 32-bit signed fields, owned by the host, never written ---- */
#define KVU_HAL_PORT_ENTRIES 3
#define KVU_HAL_HW_PORTS 4

typedef struct kvu_hal_board_s {
    INT max_hw_port;                              /* offset 0: hw ports 0..this are valid */
    INT reserved[3];                              /* offset 4: not read */
    INT lan_ports;                                /* offset 16 */
    INT wan_ports;                                /* offset 20 */
    INT sfp_ports;                                /* offset 24 */
    INT enabled_ports;                            /* offset 28: bitmap */
    INT hw_port_of_entry[KVU_HAL_PORT_ENTRIES];   /* offset 32 */
    INT entry_of_hw_port[KVU_HAL_HW_PORTS];       /* offset 44: -1 when none */
    INT mii_addr_of_entry[KVU_HAL_PORT_ENTRIES];  /* offset 60: 0 marks the SFP cage */
    INT lan_port_of_entry[KVU_HAL_PORT_ENTRIES];  /* offset 72 */
    INT seis_link_of_entry[KVU_HAL_PORT_ENTRIES]; /* offset 84 */
    INT cp_num_of_entry[KVU_HAL_PORT_ENTRIES];    /* offset 96 */
} kvu_hal_board_t;

const kvu_hal_board_t *kvu_hal_get(void);

/* Hardware ports that carry a time-stamping unit. */
#define KVU_HAL_RL_HW_PORT 1
#define KVU_HAL_SFP_HW_PORT 3

/* Module type in the SFP cage (also declared by the port layer's public header). */
#ifndef BSP_SFP_HW_T_DEFINED
#define BSP_SFP_HW_T_DEFINED
typedef enum sfp_hw_e {
    SFP_NO_SFP = 0,
    SFP_COPPER = 1,
    SFP_FIBER = 2,
    SFP_ERROR = 3,
    SFP_NOT_INIT = 65535
} sfp_hw_t;
#endif

/* ---- Ethernet MAC/SFP driver: negative (or non-zero where stated) is failure ---- */
#define PHY_AUTONEG_RESTART 0
#define PHY_AUTONEG_START 1
#define PHY_AUTONEG_STOP 2

typedef int (*eth_ecps_link_event_cb)(int port, int status, unsigned int speed);
typedef int (*eth_seis_link_up_event_cb)(int port, int linkstatus);

int eth_ctrl_emac_sfp_init(void);
int eth_ctrl_emac_sfp_mdio_read(int address, int reg);
int eth_ctrl_emac_sfp_mdio_write(int address, int reg, int value);
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
int eth_ctrl_emac_sfp_set_adminstatus(int status);
int eth_ctrl_emac_sfp_autoneg_get(int *autoneg);
int eth_ctrl_emac_sfp_autoneg_set(int mode);
int eth_ctrl_emac_sfp_sem_wait(void);
int eth_ctrl_emac_sfp_sem_post(void);
int eth_ctrl_emac_sfp_ecpsLinkEvent_install(eth_ecps_link_event_cb cb);
int eth_ctrl_emac_sfp_SeisLinkUpEvent_install(eth_seis_link_up_event_cb cb);

/* ---- SFP monitor ---- */
sfp_hw_t sfp_mon_get_module_type(void);

/* ---- HDLC channel service ---- */
typedef INT (*hdlc_reconf_op)(void);
typedef void (*hdlc_rx_handler)(UINT32 hdlc_id);

int hdlc_set_reconf_ch_data(UINT32 channel, hdlc_reconf_op enable, hdlc_reconf_op disable);
int hdlc_open(UINT32 channel, UINT32 clock_mode, UINT32 baud_rate, UINT32 crc_type,
              UINT32 option1, UINT32 option2);
int hdlc_close(UINT32 channel);
int hdlc_install_rx_callback(UINT32 channel, hdlc_rx_handler handler);
int hdlc_data_ready(UINT32 channel);
int hdlc_get_frame(UINT32 channel, UINT8 *buffer, UINT32 capacity, UINT32 *size);
int hdlc_put_frame(UINT32 channel, UINT8 *buffer, UINT32 size, UINT32 *taken);

/* ---- Radio-link driver, reset type and restart log ---- */
#define BSP_RESET_TYPE_COLD 1

typedef void (*rlbsp_comp_shift_cb)(int si, int so, int ext_enhanced_comp);

int RLBSP_get_reset_type(UINT32 *type);
int eh_get_reset_type(UINT32 *type);
int RLBSP_1588_ecps_compensation_shift_install(rlbsp_comp_shift_cb cb);
int dbg_handle_logs_at_restart(void);

BSP_EXTERN_C_END

#endif
