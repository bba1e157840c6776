// The host layer as the simulated unit uses it: reset with the unit, on the manual clock,
// its messages captured for tests and never printed unless the program asks, its service
// calls refused where the fault rules say.
#include <array>

#include "bsp_host/clock.h"
#include "bsp_host/log.h"
#include "bsp_host/os.h"
#include "bsp_host/refusal.h"
#include "bsp_sim/fault.h"
#include "bsp_sim/unit.h"

namespace bsp::sim {

namespace {

using host::ServiceCall;

constexpr std::array kFaultOfCall = {
    std::pair{ServiceCall::SemCreate, FaultOp::SemCreate},
    std::pair{ServiceCall::SemObtain, FaultOp::SemObtain},
    std::pair{ServiceCall::SemRelease, FaultOp::SemRelease},
    std::pair{ServiceCall::SemDelete, FaultOp::SemDelete},
    std::pair{ServiceCall::TaskCreate, FaultOp::TaskCreate},
    std::pair{ServiceCall::TimerCreate, FaultOp::TimerCreate},
    std::pair{ServiceCall::PoolCreate, FaultOp::PoolCreate},
    std::pair{ServiceCall::PoolAllocate, FaultOp::PoolAllocate},
};

bool refuse_by_fault_rules(ServiceCall call) {
    for (const auto &[c, op] : kFaultOfCall) {
        if (c == call) {
            return fault_hit(op);
        }
    }
    return false;
}

void reset_host_layer() {
    host::reset_semaphores();
    host::reset_timers(host::ClockMode::Manual);
    host::clear_log();
}

bool take_over_host_layer() {
    host::set_refusal_check(refuse_by_fault_rules);
    host::set_log_capture(true);
    host::set_log_printing(false);
    host::use_manual_clock();
    return true;
}

const bool taken_over = take_over_host_layer();
const ResetHook reset_hook{reset_host_layer, kCorePhase};

}  // namespace

}  // namespace bsp::sim
