// 1588 compensation: the time-stamp corrections of the RL and SFP TSUs from the delay and
// asymmetry compensations and the radio-link shifts, the RL operational mode and bonding,
// and the debug alarm.
#include "ecps_ctrl_block.h"

namespace bsp::ecps {

namespace {

// Shift values the radio-link driver reports for an unsupported capacity or a
// disconnected radio link.
constexpr UINT32 kShiftUnsupported = 0x80000000u;
constexpr UINT32 kShiftDisconnected = 0x80000001u;

constexpr UINT32 kStartDelay = 0x1;
constexpr UINT32 kStartAsymmetry = 0x2;
constexpr UINT32 kStartShift = 0x4;

constexpr UINT32 kRlTsuNibbleMask = 0xf;

bool is_shift_marker(int v) {
    auto u = static_cast<UINT32>(v);
    return u == kShiftUnsupported || u == kShiftDisconnected;
}

// The corrections in 32-bit two's-complement arithmetic, wrapping around.
void write_rl_corrections(UINT32 d, UINT32 a, UINT32 si, UINT32 so) {
    vanta2_write32(kRlSyncIngress, d - a + si);
    vanta2_write32(kRlSyncEgress, so - d);
    vanta2_write32(kRlDelayIngress, d + si);
    vanta2_write32(kRlDelayEgress, 0u - d - a + so);
}

void write_sfp_corrections(UINT32 d, UINT32 a) {
    vanta2_write32(kSfpCorr0, d - a);
    vanta2_write32(kSfpCorr2, 0u - d);
    vanta2_write32(kSfpCorr1, d);
    vanta2_write32(kSfpCorr3, 0u - d - a);
}

// The one place that writes correction registers; port is 1 or 3 with a port entry.
int ecps_set_comp(int port, int delay, int asymmetry, int si, int so) {
    log_printf(DBG_1588_INDEX, 2,
               "[1588] ECPS Compensation for port %d set to delay=%d, asymmetry=%d, si=%d, "
               "so=%d\n",
               port, delay, asymmetry, si, so);
    if (port == KVU_HAL_RL_HW_PORT && (is_shift_marker(si) || is_shift_marker(so))) {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS compensation values for RL port %d are not modified due to "
                   "unsupported RL capacity or disconnected RL\n",
                   port);
        return 0;
    }
    if (load(ecps_ctrl.linkDelayCompOperMode[port_entry(port)]) == BASIC) {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS linkDelayCompOperMode for port %d is BASIC: si = 0, so = 0\n",
                   port);
        si = 0;
        so = 0;
    }
    auto d = static_cast<UINT32>(delay);
    auto a = static_cast<UINT32>(asymmetry);
    if (port == KVU_HAL_RL_HW_PORT) {
        write_rl_corrections(d, a, static_cast<UINT32>(si), static_cast<UINT32>(so));
    } else {
        write_sfp_corrections(d, a);
    }
    return 0;
}

// Rewrites the RL corrections with the stored inputs and the given shifts.
int rewrite_rl(int rl, int si, int so) {
    return ecps_set_comp(KVU_HAL_RL_HW_PORT, load(ecps_ctrl.x[rl]),
                         static_cast<int>(load(ecps_ctrl.y[rl])), si, so);
}

int wrong_port(int port) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS wrong port %d\n", port);
    return -1;
}

// The RL port's entry, or -1 when the port is not the RL port or the board gives it none.
int rl_entry_of(int port) {
    return port == KVU_HAL_RL_HW_PORT ? port_entry(port) : -1;
}

}  // namespace

void asym_1588_notification(int si, int so, int ext_enhanced_comp) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS mod asym comp set si %d so %d\n", si, so);
    if (!valid_comp_port(KVU_HAL_RL_HW_PORT)) {
        wrong_port(KVU_HAL_RL_HW_PORT);
        return;
    }
    int rl = port_entry(KVU_HAL_RL_HW_PORT);
    set_bits(ecps_ctrl.ecps_delay_adapt_start_mask[rl], kStartShift);
    if (si == load(ecps_ctrl.si) && so == load(ecps_ctrl.so)) {
        return;
    }
    rewrite_rl(rl, si, so);
    store(ecps_ctrl.si, si);
    store(ecps_ctrl.so, so);
    store(ecps_ctrl.ext_enhanced_comp, ext_enhanced_comp);
    log_printf(DBG_1588_INDEX, 2,
               "[1588] asym_1588_notification: ECPS setting si %d so %d, extended enhanced mode "
               "is %s\n",
               si, so, ext_enhanced_comp != 0 ? "ON" : "OFF");
}

}  // namespace bsp::ecps

using namespace bsp::ecps;

extern "C" {

BSP_API int ecps_delayComp_get(int port, int *delay) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS delay for port %d\n", port);
    if (delay == nullptr) {
        return -1;
    }
    if (!valid_comp_port(port)) {
        return wrong_port(port);
    }
    *delay = load(ecps_ctrl.x[port_entry(port)]);
    return 0;
}

