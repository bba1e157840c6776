// A copper module's autonegotiation advertisement, its restart, the forced speed of the
// control register and the 1000BASE-T master/slave mode.
#include "ehsl_port_internal.h"

namespace bsp::port {

namespace {

// Advertisement register (4) abilities and the 1000BASE-T control register (9).
constexpr int kAdv10Half = ADVERTISE_10HALF;
constexpr int kAdv10Full = ADVERTISE_10FULL;
constexpr int kAdv100Half = ADVERTISE_100HALF;
constexpr int kAdv100Full = ADVERTISE_100FULL;
constexpr int kAdvPauseBits = ADVERTISE_PAUSE_CAP | ADVERTISE_PAUSE_ASYM;
constexpr int kAdvSelector = ADVERTISE_CSMA;
constexpr int k1000Half = ADVERTISE_1000HALF;
constexpr int k1000Full = ADVERTISE_1000FULL;
constexpr int kMsValue = CTL1000_AS_MASTER;
constexpr int kMsManual = CTL1000_ENABLE_MASTER;
constexpr int k1000Bits = k1000Half | k1000Full | kMsValue | kMsManual;
static_assert(kAdvPauseBits == 0x0C00 && k1000Bits == 0x1B00 && kAdvSelector == 1);

// Control register speed selection (bits 13 and 6) and duplex (bit 8).
constexpr int kCtrlSpeed1000 = BMCR_SPEED1000;
constexpr int kCtrlSpeed100 = BMCR_SPEED100;
constexpr int kCtrlFullDuplex = BMCR_FULLDPLX;

// What each configuration adds to the cleared registers 4 and 9.
struct AdvertBits {
    ehsl_port_cfg_t config;
    int reg4;
    int reg9;
};

constexpr AdvertBits kAdvertTable[] = {
    {EHSL_PORT_CONFIG_AUTODETECT, kAdv100Full | kAdv10Full, k1000Full},
    {EHSL_PORT_CONFIG_1000FD_MASTER, 0, kMsManual | kMsValue | k1000Full},
    {EHSL_PORT_CONFIG_1000FD_SLAVE, 0, kMsManual | k1000Full},
    {EHSL_PORT_CONFIG_1000FD, 0, k1000Full},
    {EHSL_PORT_CONFIG_1000HD, 0, k1000Half},
    {EHSL_PORT_CONFIG_100FD, kAdv100Full, 0},
    {EHSL_PORT_CONFIG_100HD, kAdv100Half, 0},
    {EHSL_PORT_CONFIG_10FD, kAdv10Full, 0},
    {EHSL_PORT_CONFIG_10HD, kAdv10Half, 0},
};
constexpr AdvertBits kAdvertOther = {EHSL_PORT_CONFIG_1000FD, 0, k1000Full};

const AdvertBits &advert_bits(ehsl_port_cfg_t config) {
    for (const AdvertBits &a : kAdvertTable) {
        if (a.config == config) {
            return a;
        }
    }
    return kAdvertOther;
}

// Reads back what registers 4 and 9 advertise; false when no configuration matches.
bool decode_advert(int reg4, int reg9, ehsl_port_cfg_t *config) {
    if ((reg4 & kAdv100Full) && (reg4 & kAdv10Full) && (reg9 & k1000Full)) {
        *config = EHSL_PORT_CONFIG_AUTODETECT;
    } else if (reg9 & k1000Full) {
        *config = !(reg9 & kMsManual) ? EHSL_PORT_CONFIG_1000FD
                  : (reg9 & kMsValue) ? EHSL_PORT_CONFIG_1000FD_MASTER
                                      : EHSL_PORT_CONFIG_1000FD_SLAVE;
    } else if (reg4 & kAdv100Full) {
        *config = EHSL_PORT_CONFIG_100FD;
    } else if (reg4 & kAdv100Half) {
        *config = EHSL_PORT_CONFIG_100HD;
    } else if (reg4 & kAdv10Full) {
        *config = EHSL_PORT_CONFIG_10FD;
    } else if (reg4 & kAdv10Half) {
        *config = EHSL_PORT_CONFIG_10HD;
    } else {
        return false;
    }
    return true;
}

int master_read(const char *name, int port, int *master) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, *)\n", name, port);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        *master = kMasterNotApplicable;
    } else {
        int reg9 = 0;
        if (const int r = ehsl_port_phy_get(port, MII_CTRL1000, &reg9); r < 0) {
            return r;
        }
        *master = !(reg9 & kMsManual) ? kMasterAuto
                  : (reg9 & kMsValue) ? kMasterMaster
                                      : kMasterSlave;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, %d)\n", name, port, *master);
    return 0;
}

}  // namespace

