// The simulated host's never-destroyed objects use the host layer's helper.
#ifndef BSP_SIM_IMMORTAL_H
#define BSP_SIM_IMMORTAL_H

#include <bsp_host/immortal.h>

namespace bsp::sim {

using host::immortal;

}  // namespace bsp::sim

#endif
