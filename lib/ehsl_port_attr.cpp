// Port attributes through the MAC/SFP driver and the PHY: speed, administrative status read,
// duplex, MDI-X, autonegotiation on/off and link-loss forwarding.
#include <cstring>
#include <optional>

#include "ehsl_port_internal.h"

namespace bsp::port {

namespace {

constexpr int kFibreSpeed = 1000;

// Which driver results end a read: the attributes differ in whether a positive result counts.
enum class ReadFails { kNegative, kNonZero };

// Reads an attribute that a fibre module has fixed at `fibre` and the driver reports for the
// other modules. A port that cannot be driven ends the read with its class's result.
template <typename T>
int fixed_or_driver_get(int port, T *out, T fibre, int (*get)(int, int *), ReadFails fails) {
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        *out = fibre;
        return 0;
    }
    // The driver reports through an int pointer; the port layer's enums are int-sized C enums
    // that go through a local int, copied as bytes since a C caller may hold any int in them.
    // Not examined reads leave the value as the driver left it.
    static_assert(sizeof(T) == sizeof(int));
    int value = 0;
    std::memcpy(&value, out, sizeof value);
    const int r = get(port, &value);
    std::memcpy(out, &value, sizeof value);
    const bool failed = fails == ReadFails::kNonZero ? r != 0 : r < 0;
    return failed ? r : 0;
}

// The part of a write that the port's class decides: the class's result for a port that
// cannot be driven; for a fibre module 0 where `value` is the one it is fixed at (where `fibre`
// is empty, any value) and -1 otherwise. Empty where the driver has to do the write.
std::optional<int> class_decides_write(int port, int value, std::optional<int> fibre) {
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        return !fibre || value == *fibre ? 0 : -1;
    }
    return std::nullopt;
}

// Writes through the driver only where the value differs from what it reads; a failed read
// leads to a write.
int write_if_changed(int (*get)(int, int *), int (*set)(int, int), int port, int value) {
    int current = -1;
    get(port, &current);
    return current != value ? set(port, value) : 0;
}

}  // namespace

}  // namespace bsp::port

using namespace bsp::port;

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
    if (const int r = fixed_or_driver_get(port, speed, kFibreSpeed, eth_ctrl_emac_sfp_speed_get,
                                          ReadFails::kNegative);
        r != 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_KVU: ehsl_port_speed_get ...\n");
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               *speed);
    return 0;
}

BSP_API int ehsl_port_speed_set(int port, int speed) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(%d, %d)\n", __func__, port, speed);
    if (const std::optional<int> r = class_decides_write(port, speed, kFibreSpeed)) {
        return *r;
    }
    return eth_ctrl_emac_sfp_speed_set(port, speed);
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
        constexpr int kDown = kCtrlPowerDown | kCtrlIsolate;
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
    if (const int r = fixed_or_driver_get(port, duplex, EHSL_PORT_CONFIG_FD,
                                          eth_ctrl_emac_sfp_duplex_get, ReadFails::kNegative);
        r != 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, %d)\n", __func__, port,
               static_cast<int>(*duplex));
    return 0;
}

BSP_API int ehsl_port_duplex_set(int port, ehsl_port_cfg_t duplex) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port: %d, duplex: %d)\n", __func__,
               port, static_cast<int>(duplex));
    if (const std::optional<int> r = class_decides_write(port, duplex, std::nullopt)) {
        return *r;
    }
    return write_if_changed(eth_ctrl_emac_sfp_duplex_get, eth_ctrl_emac_sfp_duplex_set, port,
                            duplex);
}

BSP_API int ehsl_port_mdix_get(int port, ehsl_port_mdix_t *mode) {
    if (mode == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, *)\n", __func__, port);
    if (const int r = fixed_or_driver_get(port, mode, EHSL_PORT_MDIX_AUTO,
                                          eth_ctrl_emac_sfp_mdix_get, ReadFails::kNonZero);
        r != 0) {
        return r;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               static_cast<int>(*mode));
    return 0;
}

BSP_API int ehsl_port_mdix_set(int port, ehsl_port_mdix_t mode) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(%d, %d)\n", __func__, port,
               static_cast<int>(mode));
    if (const std::optional<int> r = class_decides_write(port, mode, EHSL_PORT_MDIX_NORMAL)) {
        return *r;
    }
    return write_if_changed(eth_ctrl_emac_sfp_mdix_get, eth_ctrl_emac_sfp_mdix_set, port, mode);
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
    return eth_ctrl_emac_sfp_llf_set(port, enable);
}

}  // extern "C"
