// The clock and the timer service: both timer families run in one timer thread. With the
// manual clock, time moves only when a test advances it; with the real clock, it follows
// the machine's steady clock from the last reset.
#include <bsp_ctrl/platform/bsp_os.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "bsp_host/clock.h"
#include "bsp_host/immortal.h"
#include "bsp_host/refusal.h"

namespace bsp::host {

namespace {

using Steady = std::chrono::steady_clock;

struct Timer {
    OS_TIMER_ROUTINE os_routine = nullptr;  // one of the two routines is set
    TIMER_ROUTINE svc_routine = nullptr;
    UINT32 id = 0;  // argument passed to the routine
    uint64_t initial_ms = 0;
    uint64_t period_ms = 0;
    bool enabled = false;
    uint64_t due_ms = 0;
};

struct Service {
    std::mutex mutex;
    std::condition_variable cv;
    bool manual = false;
    uint64_t now_ms = 0;     // manual clock
    uint64_t target_ms = 0;  // manual clock: where advance_clock_ms is heading
    Steady::time_point epoch = Steady::now();
    bool firing = false;
    uint64_t generation = 0;            // bumped by reset: stale firings are dropped
    std::map<uintptr_t, Timer> timers;  // key: OS control block address or service timer id
    UINT32 next_svc_id = 1;
    std::thread thread;
    bool stop = false;
};

Service &svc() {
    return immortal<Service>();
}

thread_local bool t_in_timer = false;

uint64_t now_locked(const Service &s) {
    if (s.manual) {
        return s.now_ms;
    }
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - s.epoch).count());
}

std::optional<uintptr_t> earliest_due(const Service &s) {
    std::optional<uintptr_t> best;
    for (const auto &[key, t] : s.timers) {
        if (t.enabled && (!best || t.due_ms < s.timers.at(*best).due_ms)) {
            best = key;
        }
    }
    return best;
}

void fire_locked(std::unique_lock<std::mutex> &lock, Timer &t) {
    Timer copy = t;
    if (t.period_ms > 0) {
        t.due_ms += t.period_ms;
    } else {
        t.enabled = false;
    }
    Service &s = svc();
    s.firing = true;
    lock.unlock();
    if (copy.os_routine) {
        copy.os_routine(copy.id);
    } else {
        copy.svc_routine(copy.id);
    }
    lock.lock();
    s.firing = false;
    s.cv.notify_all();
}

// One pass of the service: fire what is due, or wait for the next due time or a change.
void service_step(std::unique_lock<std::mutex> &lock) {
    Service &s = svc();
    auto key = earliest_due(s);
    uint64_t limit = s.manual ? s.target_ms : now_locked(s);
    if (key && s.timers[*key].due_ms <= limit) {
        if (s.manual) {
            s.now_ms = std::max(s.now_ms, s.timers[*key].due_ms);
        }
        fire_locked(lock, s.timers[*key]);
        return;
    }
    if (s.manual) {
        s.now_ms = s.target_ms;
        s.cv.notify_all();
        s.cv.wait(lock);
    } else if (key) {
        s.cv.wait_until(lock, s.epoch + std::chrono::milliseconds(s.timers[*key].due_ms));
    } else {
        s.cv.wait(lock);
    }
}

void stop_service() {
    Service &s = svc();
    {
        std::lock_guard lock(s.mutex);
        s.stop = true;
        s.cv.notify_all();
    }
    if (s.thread.joinable()) {
        s.thread.join();
    }
}

void ensure_thread_locked() {
    Service &s = svc();
    if (s.thread.joinable()) {
        return;
    }
    s.thread = std::thread([] {
        t_in_timer = true;
        std::unique_lock lock(svc().mutex);
        while (!svc().stop) {
            service_step(lock);
        }
    });
    std::atexit(stop_service);
}

void reset_service(bool manual) {
    Service &s = svc();
    std::unique_lock lock(s.mutex);
    s.cv.wait(lock, [&] { return !s.firing || t_in_timer; });
    s.timers.clear();
    s.manual = manual;
    s.now_ms = s.target_ms = 0;
    s.epoch = Steady::now();
    s.next_svc_id = 1;
    ensure_thread_locked();
}

// Arming starts the timer thread: a unit that never resets the service still gets its
// timers fired.
void arm_locked(Timer &t, uint64_t initial_ms) {
    ensure_thread_locked();
    t.enabled = true;
    t.due_ms = now_locked(svc()) + initial_ms;
    svc().cv.notify_all();
}

}  // namespace

void reset_timers(ClockMode mode) {
    reset_service(mode == ClockMode::Manual);
}

void use_manual_clock() {
    std::lock_guard lock(svc().mutex);
    svc().now_ms = svc().target_ms = now_locked(svc());
    svc().manual = true;
    svc().cv.notify_all();
}

void use_real_clock() {
    std::lock_guard lock(svc().mutex);
    uint64_t now = now_locked(svc());
    svc().manual = false;
    svc().epoch = Steady::now() - std::chrono::milliseconds(now);
    svc().cv.notify_all();
}

