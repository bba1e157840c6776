// The simulated clock and timer service. Tests use the manual clock and advance it; the
// shell uses real time. Every timer routine of both families runs in one timer-service
// thread (the "timer context").
#ifndef BSP_SIM_CLOCK_H
#define BSP_SIM_CLOCK_H

#include <cstddef>
#include <cstdint>

namespace bsp::sim {

constexpr uint32_t kTickMs = 10;  // one OS tick

void use_manual_clock();
void use_real_clock();

// Milliseconds since the unit was reset.
uint64_t clock_ms();

// Manual clock only: moves time forward, firing every timer that falls due on the way in
// the timer thread, and returns when all those routines have returned.
void advance_clock_ms(uint64_t ms);

// Number of timers of either family that are currently enabled.
size_t enabled_timers();

// True when the calling thread is the timer-service thread.
bool in_timer_context();

}  // namespace bsp::sim

#endif
