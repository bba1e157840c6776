// Regions below 4 GiB come from the host layer.
#ifndef BSP_SIM_REGION_H
#define BSP_SIM_REGION_H

#include <bsp_host/region.h>

namespace bsp::sim {

using bsp::host::map_file_region;
using bsp::host::map_low_region;
using bsp::host::unmap_region;

}  // namespace bsp::sim

#endif
