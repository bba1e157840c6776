// The installed refusal check, read by every service call that can be refused.
#include "bsp_host/refusal.h"

#include <atomic>

namespace bsp::host {

namespace {

std::atomic<RefusalCheck> g_check{nullptr};

}  // namespace

void set_refusal_check(RefusalCheck check) {
    g_check.store(check);
}

bool refused(ServiceCall call) {
    RefusalCheck check = g_check.load();
    return check != nullptr && check(call);
}

}  // namespace bsp::host
