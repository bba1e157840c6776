// Regions for C applications hosted by the simulated unit.
#include "bsp_host/region.h"
#include "bsp_sim/bsp_sim_c.h"

extern "C" uint32_t bsp_sim_region(uint32_t size) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(bsp::host::map_low_region(size)));
}
