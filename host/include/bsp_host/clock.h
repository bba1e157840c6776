// The clock and the timer service. The clock runs in real time; a program that wants to
// step time itself (a test) switches to the manual clock and advances it. Every timer
// routine of both families runs in one timer-service thread (the "timer context").
#ifndef BSP_HOST_CLOCK_H
#define BSP_HOST_CLOCK_H

#include <cstddef>
#include <cstdint>

namespace bsp::host {

constexpr uint32_t kTickMs = 10;  // one OS tick

enum class ClockMode { Real, Manual };

// Drops every timer (waiting for a routine that is running to return) and restarts the
// clock from 0 in the given mode.
void reset_timers(ClockMode mode);

void use_manual_clock();
void use_real_clock();

// Milliseconds since the process started or the timers were last reset.
uint64_t clock_ms();

// Manual clock only: moves time forward, firing every timer that falls due on the way in
// the timer thread, and returns when all those routines have returned.
void advance_clock_ms(uint64_t ms);

// Number of timers of either family that are currently enabled.
size_t enabled_timers();

// True when the calling thread is the timer-service thread.
bool in_timer_context();

}  // namespace bsp::host

#endif
