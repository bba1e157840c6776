// The combined speed/duplex/master-slave configuration of a port and its speed status.
#include "ehsl_port_internal.h"

namespace bsp::port {

namespace {

// The forced targets of a configuration when autonegotiation is off.
struct ForcedTarget {
    ehsl_port_cfg_t config;
    int speed;
    ehsl_port_cfg_t duplex;
    int master;  // kMasterNotApplicable: leave the master mode as it is
};

constexpr ForcedTarget kForcedTable[] = {
    {EHSL_PORT_CONFIG_AUTODETECT, 0, EHSL_PORT_CONFIG_FD, kMasterAuto},
    {EHSL_PORT_CONFIG_1000FD_MASTER, 1000, EHSL_PORT_CONFIG_FD, kMasterMaster},
    {EHSL_PORT_CONFIG_1000FD_SLAVE, 1000, EHSL_PORT_CONFIG_FD, kMasterSlave},
    {EHSL_PORT_CONFIG_1000FD, 1000, EHSL_PORT_CONFIG_FD, kMasterAuto},
    {EHSL_PORT_CONFIG_100FD, 100, EHSL_PORT_CONFIG_FD, kMasterNotApplicable},
    {EHSL_PORT_CONFIG_100HD, 100, EHSL_PORT_CONFIG_HD, kMasterNotApplicable},
    {EHSL_PORT_CONFIG_10FD, 10, EHSL_PORT_CONFIG_FD, kMasterNotApplicable},
    {EHSL_PORT_CONFIG_10HD, 10, EHSL_PORT_CONFIG_HD, kMasterNotApplicable},
};

const ForcedTarget *forced_target(ehsl_port_cfg_t config) {
    for (const ForcedTarget &t : kForcedTable) {
        if (t.config == config) {
            return &t;
        }
    }
    return nullptr;
}

int config_mbits(ehsl_port_cfg_t config) {
    switch (config) {
        case EHSL_PORT_CONFIG_1000FD_MASTER:
        case EHSL_PORT_CONFIG_1000FD_SLAVE:
        case EHSL_PORT_CONFIG_1000FD:
        case EHSL_PORT_CONFIG_1000HD:
            return 1000;
        case EHSL_PORT_CONFIG_100FD:
        case EHSL_PORT_CONFIG_100HD:
            return 100;
        case EHSL_PORT_CONFIG_10FD:
        case EHSL_PORT_CONFIG_10HD:
            return 10;
        default:
            return 0;
    }
}

// The configuration of a copper port whose speed is forced in the control register.
int forced_config(int port, ehsl_port_cfg_t duplex, ehsl_port_cfg_t *speed) {
    int reg0 = 0;
    if (ehsl_port_phy_get(port, MII_BMCR, &reg0) != 0) {
        return -1;
    }
    int mbits = 0;
    phy_force_speed_get(reg0, &mbits, nullptr);
    const bool full = duplex == EHSL_PORT_CONFIG_FD;
    if (mbits == 10) {
        *speed = full ? EHSL_PORT_CONFIG_10FD : EHSL_PORT_CONFIG_10HD;
    } else if (mbits == 100) {
        *speed = full ? EHSL_PORT_CONFIG_100FD : EHSL_PORT_CONFIG_100HD;
    } else if (mbits == 1000 && duplex == EHSL_PORT_CONFIG_HD) {
        *speed = EHSL_PORT_CONFIG_1000HD;
    } else if (mbits == 1000) {
        int master = 0;
        if (ehsl_port_master_config_get(port, &master) < 0) {
            return -1;
        }
        if (master < kMasterSlave || master > kMasterNotApplicable) {
            return -1;
        }
        *speed = master == kMasterSlave    ? EHSL_PORT_CONFIG_1000FD_SLAVE
                 : master == kMasterMaster ? EHSL_PORT_CONFIG_1000FD_MASTER
                                           : EHSL_PORT_CONFIG_1000FD;
    } else {
        *speed = EHSL_PORT_CONFIG_1000FD;  // reserved speed bits
    }
    return 0;
}

// Forced speed, master/slave and duplex, in that order; a failure stops the sequence.
int apply_forced(int port, const ForcedTarget &t, int current_mbits, int current_master,
                 ehsl_port_cfg_t current_duplex) {
    if (t.speed != current_mbits && ehsl_port_speed_set(port, t.speed) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_E: Couldn't set speed on port %d\n",
                   port);
        return -1;
    }
    if (t.master != kMasterNotApplicable && t.master != current_master &&
        ehsl_port_master_set(port, t.master) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1,
                   "[KVU7B] EHSL_PORT_E: Couldn't set master/slave on port %d\n", port);
        return -1;
    }
    if (t.duplex != current_duplex && ehsl_port_duplex_set(port, t.duplex) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_E: Couldn't set duplex on port %d\n",
                   port);
        return -1;
    }
    return 0;
}

ehsl_port_speed_t speed_status_of_1000(int master, bool *known) {
    *known = master >= kMasterSlave && master <= kMasterNotApplicable;
    return master == kMasterSlave    ? EHSL_PORT_SPEED_1000FD_SLAVE
           : master == kMasterMaster ? EHSL_PORT_SPEED_1000FD_MASTER
                                     : EHSL_PORT_SPEED_1000FD;
}

}  // namespace

}  // namespace bsp::port

