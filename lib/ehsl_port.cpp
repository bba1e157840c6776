// The port layer's start, port classification, raw PHY access, link status and the
// operations that touch no hardware.
#include <cstring>

#include "ehsl_port_internal.h"

extern "C" {
BSP_API kvu_stub *kvu_info = nullptr;
}

namespace bsp::port {

namespace {

constexpr int kMtu = 1544;
constexpr int kStubPorts = 3;

kvu_stub kvu_stub_value = {
    {2, 2, 0}, {2, 2, 0}, {1000, 1000, 0}, {1, 1, 0}, {0, 0, 0},
    {0, 0, 0}, {0, 0, 0}, {0, 0, 0},       {0, 0, 0}, {0, 0, 0},
};

// Ports 1..N that exist in the board description's per-entry tables.
bool port_in_range(int port) {
    return port > 0 && port <= kvu_hal_get()->lan_ports && port <= KVU_HAL_PORT_ENTRIES;
}

int mii_address(int port) {
    return kvu_hal_get()->mii_addr_of_entry[port - 1];
}

// Class check for raw PHY access: only a copper module has a PHY to reach.
int phy_class_result(int port) {
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (hw == EHSL_PORT_SFP_COPPER) {
        return 0;
    }
    return hw == EHSL_PORT_ILLEGAL_PORT ? -1 : -2;
}

// Copper link test: the link bit latches low, so a past loss shows on the first read only.
int copper_link(int port, int *val) {
    int status = 0;
    int r = ehsl_port_phy_get(port, MII_BMSR, &status);
    if (r < 0) {
        return r;
    }
    if ((status & kStatusLink) == 0) {
        r = ehsl_port_phy_get(port, MII_BMSR, &status);
        if (r < 0) {
            return r;
        }
    }
    if ((status & kStatusLink) != 0) {
        *val = 1;
    }
    return 0;
}

}  // namespace

ehsl_port_hw_t ehsl_port_hw_get(int port) {
    if (port <= 0 || port > kvu_hal_get()->lan_ports) {
        log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT_E: Illegal port number: %d\n", port);
        return EHSL_PORT_ILLEGAL_PORT;
    }
    if (!port_in_range(port) || mii_address(port) != 0) {
        return EHSL_PORT_ILLEGAL_PORT;
    }
    switch (sfp_port_hw_status(port)) {
        case SFP_COPPER:
            return EHSL_PORT_SFP_COPPER;
        case SFP_FIBER:
            return EHSL_PORT_SFP_FIBER;
        default:
            return EHSL_PORT_SFP_EMPTY;
    }
}

const kvu_stub &stub_record() {
    return kvu_stub_value;
}

}  // namespace bsp::port

using namespace bsp::port;

extern "C" {

BSP_API void ehsl_port_init(void) {
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] ehsl_port_kvu: init eth ports\n");
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] ehsl_port_kvu: calling eth_ctrl_emac_sfp_init\n");
    eth_ctrl_emac_sfp_init();
    kvu_info = &kvu_stub_value;
}

BSP_API sfp_hw_t sfp_port_hw_status(int port) {
    if (!port_in_range(port) || mii_address(port) != 0) {
        return SFP_NO_SFP;
    }
    return sfp_mon_get_module_type();
}

BSP_API int ehsl_port_phy_get(int port, int phyreg, int *val) {
    if (val == nullptr) {
        return -1;
    }
    const int c = phy_class_result(port);
    if (c != 0) {
        return c;
    }
    const int value = eth_ctrl_emac_sfp_mdio_read(mii_address(port), phyreg);
    if (value < 0) {
        return value;  // the driver could not reach the PHY
    }
    *val = value;
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL PHY READ: Port %d: Reg:%02x: Val:%04x\n", port,
               static_cast<unsigned>(phyreg), static_cast<unsigned>(value));
    return 0;
}

BSP_API int ehsl_port_phy_set(int port, int phyreg, int val) {
    const int c = phy_class_result(port);
    if (c != 0) {
        return c;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL PHY WRITE: Port %d: Reg:%02x: Val:%04x\n",
               port, static_cast<unsigned>(phyreg), static_cast<unsigned>(val));
    eth_ctrl_emac_sfp_mdio_write(mii_address(port), phyreg, val & 0xFFFF);
    return 0;
}

BSP_API int ehsl_port_link_status_get(int port, int *val) {
    if (val == nullptr) {
        return -1;
    }
    *val = 0;
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        eth_ctrl_emac_sfp_get_operstatus(port, val);
    } else if (const int r = copper_link(port, val); r < 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT_KVU: ehsl_port_link_status_get ...\n");
    return 0;
}

BSP_API int ehsl_port_oper_status_get(int port, int *operstatus) {
    return ehsl_port_link_status_get(port, operstatus);
}

BSP_API int ehsl_port_oper_status_set(int port, int status_set) {
    if (kvu_info == nullptr || port < 0 || port >= kStubPorts) {
        return -1;
    }
    kvu_info->oper_status[port] = status_set;
    return 0;
}

BSP_API int ehsl_port_mtu_get(int /*port*/, int *mtu) {
    if (mtu == nullptr) {
        return -1;
    }
    *mtu = kMtu;
    return 0;
}

BSP_API int ehsl_port_mtu_set(int /*port*/, int /*mtu*/) {
    return 0;
}

BSP_API int ehsl_port_sync_enable_set(int port, int enable, int /*ssm_supported*/) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL SYNC ENABLE SET: port %d: enable %d\n", port,
               enable);
    return 0;
}

BSP_API int ehsl_port_untagged_priority_get(int /*port*/, int * /*pri*/) {
    return -1;
}

BSP_API int ehsl_port_untagged_priority_set(int /*port*/, int /*pri*/) {
    return -1;
}

BSP_API int ehsl_es_stat_ifTable(int /*port*/, unsigned int *counter, int /*count*/,
                                 unsigned int *res) {
    if (counter == nullptr || res == nullptr) {
        return -1;
    }
    counter[0] = 0;
    *res = 0;
    return 0;
}

BSP_API int ehsl_es_stat_ifXTable(int /*port*/, void *counter, int /*count*/, unsigned int *res) {
    if (counter == nullptr || res == nullptr) {
        return -1;
    }
    std::memset(counter, 0, sizeof(uint32_t));
    *res = 0;
    return 0;
}

BSP_API int ehsl_es_stat_clear_statistics(int /*port*/) {
    return 0;
}

BSP_API int ehsl_port_stat_clear_all(void) {
    return 0;
}

}  // extern "C"
