// The 1588 control block shared by the control, compensation and report sources, the FPGA
// register map of the 1588 block, and the port helpers.
#ifndef BSP_LIB_ECPS_CTRL_BLOCK_H
#define BSP_LIB_ECPS_CTRL_BLOCK_H

#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <cstdint>

#include "common/relaxed.h"

namespace bsp::ecps {

// FPGA registers of the 1588 block (16-bit registers unless noted).
constexpr UINT32 kVantaVersion = 0x00000;   // 11 words, stride 2
constexpr UINT32 kVantaMajorRev = 0x00010;  // low byte: revision character
constexpr UINT32 kRlTraLm = 0x28030;        // 16 / 32
constexpr UINT32 kRlIdlLm = 0x28034;        // 16 / 32
constexpr UINT32 kSeisLink1Up = 0x3210c;    // pulsed after an SFP TSU enable change
constexpr UINT32 kRtcVersion = 0x51000;     // 11 words, stride 4
constexpr UINT32 kRtcMajorRev = 0x51020;
constexpr UINT32 kRtcCtrl = 0x510c0;       // 32: bit 4 sync source
constexpr UINT32 kRlTsuVersion = 0x52000;  // 11 words, stride 4
constexpr UINT32 kRlTsuMajorRev = 0x52020;
constexpr UINT32 kRlSyncIngress = 0x52100;   // 32
constexpr UINT32 kRlSyncEgress = 0x52200;    // 32
constexpr UINT32 kRlDelayIngress = 0x52300;  // 32
constexpr UINT32 kRlDelayEgress = 0x52400;   // 32
constexpr UINT32 kRlTsuCtrl = 0x52900;       // 32: bit 0 enable, bit 1 bonding, bit 5 CellW
constexpr UINT32 kSfpTsuVersion = 0x53000;   // 11 words, stride 4
constexpr UINT32 kSfpTsuMajorRev = 0x53020;
constexpr UINT32 kSfpTsuCtrl = 0x53084;  // 32: bit 0 enable, bit 2 link-event pulse
constexpr UINT32 kSfpCorr0 = 0x53200;    // 32: delay - asymmetry
constexpr UINT32 kSfpCorr1 = 0x53204;    // 32: delay
constexpr UINT32 kSfpCorr2 = 0x53210;    // 32: -delay
constexpr UINT32 kSfpCorr3 = 0x53214;    // 32: -delay - asymmetry

constexpr UINT32 kRtcSyncSrcBit = 0x10;
constexpr UINT32 kTsuEnableBit = 0x1;
constexpr UINT32 kRlBondingBit = 0x2;
constexpr UINT32 kRlCellWBit = 0x20;
constexpr UINT32 kSfpLinkPulseBit = 0x4;

constexpr int kEntries = KVU_HAL_PORT_ENTRIES;

// Fields in this order; per-port arrays are indexed by port entry. The operational mode and
// bonding status hold whatever int the caller passed, so they are kept as plain ints.
struct ecps_ctrl_s {
    INT alarm_filtering_time;
    INT ecpsNetRefAlarm;
    INT apu_version;
    UINT32 alarmPeriod;
    ecps_trap_info_cb ecps_trap_info;
    INT supported_1588;
    UINT32 ecps_delay_adapt_start_mask[kEntries];
    INT x[kEntries];
    UINT32 y[kEntries];
    INT si;
    INT so;
    INT ext_enhanced_comp;
    INT linkDelayCompOperMode[kEntries];
    INT rlBondingStatus[kEntries];
};

extern ecps_ctrl_s ecps_ctrl;

using bsp::load;
using bsp::set_bits;
using bsp::store;

// The port entry 0..2 of a hardware port, or -1 when the board gives it none (or one out
// of range, which is treated the same so that no table is indexed outside its bounds).
int port_entry(int port);

// A valid compensation port: 1 or 3 with a port entry.
bool valid_comp_port(int port);

// Bit of a TSU port in the TSU control word: the hardware port of its entry.
unsigned tsu_bit_position(int port);

// Installed by ecps_init; defined with the compensation operations.
void asym_1588_notification(int si, int so, int ext_enhanced_comp);

}  // namespace bsp::ecps

#endif
