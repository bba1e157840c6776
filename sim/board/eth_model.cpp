// The shared state of the SFP port model, its reset, the far end and the link it makes.
#include "eth_model.h"

#include "bsp_sim/board.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim::eth {

namespace {

void reset_model() {
    reset_events();
    Model &m = model();
    std::lock_guard lock(m.mutex);
    m.module = SFP_COPPER;
    m.phy.set_partner(LinkPartner{});
    m.phy.set_present(true);
    m.phy.reset();
    m.phy.take_dropped();
    m.initialised = false;
    m.init_calls = 0;
    m.admin_up = true;
    m.fibre_autoneg = true;
    m.mdix = 0;
    m.llf = 0;
    m.reported_up = current_link(m).up;
    m.calls.clear();
    m.faults.clear();
}

const ResetHook reset_hook{reset_model};

}  // namespace

Model &model() {
    return immortal<Model>();
}

LinkState current_link(const Model &m) {
    if (m.module == SFP_COPPER) {
        return m.phy.link();
    }
    LinkState s;
    if (m.module == SFP_FIBER && m.phy.partner().connected && m.admin_up) {
        s.up = true;
        s.speed = 1000;
        s.full_duplex = true;
    }
    return s;
}

void settle(Model &m) {
    const LinkState now = current_link(m);
    const bool dropped = m.phy.take_dropped() && m.module == SFP_COPPER;
    const int port = cage_hw_port();
    if (m.reported_up && (dropped || !now.up)) {
        post_link_event({port, 0, 0});
    }
    if (now.up && (!m.reported_up || dropped)) {
        post_link_event({port, 1, static_cast<unsigned>(now.speed)});
    }
    m.reported_up = now.up;
}

bool call_fails(Model &m, const char *call, int reg, int *result) {
    for (auto it = m.faults.begin(); it != m.faults.end(); ++it) {
        if (it->call != call || (it->reg >= 0 && it->reg != reg)) {
            continue;
        }
        if (it->nth > 1) {
            --it->nth;
            continue;
        }
        *result = it->result;
        if (it->nth == 1) {
            m.faults.erase(it);
        }
        return true;
    }
    return false;
}

void log_call(Model &m, const std::string &text) {
    m.calls.push_back(text);
}

int cage_hw_port() {
    const kvu_hal_board_t b = board();
    for (int e = 0; e < KVU_HAL_PORT_ENTRIES; ++e) {
        if (b.mii_addr_of_entry[e] == 0) {
            return b.hw_port_of_entry[e];
        }
    }
    return -1;
}

}  // namespace bsp::sim::eth

namespace bsp::sim {

using eth::model;

void set_link_partner(const LinkPartner &partner) {
    std::lock_guard lock(model().mutex);
    model().phy.set_partner(partner);
    eth::settle(model());
}

LinkPartner link_partner() {
    std::lock_guard lock(model().mutex);
    return model().phy.partner();
}

void set_link_connected(bool connected) {
    std::lock_guard lock(model().mutex);
    LinkPartner p = model().phy.partner();
    p.connected = connected;
    model().phy.set_partner(p);
    eth::settle(model());
}

LinkState link_state() {
    std::lock_guard lock(model().mutex);
    return eth::current_link(model());
}

uint16_t phy_peek(int reg) {
    std::lock_guard lock(model().mutex);
    return model().phy.peek(reg);
}

void phy_poke(int reg, uint16_t value) {
    std::lock_guard lock(model().mutex);
    model().phy.poke(reg, value);
    eth::settle(model());
}

std::vector<std::string> eth_calls() {
    std::lock_guard lock(model().mutex);
    return model().calls;
}

void clear_eth_calls() {
    std::lock_guard lock(model().mutex);
    model().calls.clear();
}

void inject_eth_fault(const EthFault &fault) {
    std::lock_guard lock(model().mutex);
    model().faults.push_back(fault);
}

bool eth_driver_initialised() {
    std::lock_guard lock(model().mutex);
    return model().initialised;
}

unsigned eth_driver_init_calls() {
    std::lock_guard lock(model().mutex);
    return model().init_calls;
}

bool eth_admin_up() {
    std::lock_guard lock(model().mutex);
    return model().admin_up;
}

int eth_mdix_mode() {
    std::lock_guard lock(model().mutex);
    return model().mdix;
}

int eth_llf() {
    std::lock_guard lock(model().mutex);
    return model().llf;
}

}  // namespace bsp::sim
