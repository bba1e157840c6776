// Port attributes through the MAC/SFP driver and the PHY: speed, administrative status read,
// duplex, MDI-X, autonegotiation on/off and link-loss forwarding.
#include "ehsl_port_internal.h"

namespace {

using bsp::port::class_result;
using bsp::port::ehsl_port_hw_get;

constexpr int kFibreSpeed = 1000;

// The driver reports through int pointers; the port layer's enums are int-sized C enums that
// go through a local int. Not examined reads leave the value as the driver left it.
template <typename Enum>
int driver_get(int (*get)(int, int *), int port, Enum *out) {
    int value = static_cast<int>(*out);
    const int r = get(port, &value);
    *out = static_cast<Enum>(value);
    return r;
}

}  // namespace

extern "C" {

BSP_API int ehsl_port_speed_get(int port, int *speed) {
    if (speed == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT: %s(port %d, *)\n", __func__, port);
    int link = 0;
    if (ehsl_port_link_status_get(port, &link) == 0 && link == 0) {
        *speed = 0;
        return 0;
    }
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        *speed = kFibreSpeed;
    } else if (const int r = eth_ctrl_emac_sfp_speed_get(port, speed); r < 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_KVU: ehsl_port_speed_get ...\n");
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               *speed);
    return 0;
}

BSP_API int ehsl_port_speed_set(int port, int speed) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(%d, %d)\n", __func__, port, speed);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        return speed == kFibreSpeed ? 0 : -1;
    }
    const int r = eth_ctrl_emac_sfp_speed_set(port, speed);
    return r != 0 ? r : 0;
}

BSP_API int ehsl_port_adminstatus_get(int port, int *status) {
    if (status == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7A] EHSL_PORT: %s(port %d, *)\n", __func__, port);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_COPPER) {
        int control = 0;
        if (const int r = ehsl_port_phy_get(port, MII_BMCR, &control); r < 0) {
            return r;
        }
        constexpr int kDown = bsp::port::kCtrlPowerDown | bsp::port::kCtrlIsolate;
        *status = (control & kDown) == kDown ? 0 : 1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               *status);
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_KVU: ehsl_port_adminstatus_get ...\n");
    return 0;
}

BSP_API int ehsl_port_duplex_get(int port, ehsl_port_cfg_t *duplex) {
    if (duplex == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, *)\n", __func__, port);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        *duplex = EHSL_PORT_CONFIG_FD;
    } else if (const int r = driver_get(eth_ctrl_emac_sfp_duplex_get, port, duplex); r < 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, %d)\n", __func__, port,
               static_cast<int>(*duplex));
    return 0;
}

BSP_API int ehsl_port_duplex_set(int port, ehsl_port_cfg_t duplex) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port: %d, duplex: %d)\n", __func__,
               port, static_cast<int>(duplex));
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0 || hw == EHSL_PORT_SFP_FIBER) {
        return c;
    }
    int current = -1;  // a failed read leads to a write
    eth_ctrl_emac_sfp_duplex_get(port, &current);
    if (current != static_cast<int>(duplex)) {
        if (const int r = eth_ctrl_emac_sfp_duplex_set(port, duplex); r != 0) {
            return r;
        }
    }
    return 0;
}

BSP_API int ehsl_port_mdix_get(int port, ehsl_port_mdix_t *mode) {
    if (mode == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, *)\n", __func__, port);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        *mode = EHSL_PORT_MDIX_AUTO;
    } else if (const int r = driver_get(eth_ctrl_emac_sfp_mdix_get, port, mode); r != 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               static_cast<int>(*mode));
    return 0;
}

BSP_API int ehsl_port_mdix_set(int port, ehsl_port_mdix_t mode) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(%d, %d)\n", __func__, port,
               static_cast<int>(mode));
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        return mode == EHSL_PORT_MDIX_NORMAL ? 0 : -1;
    }
    int current = -1;  // a failed read leads to a write
    eth_ctrl_emac_sfp_mdix_get(port, &current);
    return current != static_cast<int>(mode) ? eth_ctrl_emac_sfp_mdix_set(port, mode) : 0;
}

BSP_API int ehsl_port_autoneg_get(int port, int *autoneg) {
    if (autoneg == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, *)\n", __func__, port);
    if (const int c = class_result(ehsl_port_hw_get(port)); c != 0) {
        return c;
    }
    eth_ctrl_emac_sfp_autoneg_get(autoneg);
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               *autoneg);
    return 0;
}

BSP_API int ehsl_port_autoneg_set(int port, int autoneg) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, %d)\n", __func__, port, autoneg);
    int current = autoneg == 0 ? 1 : 0;  // a read that writes nothing leads to a write
    if (ehsl_port_autoneg_get(port, &current) == 0 && current == autoneg) {
        return 0;
    }
    if (const int c = class_result(ehsl_port_hw_get(port)); c != 0) {
        return c;
    }
    eth_ctrl_emac_sfp_autoneg_set(autoneg != 0 ? PHY_AUTONEG_START : PHY_AUTONEG_STOP);
    return 0;
}

BSP_API int ehsl_port_llf_get(int port, int *status) {
    if (status == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(port %d, *)\n", __func__, port);
    if (const int c = class_result(ehsl_port_hw_get(port)); c != 0) {
        return c;
    }
    if (const int r = eth_ctrl_emac_sfp_llf_get(port, status); r != 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               *status);
    return 0;
}

BSP_API int ehsl_port_llf_set(int port, int enable) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, mode %d)\n", __func__, port,
               enable);
    if (const int c = class_result(ehsl_port_hw_get(port)); c != 0) {
        return c;
    }
    const int r = eth_ctrl_emac_sfp_llf_set(port, enable);
    return r != 0 ? r : 0;
}

}  // extern "C"