using namespace bsp::port;

extern "C" {

BSP_API int ehsl_port_config_get(int port, int *autoneg, ehsl_port_cfg_t *speed,
                                 ehsl_port_cfg_t *duplex) {
    if (autoneg == nullptr || speed == nullptr || duplex == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, *, *, *)\n", __func__, port);
    if (ehsl_port_autoneg_get(port, autoneg) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1,
                   "[KVU7B] EHSL_PORT_E: Couldn't read autoneg on port: %d\n", port);
        return -1;
    }
    if (ehsl_port_duplex_get(port, duplex) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_E: Couldn't read duplex on port %d\n",
                   port);
        return -1;
    }
    if (*autoneg != 0) {
        ehsl_port_advert_get(port, speed);
    } else {
        const ehsl_port_hw_t hw = ehsl_port_hw_get(port);
        if (const int c = class_result(hw); c != 0) {
            return c;
        }
        if (hw == EHSL_PORT_SFP_FIBER) {
            *speed = EHSL_PORT_CONFIG_1000FD;
        } else if (forced_config(port, *duplex, speed) != 0) {
            return -1;
        }
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2,
               "[KVU7B] EHSL_PORT: %s(port %d, autoneg: %d, speed: %d, duplex: %d)\n", __func__,
               port, *autoneg, static_cast<int>(*speed), static_cast<int>(*duplex));
    return 0;
}

BSP_API int ehsl_port_config_set(int port, ehsl_port_cfg_t config) {
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d config: %d)\n", __func__,
               port, static_cast<int>(config));
    // What a failed read leaves: autonegotiation off, no speed, no duplex.
    int autoneg = 0;
    ehsl_port_cfg_t current_speed = static_cast<ehsl_port_cfg_t>(0);
    ehsl_port_cfg_t current_duplex = static_cast<ehsl_port_cfg_t>(0);
    ehsl_port_config_get(port, &autoneg, &current_speed, &current_duplex);
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port=%d currentspeed= %d)\n",
               __func__, port, static_cast<int>(current_speed));
    const int current_mbits = config_mbits(current_speed);
    int current_master = 0;
    if (ehsl_port_master_config_get(port, &current_master) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1,
                   "[KVU7A] EHSL_PORT_E: Couldn't read master mode on port %d\n", port);
        return -1;
    }
    if (autoneg != 0) {
        ehsl_port_cfg_t advertised = static_cast<ehsl_port_cfg_t>(0);
        if (ehsl_port_advert_get(port, &advertised) != 0 || advertised != config) {
            ehsl_port_advert_set(port, config);
            ehsl_port_autoneg_restart(port);
        }
        return 0;
    }
    const ForcedTarget *target = forced_target(config);
    if (target == nullptr) {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7A] EHSL_PORT_E:%s: Unknown Config type %d\n",
                   __func__, static_cast<int>(config));
        return -1;
    }
    if (config == EHSL_PORT_CONFIG_AUTODETECT) {
        log_printf(DBG_EHSL_PORT_INDEX, 1,
                   "[KVU7A] EHSL_PORT_E:(%d) %s: autodetect not allowed when autoneg is off\n",
                   port, __func__);
    }
    ehsl_port_advert_set(port, config);
    return apply_forced(port, *target, current_mbits, current_master, current_duplex);
}

BSP_API int ehsl_port_speed_status_get(int port, ehsl_port_speed_t *speed_status) {
    if (speed_status == nullptr) {
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7B] EHSL_PORT: %s(port %d, *)\n", __func__, port);
    int speed = 0;
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_FD;
    int master = 0;
    if (ehsl_port_speed_get(port, &speed) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_E: Couldn't read speed on port %d\n",
                   port);
        return -1;
    }
    if (ehsl_port_duplex_get(port, &duplex) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7B] EHSL_PORT_E: Couldn't read duplex on port %d\n",
                   port);
        return -1;
    }
    if (ehsl_port_master_get(port, &master) < 0) {
        log_printf(DBG_EHSL_PORT_INDEX, 1,
                   "[KVU7B] EHSL_PORT_E: Couldn't read master mode on port %d\n", port);
        return -1;
    }
    const bool full = duplex == EHSL_PORT_CONFIG_FD;
    if (speed == 1000) {
        bool known = false;
        const ehsl_port_speed_t status = speed_status_of_1000(master, &known);
        if (!known) {
            return -1;
        }
        *speed_status = status;
    } else if (speed == 100) {
        *speed_status = full ? EHSL_PORT_SPEED_100FD : EHSL_PORT_SPEED_100HD;
    } else if (speed == 10) {
        *speed_status = full ? EHSL_PORT_SPEED_10FD : EHSL_PORT_SPEED_10HD;
    } else {
        log_printf(DBG_EHSL_PORT_INDEX, 1, "[KVU7A] EHSL_PORT_E: Unknown speed result on port %d\n",
                   port);
        return -1;
    }
    log_printf(DBG_EHSL_PORT_INDEX, 2, "[KVU7A] EHSL_PORT: %s(port %d, %d)\n", __func__, port,
               static_cast<int>(*speed_status));
    return 0;
}

}  // extern "C"