int phy_force_speed_get(int reg0, int *speed, ehsl_port_cfg_t *duplex) {
    if (speed != nullptr) {
        switch (reg0 & (kCtrlSpeed1000 | kCtrlSpeed100)) {
            case kCtrlSpeed1000:
                *speed = 1000;
                break;
            case kCtrlSpeed100:
                *speed = 100;
                break;
            case 0:
                *speed = 10;
                break;
            default:
                *speed = 0;  // reserved
        }
    }
    if (duplex != nullptr) {
        *duplex = (reg0 & kCtrlFullDuplex) != 0 ? EHSL_PORT_CONFIG_FD : EHSL_PORT_CONFIG_HD;
    }
    return 0;
}

int ehsl_port_advert_get(int port, ehsl_port_cfg_t *config) {
    static const char *const kName = "ehsl_port_advert_get";
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, *)\n", kName, port);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0) {
        return c;
    }
    if (hw == EHSL_PORT_SFP_FIBER) {
        *config = EHSL_PORT_CONFIG_1000FD;
    } else {
        int reg4 = 0;
        int reg9 = 0;
        if (const int r = ehsl_port_phy_get(port, MII_ADVERTISE, &reg4); r < 0) {
            return r;
        }
        if (const int r = ehsl_port_phy_get(port, MII_CTRL1000, &reg9); r < 0) {
            return r;
        }
        if (!decode_advert(reg4, reg9, config)) {
            log_printf(DBG_EHSL_PORT_INDEX, 1,
                       "[KVU7A] EHSL_PORT_E:%s: Unrecognized ability setting\n", kName);
            return -1;
        }
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(port %d, %d)\n", kName, port,
               static_cast<int>(*config));
    return 0;
}

int ehsl_port_advert_set(int port, ehsl_port_cfg_t config) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(%d, %d)\n", "ehsl_port_advert_set",
               port, static_cast<int>(config));
    int old9 = 0;
    int old4 = 0;
    if (const int r = ehsl_port_phy_get(port, MII_CTRL1000, &old9); r < 0) {
        return r;
    }
    if (const int r = ehsl_port_phy_get(port, MII_ADVERTISE, &old4); r < 0) {
        return r;
    }
    const AdvertBits &add = advert_bits(config);
    const int new9 = (old9 & ~k1000Bits) | add.reg9;
    const int new4 = (old4 & kAdvPauseBits) | kAdvSelector | add.reg4;
    if (new4 != old4) {
        log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: update MII_ADVERTISE with %X\n",
                   static_cast<unsigned>(new4));
        if (const int r = ehsl_port_phy_set(port, MII_ADVERTISE, new4); r < 0) {
            return r;
        }
    }
    if (new9 != old9) {
        log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: MII_CTRL1000 with %X\n",
                   static_cast<unsigned>(new9));
        if (const int r = ehsl_port_phy_set(port, MII_CTRL1000, new9); r < 0) {
            return r;
        }
    }
    return 0;
}

int ehsl_port_autoneg_restart(int port) {
    int reg0 = 0;
    if (ehsl_port_phy_get(port, MII_BMCR, &reg0) != 0) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT_T: %s (port %d)\n",
               "ehsl_port_autoneg_restart", port);
    return ehsl_port_phy_set(port, MII_BMCR, reg0 | kCtrlRestartAn);
}

int ehsl_port_master_get(int port, int *master) {
    return master_read("ehsl_port_master_get", port, master);
}

int ehsl_port_master_config_get(int port, int *master) {
    return master_read("ehsl_port_master_config_get", port, master);
}

}  // namespace bsp::port

using namespace bsp::port;

extern "C" {

BSP_API int ehsl_port_master_set(int port, int master) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(%d, %d)\n", __func__, port, master);
    const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
    if (const int c = class_result(hw); c != 0 || hw == EHSL_PORT_SFP_FIBER) {
        return c;
    }
    const int r = eth_ctrl_emac_sfp_master_set(port, master);
    return r != 0 ? r : 0;
}

}  // extern "C"
