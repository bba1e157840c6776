// Reset of the whole simulated unit and the start-up check that interposition is live.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "bsp_sim/unit.h"
#include "devices/interpose.h"
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

bool interposition_live() {
    return interposed_symbols_resolve_here();
}

void require_interposition() {
    if (!interposition_live()) {
        std::fprintf(stderr,
                     "bsp_sim: the C library calls of this process do not reach the simulated "
                     "devices (is the executable linked with exported symbols?); refusing to "
                     "run so that no real device is touched\n");
        std::abort();
    }
}

}  // namespace bsp::sim
