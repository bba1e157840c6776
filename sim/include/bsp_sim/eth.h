// The unit's SFP Ethernet port: the MAC/SFP driver, the SFP cage with its monitor, the copper
// module's clause-22/40 PHY, and whatever sits at the far end of the cable.
//
// A fresh unit has a copper module in the cage and a connected link partner that
// autonegotiates and advertises every 10/100/1000 ability and symmetric pause. The SFP
// monitor reports SFP_NOT_INIT until eth_ctrl_emac_sfp_init has started the driver. Link
// changes are resolved at once (autonegotiation takes no time) and reported to the installed
// callbacks from the driver's own event thread, with the hardware port of the cage.
#ifndef BSP_SIM_ETH_H
#define BSP_SIM_ETH_H

#include <bsp_ctrl/platform/bsp_board.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bsp::sim {

// ---- the cage ----
void plug_sfp(sfp_hw_t type);  // SFP_COPPER, SFP_FIBER or SFP_ERROR (a module that fails)
void pull_sfp();               // the cage is empty
sfp_hw_t sfp_module();         // what is plugged, whatever the monitor says

// ---- the far end ----
// Abilities of the copper link partner, as its own PHY registers would hold them.
struct LinkPartner {
    bool connected = true;        // cable plugged and partner powered
    bool autoneg = true;          // false: forced to forced_speed / forced_full
    uint16_t advertise = 0x05E1;  // clause-28 abilities: 10/100 half and full, pause
    uint16_t ctrl1000 = 0x0300;   // clause-40: 1000 half/full, manual master/slave, port type
    int forced_speed = 100;       // when not autonegotiating: 10, 100 or 1000
    bool forced_full = false;
    uint16_t seed = 0x1234;  // master/slave seed when both sides resolve automatically
};
void set_link_partner(const LinkPartner &partner);
LinkPartner link_partner();

// Raises or drops the link from the far end (cable in or out); for a fibre module this is
// the received light.
void set_link_connected(bool connected);

// ---- what the link resolved to ----
struct LinkState {
    bool up = false;
    int speed = 0;  // Mbit/s, 0 when down
    bool full_duplex = false;
    bool tx_pause = false;
    bool rx_pause = false;
    bool master = false;  // 1000BASE-T only
    bool master_slave_fault = false;
};
LinkState link_state();

// ---- the PHY, bypassing the driver (no call log, no latching side effects) ----
uint16_t phy_peek(int reg);
void phy_poke(int reg, uint16_t value);

// ---- the driver ----
// Every library call of the eth_ctrl_emac_sfp_* driver, in order, as text:
// "mdio_read(0,4)=0x01e1", "mdio_write(0,4,0x0de1)", "speed_set(3,100)=0", ...
std::vector<std::string> eth_calls();
void clear_eth_calls();

// Makes the nth following call named `call` ("mdio_read", "speed_set", ...; with reg >= 0
// only MDIO accesses of that register) fail with `result`; nth 0 fails every such call.
struct EthFault {
    std::string call;
    int reg = -1;
    int result = -1;
    unsigned nth = 1;
};
void inject_eth_fault(const EthFault &fault);

bool eth_driver_initialised();
unsigned eth_driver_init_calls();
// True while someone holds the driver's own lock (eth_ctrl_emac_sfp_sem_wait).
bool eth_driver_locked();

// Administrative status as last set (true = up), MDI-X mode and link-loss forwarding.
bool eth_admin_up();
int eth_mdix_mode();
int eth_llf();

// ---- link events ----
struct LinkEvent {
    int port;            // hardware port
    int status;          // 1 = up, 0 = down
    unsigned int speed;  // Mbit/s, 0 when down
    bool operator==(const LinkEvent &) const = default;
};
// Every event the driver raised since the last reset, in order (also when no callback was
// installed), and a wait until the event thread has delivered all of them.
std::vector<LinkEvent> link_events();
void wait_link_events_delivered();

}  // namespace bsp::sim

#endif
