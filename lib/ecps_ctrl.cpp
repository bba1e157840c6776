// 1588 control: detection at start, TSU enable, RTC sync source, the polling timer and the
// link-event callback of the MAC/SFP driver.
#include <unistd.h>

#include "ecps_ctrl_block.h"

namespace bsp::ecps {

ecps_ctrl_s ecps_ctrl;

namespace {

NU_TIMER ecps_timer_ctrl;
CHAR kTimerName[] = "ECPS_POLLING";

constexpr UNSIGNED kTimerTicks = 10;
constexpr UINT8 kLastRevWithout1588 = '1';
constexpr UINT32 kRtcCtrlColdValue = 0x13;
constexpr UINT16 kRlLmActive = 2;
constexpr UINT16 kRlTraLmIdle = 0x84;
constexpr UINT16 kRlIdlLmIdle = 0x82;
constexpr useconds_t kSfpTsuSettleUs = 10;

// Corrections zeroed on reset type 1, in this order.
constexpr UINT32 kColdClearedCorrections[] = {kRlSyncIngress, kRlDelayIngress, kRlSyncEgress,
                                              kRlDelayEgress, kSfpCorr0,       kSfpCorr1,
                                              kSfpCorr2,      kSfpCorr3};
// RL corrections read on a warm restart to recover the operational mode, in this order.
constexpr UINT32 kWarmReadCorrections[] = {kRlSyncIngress, kRlDelayIngress, kRlSyncEgress,
                                           kRlDelayEgress};

bool supported() {
    return load(ecps_ctrl.supported_1588) != 0;
}

char rev_char(UINT32 address) {
    UINT16 v = 0;
    vanta_read(address, &v);
    return static_cast<char>(v & 0xFF);
}

void ecps_timer_entry(UNSIGNED) {
    INT alarm = load(ecps_ctrl.ecpsNetRefAlarm);
    if (alarm >= -1 && alarm <= 1) {
        store(ecps_ctrl.alarm_filtering_time, static_cast<INT>(load(ecps_ctrl.alarmPeriod)));
    }
}

int ecps_link_callback(int port, int status, unsigned int speed) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS Link callback, port %d, status %d, speed %d\n", port,
               status, static_cast<int>(speed));
    if (port != KVU_HAL_SFP_HW_PORT) {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS Link callback, port (%d) can't be handled, UNKNOWN\n", port);
        return -1;
    }
    vanta2_write32_reg(kSfpTsuCtrl, kSfpLinkPulseBit, kSfpLinkPulseBit);
    vanta2_write32_reg(kSfpTsuCtrl, 0, kSfpLinkPulseBit);
    return 0;
}

void clear_control_block() {
    ecps_ctrl = ecps_ctrl_s{};
    ecps_ctrl.ecpsNetRefAlarm = -1;
    ecps_ctrl.ecps_trap_info = nullptr;
    ecps_ctrl.alarm_filtering_time = 0;
    int rl = port_entry(KVU_HAL_RL_HW_PORT);
    if (rl >= 0) {
        ecps_ctrl.rlBondingStatus[rl] = RL_BONDING_DISABLED;
    }
}

void clear_compensation() {
    for (int port : {KVU_HAL_RL_HW_PORT, KVU_HAL_SFP_HW_PORT}) {
        int e = port_entry(port);
        if (e >= 0) {
            store(ecps_ctrl.x[e], 0);
            store(ecps_ctrl.y[e], 0u);
        }
    }
    store(ecps_ctrl.si, 0);
    store(ecps_ctrl.so, 0);
}

void log_block_revisions() {
    char rtc = rev_char(kRtcMajorRev);
    char rl = rev_char(kRlTsuMajorRev);
    char sfp = rev_char(kSfpTsuMajorRev);
    log_printf(DBG_1588_INDEX, 2,
               "[1588] 1588 RTC major rev: %c RL TSU major rev: %c SFP TSU major rev: %c\n", rtc,
               rl, sfp);
}

// Reset type 1 initialises the FPGA state; a warm restart takes it over and derives the RL
// operational mode from the corrections that survived.
void start_tsu_state() {
    UINT32 reset_type = 0;
    RLBSP_get_reset_type(&reset_type);
    if (reset_type == BSP_RESET_TYPE_COLD) {
        vanta2_write32(kRtcCtrl, kRtcCtrlColdValue);
        for (UINT32 reg : kColdClearedCorrections) {
            vanta2_write32(reg, 0);
        }
        return;
    }
    bool all_zero = true;
    for (UINT32 reg : kWarmReadCorrections) {
        UINT32 v = 0;
        vanta2_read32(reg, &v);
        all_zero = all_zero && v == 0;
    }
    int rl = port_entry(KVU_HAL_RL_HW_PORT);
    if (rl >= 0) {
        store(ecps_ctrl.linkDelayCompOperMode[rl], all_zero ? INT{BASIC} : INT{TELECOM});
    }
}

