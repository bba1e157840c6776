// State shared by the MAC/SFP driver, the SFP monitor and the simulator API: one SFP cage
// with its module, the copper module's PHY, the driver's own settings, the call log and the
// injected faults. Everything is guarded by one mutex.
#ifndef BSP_SIM_BOARD_ETH_MODEL_H
#define BSP_SIM_BOARD_ETH_MODEL_H

#include <mutex>
#include <string>
#include <vector>

#include "bsp_sim/eth.h"
#include "eth_phy.h"

namespace bsp::sim::eth {

struct Model {
    std::mutex mutex;
    sfp_hw_t module = SFP_COPPER;
    Phy phy;
    bool initialised = false;
    unsigned init_calls = 0;
    bool admin_up = true;
    bool fibre_autoneg = true;
    int mdix = 0;
    int llf = 0;
    bool reported_up = false;  // the link as last reported by an event
    std::vector<std::string> calls;
    std::vector<EthFault> faults;
};

Model &model();

// The link of the cage as the module and the far end make it.
LinkState current_link(const Model &m);

// After any change: raises the link events the change caused. Call with the mutex held.
void settle(Model &m);

// Records a driver call in the log; true when an injected fault makes it fail with *result.
bool call_fails(Model &m, const char *call, int reg, int *result);
void log_call(Model &m, const std::string &text);

// The hardware port of the SFP cage (the first port entry with MII address 0), or -1.
int cage_hw_port();

// The event thread: queues an event for the installed callbacks.
void post_link_event(const LinkEvent &event);
void set_ecps_callback(eth_ecps_link_event_cb cb);
void set_seis_callback(eth_seis_link_up_event_cb cb);
void reset_events();

}  // namespace bsp::sim::eth

#endif
