// Pause (flow control) in the PHY advertisement and the FPGA, the administrative status write
// and the supported-speeds bitmap.
#include <bsp_ctrl/ehsl_pmap.h>

#include <cstdint>

#include "ehsl_port_internal.h"

namespace bsp::port {

namespace {

constexpr int kAdvPauseBits = ADVERTISE_PAUSE_CAP | ADVERTISE_PAUSE_ASYM;

// FPGA flow-control field.
constexpr UINT32 kFlowControlReg = 0xCB00;
constexpr UINT32 flow_control_reg_mask = 0x60000000;
constexpr UINT32 flow_control_activated_reg = 0x20000000;
constexpr UINT32 flow_control_deactivated_reg = 0;

// Supported-speeds bitmap: position n is value bit 31 - n.
constexpr uint32_t kSpeedsCopper = 0xE0C00000;  // positions 0, 1, 2, 8, 9
constexpr uint32_t kSpeedsFibre = 0x20000000;   // position 2
struct CapabilitySpeedBit {
    int capability;
    uint32_t bit;
};
constexpr CapabilitySpeedBit kCapabilityBits[] = {
    {0x8, 0x00080000},  // position 12
    {0x4, 0x00100000},  // position 11
    {0x2, 0x00200000},  // position 10
};

int pause_read(const char *name, const char *tag, int port, int *pause_tx, int *pause_rx) {
    if (pause_tx == nullptr || pause_rx == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[%s] EHSL_PORT: %s(port %d, *, *)\n", tag, name, port);
    *pause_tx = 0;
    *pause_rx = 0;
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_COPPER) {
        int reg4 = 0;
        if (const int r = ehsl_port_phy_get(port, MII_ADVERTISE, &reg4); r < 0) {
            return r;
        }
        *pause_rx = (reg4 & kAdvPauseBits) != 0 ? 1 : 0;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[%s] EHSL_PORT: %s(port %d, %d, %d)\n", tag, name, port,
               *pause_tx, *pause_rx);
    return 0;
}

// Releases the driver's lock on every way out of the supported-speeds query.
class DriverLockGuard {
  public:
    DriverLockGuard() { eth_ctrl_emac_sfp_sem_wait(); }
    ~DriverLockGuard() { eth_ctrl_emac_sfp_sem_post(); }
    DriverLockGuard(const DriverLockGuard &) = delete;
    DriverLockGuard &operator=(const DriverLockGuard &) = delete;
};

}  // namespace

}  // namespace bsp::port

using namespace bsp::port;

extern "C" {

BSP_API int ehsl_port_pause_set(int port, int pause_tx, int pause_rx) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port=%d, tx=%d, rx=%d)\n", __func__,
               port, pause_tx, pause_rx);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0 || hw == EHSL_PORT_SFP_FIBER) {
        return c;
    }
    int reg4 = 0;
    if (const int r = ehsl_port_phy_get(port, MII_ADVERTISE, &reg4); r < 0) {
        return r;
    }
    const bool on = pause_rx != 0;
    const int wanted = on ? reg4 | kAdvPauseBits : reg4 & ~kAdvPauseBits;
    vanta2_write32_reg(kFlowControlReg,
                       on ? flow_control_activated_reg : flow_control_deactivated_reg,
                       flow_control_reg_mask);
    if (wanted != reg4) {
        if (const int r = ehsl_port_phy_set(port, MII_ADVERTISE, wanted); r < 0) {
            return r;
        }
        ehsl_port_autoneg_restart(port);
    }
    return 0;
}

BSP_API int ehsl_port_adminstatus_set(int port, int status) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(%d, %d)\n", __func__, port, status);
    ehsl_port_pause_set(port, 0, 0);
    if (const int c = class_result(ehsl_port_hw_get(port)); c != 0) {
        return c;
    }
    const int r = eth_ctrl_emac_sfp_set_adminstatus(status);
    return r < 0 ? r : 0;
}

BSP_API int ehsl_port_pause_get(int port, int *pause_tx, int *pause_rx) {
    return pause_read(__func__, "KVU7B", port, pause_tx, pause_rx);
}

BSP_API int ehsl_port_mac_pause_get(int port, int *pause_tx, int *pause_rx) {
    return pause_read(__func__, "KVU7A", port, pause_tx, pause_rx);
}

BSP_API int ehsl_port_supported_speeds_get(int port, unsigned char *speeds, int size) {
    if (speeds == nullptr && size > 0) {
        return -1;
    }
    DriverLockGuard lock;
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT: Get supported speed, port %d, size %d\n",
               port, size);
    if (size >= 1) {
        speeds[0] = 0;
    }
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    uint32_t value = hw == EHSL_PORT_SFP_FIBER ? kSpeedsFibre : kSpeedsCopper;
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT1: tmp_speeds = %d, port %d, size %d\n",
               static_cast<int>(value), port, size);
    int capability = 0;
    if (ehsl_pmap_synce_cap_get(port, &capability) == 0) {
        for (const CapabilitySpeedBit &b : kCapabilityBits) {
            value |= (capability & b.capability) != 0 ? b.bit : 0;
        }
    } else {
        capability = 0;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 1,
               "[KVU7B] %s: ehsl_port_supported_speeds_get - port = %d speeds = %08x\n", __func__,
               port, static_cast<unsigned>(capability));
    log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT2: %s(port %d speeds: %08x\n", __func__,
               port, value);
    for (int i = 0; i < size; ++i) {
        speeds[i] = static_cast<unsigned char>(value >> 24);
        value <<= 8;
    }
    if (value != 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1,
                   "[KVU7A] EHSL_PORT_E: Input bitmap to not large enough to hold result\n");
    }
    return 0;
}

}  // extern "C"
