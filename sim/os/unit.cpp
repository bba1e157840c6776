// Reset of the whole simulated unit.
#include <algorithm>
#include <mutex>
#include <vector>

#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

struct Hooks {
    std::mutex mutex;
    std::vector<std::pair<int, void (*)()>> resets;
};

Hooks &hooks() {
    return immortal<Hooks>();
}

}  // namespace

ResetHook::ResetHook(void (*reset)(), int phase) {
    std::lock_guard lock(hooks().mutex);
    hooks().resets.emplace_back(phase, reset);
}

void reset_unit() {
    std::vector<std::pair<int, void (*)()>> resets;
    {
        std::lock_guard lock(hooks().mutex);
        resets = hooks().resets;
    }
    std::stable_sort(resets.begin(), resets.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto &[phase, fn] : resets) {
        fn();
    }
}

}  // namespace bsp::sim
