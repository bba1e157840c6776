// Shared by the files of the port layer: classification, register access helpers and the
// file-local operations that configuration and the diagnostic commands build on.
#ifndef BSP_LIB_EHSL_PORT_INTERNAL_H
#define BSP_LIB_EHSL_PORT_INTERNAL_H

#include <bsp_ctrl/ehsl_port.h>
#include <linux/mii.h>

#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

namespace bsp::port {

// PHY control register bits the port layer reads or writes (IEEE 802.3 clause 22).
constexpr int kCtrlPowerDown = BMCR_PDOWN;  // 0x0800
constexpr int kCtrlIsolate = BMCR_ISOLATE;  // 0x0400
constexpr int kCtrlRestartAn = BMCR_ANRESTART;
constexpr int kStatusLink = BMSR_LSTATUS;
static_assert(kCtrlPowerDown == 0x0800 && kCtrlIsolate == 0x0400 && kCtrlRestartAn == 0x0200);
static_assert(kStatusLink == 0x0004 && MII_ADVERTISE == 4 && MII_CTRL1000 == 9);

// Master mode codes.
constexpr int kMasterSlave = 1;
constexpr int kMasterMaster = 2;
constexpr int kMasterAuto = 3;
constexpr int kMasterNotApplicable = 4;

// Classification of a LAN port; logs the out-of-range case.
ehsl_port_hw_t ehsl_port_hw_get(int port);

// -1 for the illegal class and -2 for the empty one; 0 for a module that can be driven.
inline int class_result(ehsl_port_hw_t hw) {
    return hw == EHSL_PORT_ILLEGAL_PORT ? -1 : hw == EHSL_PORT_SFP_EMPTY ? -2 : 0;
}

int ehsl_port_advert_get(int port, ehsl_port_cfg_t *config);
int ehsl_port_advert_set(int port, ehsl_port_cfg_t config);
int ehsl_port_autoneg_restart(int port);
int ehsl_port_master_get(int port, int *master);
int ehsl_port_master_config_get(int port, int *master);
int phy_force_speed_get(int reg0, int *speed, ehsl_port_cfg_t *duplex);

// The stub record itself, also before ehsl_port_init has published it through kvu_info.
const kvu_stub &stub_record();

}  // namespace bsp::port

#endif
