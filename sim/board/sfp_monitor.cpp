// The SFP cage and its monitor: modules are plugged and pulled; the monitor answers once the
// driver has started it.
#include <linux/mii.h>

#include "eth_model.h"

namespace bsp::sim {

using eth::model;

void plug_sfp(sfp_hw_t type) {
    std::lock_guard lock(model().mutex);
    eth::Model &m = model();
    m.module = type;
    m.phy.reset();  // a new module's PHY starts from its power-on state
    m.phy.set_present(type == SFP_COPPER);
    if (type == SFP_COPPER && !m.admin_up) {
        m.phy.write(MII_BMCR,
                    static_cast<uint16_t>(m.phy.peek(MII_BMCR) | BMCR_PDOWN | BMCR_ISOLATE));
    }
    eth::settle(m);
}

void pull_sfp() {
    std::lock_guard lock(model().mutex);
    model().module = SFP_NO_SFP;
    model().phy.set_present(false);
    eth::settle(model());
}

sfp_hw_t sfp_module() {
    std::lock_guard lock(model().mutex);
    return model().module;
}

}  // namespace bsp::sim

extern "C" sfp_hw_t sfp_mon_get_module_type(void) {
    std::lock_guard lock(bsp::sim::eth::model().mutex);
    const bsp::sim::eth::Model &m = bsp::sim::eth::model();
    return m.initialised ? m.module : SFP_NOT_INIT;
}