// Port 1: the enable bit, and CellW plus the radio-link values by the whole control word.
void set_rl_tsu(unsigned int tsuCtrl) {
    vanta2_write32_reg(kRlTsuCtrl, tsuCtrl >> tsu_bit_position(KVU_HAL_RL_HW_PORT), kTsuEnableBit);
    if (tsuCtrl != 0) {
        log_printf(DBG_1588_INDEX, 2, "[1588] ecps_tsuCtrl_set KVU_HAL_RL_HW_PORT tsuCtrl\n");
        vanta2_write32_reg(kRlTsuCtrl, kRlCellWBit, kRlCellWBit);
        vanta_write(kRlTraLm, kRlLmActive);
        vanta_write(kRlIdlLm, kRlLmActive);
    } else {
        log_printf(DBG_1588_INDEX, 2, "[1588] ecps_tsuCtrl_set KVU_HAL_RL_HW_PORT NO tsuCtrl\n");
        vanta2_write32_reg(kRlTsuCtrl, 0, kRlCellWBit);
        vanta_write(kRlTraLm, kRlTraLmIdle);
        vanta_write(kRlIdlLm, kRlIdlLmIdle);
    }
}

void set_sfp_tsu(unsigned int tsuCtrl) {
    vanta2_write32_reg(kSfpTsuCtrl, tsuCtrl >> tsu_bit_position(KVU_HAL_SFP_HW_PORT),
                       kTsuEnableBit);
    log_printf(DBG_1588_INDEX, 2, "[1588] ecps_tsuCtrl_set KVU_HAL_SFP_HW_PORT\n");
    usleep(kSfpTsuSettleUs);
    vanta_write(kSeisLink1Up, 1);
}

}  // namespace

int port_entry(int port) {
    if (port < 0 || port >= KVU_HAL_HW_PORTS) {
        return -1;
    }
    int e = kvu_hal_get()->entry_of_hw_port[port];
    return e >= 0 && e < kEntries ? e : -1;
}

bool valid_comp_port(int port) {
    return (port == KVU_HAL_RL_HW_PORT || port == KVU_HAL_SFP_HW_PORT) && port_entry(port) >= 0;
}

// Falls back to the port itself when the board names no usable hardware port, so that the
// shift stays inside the word.
unsigned tsu_bit_position(int port) {
    int e = port_entry(port);
    int hw = e >= 0 ? kvu_hal_get()->hw_port_of_entry[e] : port;
    return static_cast<unsigned>(hw >= 0 && hw < 32 ? hw : port);
}

}  // namespace bsp::ecps

using namespace bsp::ecps;

extern "C" {

BSP_API int ecps_init(void) {
    clear_control_block();
    char rev = rev_char(kVantaMajorRev);
    log_printf(DBG_1588_INDEX, 2, "[1588] Vanta Major R state %c\n", rev);
    if (static_cast<UINT8>(rev) <= kLastRevWithout1588) {
        log_printf(DBG_1588_INDEX, 0, "[1588] Vanta with no 1588 support\n");
        store(ecps_ctrl.supported_1588, 0);
        return 0;
    }
    log_printf(DBG_1588_INDEX, 0, "[1588] Vanta with 1588 support\n");
    store(ecps_ctrl.supported_1588, 1);
    clear_compensation();
    log_block_revisions();
    eth_ctrl_emac_sfp_ecpsLinkEvent_install(ecps_link_callback);
    RLBSP_1588_ecps_compensation_shift_install(asym_1588_notification);
    start_tsu_state();
    if (OS_Create_Timer(&ecps_timer_ctrl, kTimerName, ecps_timer_entry, 0, kTimerTicks, kTimerTicks,
                        NU_DISABLE_TIMER) != NU_SUCCESS) {
        log_printf(DBG_1588_INDEX, 0, "[1588] Error in creating timer\n");
    }
    store(ecps_ctrl.apu_version, 5);
    return 0;
}

BSP_API int ecps_supported(unsigned int *support) {
    if (support == nullptr) {
        return -1;
    }
    *support = static_cast<unsigned int>(load(ecps_ctrl.supported_1588));
    return 0;
}

BSP_API int ecps_install_trap_info_callback(ecps_trap_info_cb ecps_trap_info) {
    if (!supported()) {
        return -1;
    }
    log_printf(DBG_1588_INDEX, 2, "[1588] Installing pps_status callback\n");
    store(ecps_ctrl.ecps_trap_info, ecps_trap_info);
    return 0;
}

BSP_API int ecps_apu_version_get(int port) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS APU version get for port %d\n", port);
    return load(ecps_ctrl.apu_version);
}

