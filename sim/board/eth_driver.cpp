// The Ethernet MAC/SFP driver: MDIO access to the copper module's PHY, the port attributes it
// keeps in the PHY or in itself, its own lock, and the link-event callbacks.
#include <linux/mii.h>

#include <condition_variable>
#include <cstdio>

#include "bsp_sim/board.h"
#include "bsp_sim/unit.h"
#include "eth_model.h"
#include "immortal.h"

namespace bsp::sim::eth {

namespace {

constexpr int kCageMdioAddress = 0;
constexpr int kNoPhy = 0xFFFF;   // an MDIO read nobody answers
constexpr int kDuplexFull = 10;  // duplex values of the port layer
constexpr int kDuplexHalf = 11;
constexpr int kMasterSlave = 1;
constexpr int kMasterMaster = 2;
constexpr int kMasterAuto = 3;
constexpr int kAdminUp = 1;
constexpr int kAdminDown = 0;
constexpr int kAdminDownIfMib = 2;

std::string text(const char *format, auto... args) {
    char buf[96];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

// Runs a driver call under the model's lock, with fault injection, the call log and the link
// events the call caused.
template <typename Body>
int driver_call(const char *name, const std::string &args, int reg, Body body) {
    Model &m = model();
    std::lock_guard lock(m.mutex);
    int r = 0;
    if (!call_fails(m, name, reg, &r)) {
        r = body(m);
    }
    log_call(m, text("%s(%s)=%d", name, args.c_str(), r));
    settle(m);
    return r;
}

bool sfp_port(int port) {
    const kvu_hal_board_t b = board();
    return port >= 1 && port <= b.lan_ports && port <= KVU_HAL_PORT_ENTRIES &&
           b.mii_addr_of_entry[port - 1] == 0;
}

bool copper(const Model &m) {
    return m.module == SFP_COPPER;
}
bool usable(const Model &m) {
    return m.module == SFP_COPPER || m.module == SFP_FIBER;
}

void change_control(Model &m, uint16_t clear, uint16_t set) {
    const uint16_t bmcr = m.phy.peek(MII_BMCR);
    m.phy.write(MII_BMCR, static_cast<uint16_t>((bmcr & ~clear) | set));
}

int set_speed(Model &m, int speed) {
    if (!usable(m) || (speed != 0 && speed != 10 && speed != 100 && speed != 1000)) {
        return -1;
    }
    if (!copper(m)) {
        return speed == 1000 || speed == 0 ? 0 : -1;
    }
    if (speed != 0) {  // 0 leaves the forced speed as it is
        const uint16_t bits = speed == 1000 ? BMCR_SPEED1000 : speed == 100 ? BMCR_SPEED100 : 0;
        change_control(m, BMCR_SPEED1000 | BMCR_SPEED100, bits);
    }
    return 0;
}

int duplex_of(const Model &m) {
    if (!copper(m)) {
        return kDuplexFull;
    }
    if ((m.phy.peek(MII_BMCR) & BMCR_ANENABLE) == 0) {
        return (m.phy.peek(MII_BMCR) & BMCR_FULLDPLX) != 0 ? kDuplexFull : kDuplexHalf;
    }
    const LinkState &s = m.phy.link();
    return !s.up || s.full_duplex ? kDuplexFull : kDuplexHalf;
}

int set_master(Model &m, int code) {
    static constexpr uint16_t kBits = CTL1000_ENABLE_MASTER | CTL1000_AS_MASTER;
    if (!usable(m) || code < kMasterSlave || code > kMasterAuto) {
        return -1;
    }
    if (copper(m)) {
        const uint16_t bits = code == kMasterSlave    ? CTL1000_ENABLE_MASTER
                              : code == kMasterMaster ? kBits
                                                      : 0;
        const uint16_t c1000 = m.phy.peek(MII_CTRL1000);
        m.phy.write(MII_CTRL1000, static_cast<uint16_t>((c1000 & ~kBits) | bits));
        m.phy.renegotiate();
    }
    return 0;
}

int set_admin(Model &m, int status) {
    if (status != kAdminUp && status != kAdminDown && status != kAdminDownIfMib) {
        return -1;
    }
    m.admin_up = status == kAdminUp;
    if (copper(m)) {
        change_control(m, m.admin_up ? BMCR_PDOWN | BMCR_ISOLATE : 0,
                       m.admin_up ? 0 : BMCR_PDOWN | BMCR_ISOLATE);
    }
    return 0;
}

int set_autoneg(Model &m, int mode) {
    if (mode != PHY_AUTONEG_RESTART && mode != PHY_AUTONEG_START && mode != PHY_AUTONEG_STOP) {
        return -1;
    }
    if (mode != PHY_AUTONEG_RESTART) {
        m.fibre_autoneg = mode == PHY_AUTONEG_START;
    }
    if (copper(m)) {
        if (mode == PHY_AUTONEG_STOP) {
            change_control(m, BMCR_ANENABLE, 0);
        } else {
            change_control(m, 0, BMCR_ANENABLE | BMCR_ANRESTART);
        }
    }
    return 0;
}

// Counting lock of the driver, taken and released by different calls.
struct DriverLock {
    std::mutex mutex;
    std::condition_variable freed;
    bool held = false;
};

DriverLock &driver_lock() {
    return immortal<DriverLock>();
}

void reset_driver_lock() {
    std::lock_guard lock(driver_lock().mutex);
    driver_lock().held = false;
    driver_lock().freed.notify_all();
}

const ResetHook reset_hook{reset_driver_lock};

}  // namespace

}  // namespace bsp::sim::eth

namespace bsp::sim {

bool eth_driver_locked() {
    std::lock_guard lock(eth::driver_lock().mutex);
    return eth::driver_lock().held;
}

}  // namespace bsp::sim

using namespace bsp::sim::eth;
using bsp::sim::LinkState;

extern "C" {

int eth_ctrl_emac_sfp_init(void) {
    return driver_call("init", "", -1, [](Model &m) {
        m.initialised = true;
        ++m.init_calls;
        return 0;
    });
}

int eth_ctrl_emac_sfp_mdio_read(int address, int reg) {
    Model &m = model();
    std::lock_guard lock(m.mutex);
    int r = 0;
    if (!call_fails(m, "mdio_read", reg, &r)) {
        r = address == kCageMdioAddress && copper(m) ? m.phy.read(reg) : kNoPhy;
    }
    log_call(m, text("mdio_read(%d,%d)=0x%04x", address, reg, static_cast<unsigned>(r)));
    settle(m);
    return r;
}

int eth_ctrl_emac_sfp_mdio_write(int address, int reg, int value) {
    return driver_call("mdio_write",
                       text("%d,%d,0x%04x", address, reg, static_cast<unsigned>(value)), reg,
                       [=](Model &m) {
                           if (address == kCageMdioAddress && copper(m)) {
                               m.phy.write(reg, static_cast<uint16_t>(value));
                           }
                           return 0;
                       });
}

int eth_ctrl_emac_sfp_speed_get(int port, int *speed) {
    return driver_call("speed_get", text("%d", port), -1, [=](Model &m) {
        if (!sfp_port(port)) {
            return -1;
        }
        *speed = current_link(m).speed;
        return 0;
    });
}

int eth_ctrl_emac_sfp_speed_set(int port, int speed) {
    return driver_call("speed_set", text("%d,%d", port, speed), -1,
                       [=](Model &m) { return sfp_port(port) ? set_speed(m, speed) : -1; });
}

int eth_ctrl_emac_sfp_duplex_get(int port, int *duplex) {
    return driver_call("duplex_get", text("%d", port), -1, [=](Model &m) {
        if (!sfp_port(port)) {
            return -1;
        }
        *duplex = duplex_of(m);
        return 0;
    });
}

int eth_ctrl_emac_sfp_duplex_set(int port, int duplex) {
    return driver_call("duplex_set", text("%d,%d", port, duplex), -1, [=](Model &m) {
        if (!sfp_port(port) || !usable(m) || (duplex != kDuplexFull && duplex != kDuplexHalf)) {
            return -1;
        }
        if (copper(m)) {
            change_control(m, duplex == kDuplexFull ? 0 : BMCR_FULLDPLX,
                           duplex == kDuplexFull ? BMCR_FULLDPLX : 0);
        }
        return duplex == kDuplexFull || copper(m) ? 0 : -1;
    });
}

int eth_ctrl_emac_sfp_mdix_get(int port, int *mode) {
    return driver_call("mdix_get", text("%d", port), -1, [=](Model &m) {
        if (!sfp_port(port)) {
            return -1;
        }
        *mode = m.mdix;
        return 0;
    });
}

int eth_ctrl_emac_sfp_mdix_set(int port, int mode) {
    return driver_call("mdix_set", text("%d,%d", port, mode), -1, [=](Model &m) {
        if (!sfp_port(port) || mode < 0 || mode > 2) {
            return -1;
        }
        m.mdix = mode;
        return 0;
    });
}

int eth_ctrl_emac_sfp_llf_get(int port, int *status) {
    return driver_call("llf_get", text("%d", port), -1, [=](Model &m) {
        if (!sfp_port(port)) {
            return -1;
        }
        *status = m.llf;
        return 0;
    });
}

int eth_ctrl_emac_sfp_llf_set(int port, int enable) {
    return driver_call("llf_set", text("%d,%d", port, enable), -1, [=](Model &m) {
        if (!sfp_port(port)) {
            return -1;
        }
        m.llf = enable != 0 ? 1 : 0;
        return 0;
    });
}

int eth_ctrl_emac_sfp_master_set(int port, int master) {
    return driver_call("master_set", text("%d,%d", port, master), -1,
                       [=](Model &m) { return sfp_port(port) ? set_master(m, master) : -1; });
}

int eth_ctrl_emac_sfp_get_operstatus(int port, int *status) {
    return driver_call("get_operstatus", text("%d", port), -1, [=](Model &m) {
        if (!sfp_port(port)) {
            return -1;
        }
        *status = current_link(m).up ? 1 : 0;
        return 0;
    });
}

int eth_ctrl_emac_sfp_set_adminstatus(int status) {
    return driver_call("set_adminstatus", text("%d", status), -1,
                       [=](Model &m) { return set_admin(m, status); });
}

int eth_ctrl_emac_sfp_autoneg_get(int *autoneg) {
    return driver_call("autoneg_get", "", -1, [=](Model &m) {
        *autoneg = copper(m) ? ((m.phy.peek(MII_BMCR) & BMCR_ANENABLE) != 0 ? 1 : 0)
                             : (m.fibre_autoneg ? 1 : 0);
        return 0;
    });
}

int eth_ctrl_emac_sfp_autoneg_set(int mode) {
    return driver_call("autoneg_set", text("%d", mode), -1,
                       [=](Model &m) { return set_autoneg(m, mode); });
}

int eth_ctrl_emac_sfp_sem_wait(void) {
    DriverLock &l = driver_lock();
    std::unique_lock lock(l.mutex);
    l.freed.wait(lock, [&] { return !l.held; });
    l.held = true;
    return 0;
}

int eth_ctrl_emac_sfp_sem_post(void) {
    DriverLock &l = driver_lock();
    std::lock_guard lock(l.mutex);
    l.held = false;
    l.freed.notify_one();
    return 0;
}

int eth_ctrl_emac_sfp_ecpsLinkEvent_install(eth_ecps_link_event_cb cb) {
    set_ecps_callback(cb);
    return 0;
}

int eth_ctrl_emac_sfp_SeisLinkUpEvent_install(eth_seis_link_up_event_cb cb) {
    set_seis_callback(cb);
    return 0;
}

}  // extern "C"
