// Fault injection rules and per-operation call counters.
#include "bsp_sim/fault.h"

#include <array>
#include <mutex>
#include <vector>

#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

struct ArmedRule {
    FaultRule rule;
    unsigned seen = 0;  // matching calls since the rule was armed
    bool spent = false;
};

struct Faults {
    std::mutex mutex;
    std::vector<ArmedRule> rules;
    std::array<unsigned, static_cast<size_t>(FaultOp::Count)> calls{};
};

Faults &faults() {
    return immortal<Faults>();
}

void reset_faults() {
    std::lock_guard lock(faults().mutex);
    faults().rules.clear();
    faults().calls.fill(0);
}

const ResetHook reset_hook{reset_faults, kCorePhase};

}  // namespace

void inject_fault(const FaultRule &rule) {
    std::lock_guard lock(faults().mutex);
    faults().rules.push_back({rule});
}

void clear_faults() {
    std::lock_guard lock(faults().mutex);
    faults().rules.clear();
}

unsigned fault_op_calls(FaultOp op) {
    std::lock_guard lock(faults().mutex);
    return faults().calls[static_cast<size_t>(op)];
}

bool fault_hit(FaultOp op, const std::string &path, int *error, long *short_length) {
    std::lock_guard lock(faults().mutex);
    ++faults().calls[static_cast<size_t>(op)];
    if (short_length) {
        *short_length = -1;
    }
    for (ArmedRule &r : faults().rules) {
        if (r.spent || r.rule.op != op || (!r.rule.path.empty() && r.rule.path != path)) {
            continue;
        }
        ++r.seen;
        if (r.rule.nth != 0 && r.seen != r.rule.nth) {
            continue;
        }
        r.spent = r.rule.nth != 0;
        if (error) {
            *error = r.rule.error;
        }
        if (short_length) {
            *short_length = r.rule.short_length;
        }
        return true;
    }
    return false;
}

bool fault_hit(FaultOp op) {
    return fault_hit(op, std::string(), nullptr, nullptr);
}

}  // namespace bsp::sim
