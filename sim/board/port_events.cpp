// Link events of hardware ports other than the SFP cage (the radio-link port, copper LAN
// ports), delivered by the MAC/SFP driver's event thread like the cage's own events.
#include "bsp_sim/sync.h"
#include "eth_model.h"

namespace bsp::sim {

void raise_port_link_event(int hw_port, bool up, unsigned int speed) {
    eth::post_link_event({hw_port, up ? 1 : 0, up ? speed : 0});
}

}  // namespace bsp::sim
