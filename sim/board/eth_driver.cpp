// The Ethernet MAC/SFP driver and the SFP monitor. Until the port model is in place the
// driver answers every request as failed and the cage reports no module.
#include <bsp_board.h>

extern "C" {

int eth_ctrl_emac_sfp_init(void) { return -1; }
int eth_ctrl_emac_sfp_mdio_read(int, int) { return -1; }
int eth_ctrl_emac_sfp_mdio_write(int, int, int) { return -1; }
int eth_ctrl_emac_sfp_speed_get(int, int *) { return -1; }
int eth_ctrl_emac_sfp_speed_set(int, int) { return -1; }
int eth_ctrl_emac_sfp_duplex_get(int, int *) { return -1; }
int eth_ctrl_emac_sfp_duplex_set(int, int) { return -1; }
int eth_ctrl_emac_sfp_mdix_get(int, int *) { return -1; }
int eth_ctrl_emac_sfp_mdix_set(int, int) { return -1; }
int eth_ctrl_emac_sfp_llf_get(int, int *) { return -1; }
int eth_ctrl_emac_sfp_llf_set(int, int) { return -1; }
int eth_ctrl_emac_sfp_master_set(int, int) { return -1; }
int eth_ctrl_emac_sfp_get_operstatus(int, int *) { return -1; }
int eth_ctrl_emac_sfp_set_adminstatus(int) { return -1; }
int eth_ctrl_emac_sfp_autoneg_get(int *) { return -1; }
int eth_ctrl_emac_sfp_autoneg_set(int) { return -1; }
int eth_ctrl_emac_sfp_sem_wait(void) { return 0; }
int eth_ctrl_emac_sfp_sem_post(void) { return 0; }
int eth_ctrl_emac_sfp_ecpsLinkEvent_install(eth_ecps_link_event_cb) { return 0; }
int eth_ctrl_emac_sfp_SeisLinkUpEvent_install(eth_seis_link_up_event_cb) { return 0; }

sfp_hw_t sfp_mon_get_module_type(void) { return SFP_NO_SFP; }

}  // extern "C"
