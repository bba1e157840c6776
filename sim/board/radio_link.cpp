// The radio-link driver's compensation-shift notification: the library installs its
// callback; the radio (a test or the shell) reports shifts through it.
#include <bsp_ctrl/platform/bsp_board.h>

#include <atomic>

#include "bsp_sim/sync.h"
#include "bsp_sim/unit.h"

namespace bsp::sim {

namespace {

std::atomic<rlbsp_comp_shift_cb> &installed() {
    static std::atomic<rlbsp_comp_shift_cb> cb{nullptr};
    return cb;
}

void reset_radio_link() {
    installed() = nullptr;
}

const ResetHook reset_hook{reset_radio_link};

}  // namespace

bool radio_shift_installed() {
    return installed().load() != nullptr;
}

bool radio_notify_shift(int si, int so, int ext_enhanced_comp) {
    rlbsp_comp_shift_cb cb = installed().load();
    if (cb == nullptr) {
        return false;
    }
    cb(si, so, ext_enhanced_comp);
    return true;
}

}  // namespace bsp::sim

extern "C" int RLBSP_1588_ecps_compensation_shift_install(rlbsp_comp_shift_cb cb) {
    bsp::sim::installed() = cb;
    return 0;
}