BSP_API int ecps_delayComp_set(int port, int delay) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS delay set %d for port %d\n", delay, port);
    if (!valid_comp_port(port)) {
        return wrong_port(port);
    }
    int e = port_entry(port);
    set_bits(ecps_ctrl.ecps_delay_adapt_start_mask[e], kStartDelay);
    if (load(ecps_ctrl.x[e]) == delay) {
        return 0;
    }
    int rc = ecps_set_comp(port, delay, static_cast<int>(load(ecps_ctrl.y[e])), load(ecps_ctrl.si),
                           load(ecps_ctrl.so));
    store(ecps_ctrl.x[e], delay);
    return rc;
}

BSP_API int ecps_asymmetryCompensation_get(int port, unsigned int *asymmetryCompensation) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS asymmetry get for port %d\n", port);
    if (asymmetryCompensation == nullptr) {
        return -1;
    }
    if (!valid_comp_port(port)) {
        return wrong_port(port);
    }
    *asymmetryCompensation = load(ecps_ctrl.y[port_entry(port)]);
    return 0;
}

BSP_API int ecps_asymmetryCompensation_set(int port, unsigned int asymmetryCompensation) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS asymmetry set %d for port %d\n",
               static_cast<int>(asymmetryCompensation), port);
    if (!valid_comp_port(port)) {
        return wrong_port(port);
    }
    int e = port_entry(port);
    set_bits(ecps_ctrl.ecps_delay_adapt_start_mask[e], kStartAsymmetry);
    if (load(ecps_ctrl.y[e]) == asymmetryCompensation) {
        return 0;
    }
    int rc = ecps_set_comp(port, load(ecps_ctrl.x[e]), static_cast<int>(asymmetryCompensation),
                           load(ecps_ctrl.si), load(ecps_ctrl.so));
    store(ecps_ctrl.y[e], UINT32{asymmetryCompensation});
    return rc;
}

BSP_API int ecps_delayCompOperMode_get(int port, int *operMode) {
    int rl = rl_entry_of(port);
    if (rl < 0) {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS LINK DELAY COMP OPER MODE get: Basic and Telecom link delay "
                   "compensation operational mode is not applicable for port %d\n",
                   port);
        if (operMode != nullptr) {
            *operMode = 0;
        }
        return -1;
    }
    int mode = load(ecps_ctrl.linkDelayCompOperMode[rl]);
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS LINK DELAY COMP OPER MODE %d get for port %d\n",
               mode, port);
    if (operMode == nullptr) {
        return -1;
    }
    *operMode = mode;
    return 0;
}

BSP_API int ecps_delayCompOperMode_set(int port, int operMode) {
    int rl = rl_entry_of(port);
    if (rl < 0) {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS LINK DELAY COMP OPER MODE set: Basic and Telecom link delay "
                   "compensation operational mode is not applicable for port %d\n",
                   port);
        return -1;
    }
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS LINK DELAY COMP OPER MODE %d set for port %d\n",
               operMode, port);
    store(ecps_ctrl.linkDelayCompOperMode[rl], operMode);
    if (operMode == TELECOM) {
        rewrite_rl(rl, load(ecps_ctrl.si), load(ecps_ctrl.so));
    } else {
        rewrite_rl(rl, 0, 0);
    }
    return 0;
}

BSP_API int ecps_rlBondingStatus_get(int port, int *bondingStatus) {
    int rl = rl_entry_of(port);
    if (rl < 0) {
        log_printf(DBG_1588_INDEX, 2, "[1588] ECPS RL BONDING STATUS get: port %d is not RL port\n",
                   port);
        if (bondingStatus != nullptr) {
            *bondingStatus = 0;
        }
        return -1;
    }
    int status = load(ecps_ctrl.rlBondingStatus[rl]);
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS RL BONDING STATUS %d get for port %d\n", status,
               port);
    if (bondingStatus == nullptr) {
        return -1;
    }
    *bondingStatus = status;
    return 0;
}

// Bits 0..3 of the RL TSU control: 0 with the TSU off, 1 (enable) without bonding, 3
// (enable and bonding) with it.
BSP_API int ecps_rlBondingStatus_set(int port, int operMode) {
    int rl = rl_entry_of(port);
    if (rl < 0) {
        log_printf(DBG_1588_INDEX, 2, "[1588] ECPS rlBondingStatus set: port %d is not RL port\n",
                   port);
        return -1;
    }
    unsigned int tsu = 0;
    if (ecps_tsuCtrl_get(KVU_HAL_RL_HW_PORT, &tsu) != 0) {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS RL BONDING STATUS %d set failure: failed to get TSU status for "
                   "port %d\n",
                   operMode, port);
        return 0;
    }
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS RL BONDING STATUS %d set for port %d\n", operMode,
               port);
    store(ecps_ctrl.rlBondingStatus[rl], operMode);
    UINT32 nibble = 0;
    if (tsu != 0) {
        nibble = operMode == RL_BONDING_DISABLED ? kTsuEnableBit : kTsuEnableBit | kRlBondingBit;
    }
    vanta2_write32_reg(kRlTsuCtrl, nibble, kRlTsuNibbleMask);
    return 0;
}

BSP_API int ecps_dbg_send_alarm(int port, int alarm) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS debug send alarm %d for port %d\n", alarm, port);
    ecps_trap_info_cb cb = load(ecps_ctrl.ecps_trap_info);
    if (cb == nullptr || (alarm != 0 && alarm != 1)) {
        return -1;
    }
    cb(port, static_cast<unsigned int>(alarm));
    return 0;
}

}  // extern "C"