BSP_API int ecps_apu_version_set(int, int new_version) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS APU version %d\n", new_version);
    store(ecps_ctrl.apu_version, new_version);
    return 0;
}

// No selection is read, so the trace shows 0 in its first field.
BSP_API int ecps_sel1PPS_get(int port, unsigned int *sel1PPS) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS get sel1PPS %d for port %d\n", 0, port);
    return sel1PPS ? 0 : -1;
}

BSP_API int ecps_sel1PPS_set(int port, unsigned int sel1PPS) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS set sel1PPS %d for port %d\n",
               static_cast<int>(sel1PPS), port);
    return 0;
}

BSP_API int ecps_tsuCtrl_get(int port, unsigned int *tsuCtrl) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS TSU Ctrl get for port %d\n", port);
    if (!supported() || tsuCtrl == nullptr) {
        return -1;
    }
    UINT32 bit = 0;
    if (port == KVU_HAL_RL_HW_PORT) {
        vanta2_read32_reg(kRlTsuCtrl, &bit, kTsuEnableBit);
    } else if (port == KVU_HAL_SFP_HW_PORT) {
        vanta2_read32_reg(kSfpTsuCtrl, &bit, kTsuEnableBit);
    } else {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS TSU Ctrl get for port (%d) can't be handled, UNKNOWN\n", port);
        return -1;
    }
    *tsuCtrl = 0;
    *tsuCtrl |= bit << tsu_bit_position(port);
    return 0;
}

BSP_API int ecps_tsuCtrl_set(int port, unsigned int tsuCtrl) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS TSU Ctrl set 0x%04x for port %d\n", tsuCtrl, port);
    if (!supported()) {
        return -1;
    }
    if (port == KVU_HAL_RL_HW_PORT) {
        set_rl_tsu(tsuCtrl);
    } else if (port == KVU_HAL_SFP_HW_PORT) {
        set_sfp_tsu(tsuCtrl);
    } else {
        log_printf(DBG_1588_INDEX, 2,
                   "[1588] ECPS TSU Ctrl get for port %d can't be handled, UNKNOWN\n", port);
        return -1;
    }
    return 0;
}

BSP_API int ecps_linkDelay_get(int port, unsigned int *linkDelay) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS Link delay get for port %d\n", port);
    return linkDelay ? 0 : -1;
}

BSP_API int ecps_linkDelay_set(int port, unsigned int linkDelay) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS Link delay set %d for port %d\n",
               static_cast<int>(linkDelay), port);
    return 0;
}

BSP_API int ecps_alarmPeriod_get(int port, unsigned int *alarmPeriod) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS Alarm period for port %d\n", port);
    if (!supported() || alarmPeriod == nullptr) {
        return -1;
    }
    *alarmPeriod = load(ecps_ctrl.alarmPeriod);
    return 0;
}

BSP_API int ecps_alarmPeriod_set(int port, unsigned int alarmPeriod) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS Alarm period set %d for port %d\n",
               static_cast<int>(alarmPeriod), port);
    if (!supported()) {
        return -1;
    }
    store(ecps_ctrl.alarmPeriod, UINT32{alarmPeriod});
    STATUS st = OS_Control_Timer(&ecps_timer_ctrl, NU_DISABLE_TIMER);
    if (st != NU_SUCCESS) {
        log_printf(DBG_1588_INDEX, 2, "[1588] Error stopping ECPS alarm timer\n");
        return st;
    }
    st = OS_Reset_Timer(&ecps_timer_ctrl, ecps_timer_entry, kTimerTicks, kTimerTicks,
                        NU_ENABLE_TIMER);
    if (st != NU_SUCCESS) {
        log_printf(DBG_1588_INDEX, 2, "[1588] Error starting ECPS alarm timer\n");
    }
    return st;
}

BSP_API int ecps_syncSrc_get(int port, unsigned int *syncSrc) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS syncSrc get for port %d\n", port);
    if (!supported() || syncSrc == nullptr) {
        return -1;
    }
    UINT32 v = 0;
    vanta2_read32_reg(kRtcCtrl, &v, kRtcSyncSrcBit);
    *syncSrc = v != 0 ? 1 : 0;
    return 0;
}

BSP_API int ecps_syncSrc_set(int port, unsigned int syncSrc) {
    log_printf(DBG_1588_INDEX, 2, "[1588] ECPS syncSrc set %d\n for port %d",
               static_cast<int>(syncSrc), port);
    if (!supported()) {
        return -1;
    }
    vanta2_write32_reg(kRtcCtrl, syncSrc << 4, kRtcSyncSrcBit);
    return 0;
}

}  // extern "C"