uint64_t clock_ms() {
    std::lock_guard lock(svc().mutex);
    return now_locked(svc());
}

void advance_clock_ms(uint64_t ms) {
    Service &s = svc();
    std::unique_lock lock(s.mutex);
    if (!s.manual) {
        return;
    }
    ensure_thread_locked();
    s.target_ms = s.now_ms + ms;
    uint64_t target = s.target_ms;
    s.cv.notify_all();
    if (t_in_timer) {
        return;  // a routine advancing the clock cannot wait for itself
    }
    s.cv.wait(lock, [&] { return s.stop || (s.now_ms >= target && !s.firing); });
}

size_t enabled_timers() {
    std::lock_guard lock(svc().mutex);
    return static_cast<size_t>(std::count_if(svc().timers.begin(), svc().timers.end(),
                                             [](const auto &kv) { return kv.second.enabled; }));
}

bool in_timer_context() {
    return t_in_timer;
}

}  // namespace bsp::host

using bsp::host::refused;
using bsp::host::ServiceCall;
using bsp::host::svc;

extern "C" {

STATUS OS_Create_Timer(NU_TIMER *timer, CHAR *, OS_TIMER_ROUTINE routine, UNSIGNED id,
                       UNSIGNED initial_time, UNSIGNED reschedule_time, OPTION enable) {
    if (timer == nullptr || routine == nullptr || refused(ServiceCall::TimerCreate)) {
        return -1;
    }
    std::lock_guard lock(svc().mutex);
    bsp::host::Timer &t = svc().timers[reinterpret_cast<uintptr_t>(timer)];
    t = {};
    t.os_routine = routine;
    t.id = id;
    t.initial_ms = uint64_t{initial_time} * bsp::host::kTickMs;
    t.period_ms = uint64_t{reschedule_time} * bsp::host::kTickMs;
    if (enable == NU_ENABLE_TIMER) {
        bsp::host::arm_locked(t, t.initial_ms);
    }
    return NU_SUCCESS;
}

STATUS OS_Control_Timer(NU_TIMER *timer, OPTION enable) {
    std::lock_guard lock(svc().mutex);
    auto it = svc().timers.find(reinterpret_cast<uintptr_t>(timer));
    if (it == svc().timers.end()) {
        return -1;
    }
    if (enable == NU_ENABLE_TIMER) {
        bsp::host::arm_locked(it->second, it->second.initial_ms);
    } else {
        it->second.enabled = false;
    }
    return NU_SUCCESS;
}

STATUS OS_Reset_Timer(NU_TIMER *timer, OS_TIMER_ROUTINE routine, UNSIGNED initial_time,
                      UNSIGNED reschedule_time, OPTION enable) {
    std::lock_guard lock(svc().mutex);
    auto it = svc().timers.find(reinterpret_cast<uintptr_t>(timer));
    if (it == svc().timers.end() || routine == nullptr) {
        return -1;
    }
    bsp::host::Timer &t = it->second;
    t.os_routine = routine;
    t.initial_ms = uint64_t{initial_time} * bsp::host::kTickMs;
    t.period_ms = uint64_t{reschedule_time} * bsp::host::kTickMs;
    t.enabled = false;
    if (enable == NU_ENABLE_TIMER) {
        bsp::host::arm_locked(t, t.initial_ms);
    }
    return NU_SUCCESS;
}

// Service timers are created stopped; TimerEnable starts them from a full period.
STATUS TimerCreate(UINT32, UINT32 *timer_id, TIMER_ROUTINE routine, UINT32, UINT32 initial_time,
                   UINT32 period, UINT32) {
    if (timer_id == nullptr || routine == nullptr || refused(ServiceCall::TimerCreate)) {
        return -1;
    }
    std::lock_guard lock(svc().mutex);
    UINT32 id = svc().next_svc_id++;
    // Service timer keys live above every OS control-block address of the process.
    bsp::host::Timer &t = svc().timers[~uintptr_t{0} - id];
    t = {};
    t.svc_routine = routine;
    t.id = id;
    t.initial_ms = initial_time;
    t.period_ms = period;
    *timer_id = id;
    return NU_SUCCESS;
}

STATUS TimerEnable(UINT32 timer_id) {
    std::lock_guard lock(svc().mutex);
    auto it = svc().timers.find(~uintptr_t{0} - timer_id);
    if (it == svc().timers.end()) {
        return -1;
    }
    it->second.due_ms = 0;
    bsp::host::arm_locked(it->second,
                          it->second.period_ms ? it->second.period_ms : it->second.initial_ms);
    return NU_SUCCESS;
}

STATUS TimerDisable(UINT32 timer_id) {
    std::lock_guard lock(svc().mutex);
    auto it = svc().timers.find(~uintptr_t{0} - timer_id);
    if (it == svc().timers.end()) {
        return -1;
    }
    it->second.enabled = false;
    return NU_SUCCESS;
}

UNSIGNED OS_Retrieve_Clock(void) {
    return static_cast<UNSIGNED>(bsp::host::clock_ms() / bsp::host::kTickMs);
}

}  // extern "C"
