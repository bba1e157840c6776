// The simulated unit's clock and timer service are the host layer's.
#ifndef BSP_SIM_CLOCK_H
#define BSP_SIM_CLOCK_H

#include <bsp_host/clock.h>

namespace bsp::sim {

using bsp::host::advance_clock_ms;
using bsp::host::clock_ms;
using bsp::host::ClockMode;
using bsp::host::enabled_timers;
using bsp::host::in_timer_context;
using bsp::host::kTickMs;
using bsp::host::reset_timers;
using bsp::host::use_manual_clock;
using bsp::host::use_real_clock;

}  // namespace bsp::sim

#endif
