// The 1588 status report and the version-string readers.
#include <cstdio>

#include "common/text_out.h"
#include "ecps_ctrl_block.h"

namespace bsp::ecps {

namespace {

constexpr int kVerWords = 11;
constexpr int kVerChars = 2 * kVerWords;

const char *const source[] = {"T0", "1PPS"};
const char *const on_off[] = {"OFF", "ON"};
const char *const opmode[] = {"BASIC", "TELECOM"};

// A version string: registers of two characters each, high byte first.
void read_version(UINT32 addr, UINT32 stride, char *buf) {
    if (buf == nullptr) {
        return;
    }
    for (int i = 0; i < kVerWords; ++i) {
        UINT16 v = 0;
        vanta_read(addr + stride * static_cast<UINT32>(i), &v);
        buf[2 * i] = static_cast<char>(v >> 8);
        buf[2 * i + 1] = static_cast<char>(v & 0xFF);
    }
    buf[kVerChars] = '\0';
}

UINT32 read32(UINT32 addr) {
    UINT32 v = 0;
    vanta2_read32(addr, &v);
    return v;
}

UINT32 read32_masked(UINT32 addr, UINT32 mask) {
    UINT32 v = 0;
    vanta2_read32_reg(addr, &v, mask);
    return v;
}

// Any value other than 0 counts as on.
const char *on_off_of(int v) {
    return on_off[v != 0 ? 1 : 0];
}

void print_versions(TextOut &out) {
    char ver[kVerChars + 1];
    getVerStr32(static_cast<int>(kVantaVersion), ver);
    out.printf("VANTA version  : %s\n", ver);
    getVerStr16(static_cast<int>(kRtcVersion), ver);
    out.printf("RTC version    : %s\n", ver);
    getVerStr16(static_cast<int>(kSfpTsuVersion), ver);
    out.printf("SFP TSU version: %s\n", ver);
    getVerStr16(static_cast<int>(kRlTsuVersion), ver);
    out.printf("RL  TSU version: %s\n\n", ver);
}

void print_enables(TextOut &out) {
    UINT32 src = read32_masked(kRtcCtrl, kRtcSyncSrcBit) >> 4;
    out.printf("RTC SRC: %s\n", source[src]);
    out.printf("RL TSU: %d\n", static_cast<int>(read32_masked(kRlTsuCtrl, kTsuEnableBit)));
    out.printf("SFP TSU: %d\n\n", static_cast<int>(read32_masked(kSfpTsuCtrl, kTsuEnableBit)));
}

// Corrections and compensation inputs of the RL port; without a port entry the inputs
// show 0.
void print_corrections(TextOut &out) {
    out.puts(
        "TSU|ctl|  DefSi|  DefSo|    DelayC|     AsymC|  RLDelayCSi|  RLDelayCSo|      SyncSi|"
        "      SyncSo|     DelaySi|     DelaySo\n");
    out.puts(
        "---+---+-------+-------+----------+----------+------------+------------+------------+"
        "------------+------------+-------------\n");
    UINT32 ctl = read32_masked(kRlTsuCtrl, kTsuEnableBit);
    auto sync_si = static_cast<INT>(read32(kRlSyncIngress));
    auto sync_so = static_cast<INT>(read32(kRlSyncEgress));
    auto delay_si = static_cast<INT>(read32(kRlDelayIngress));
    auto delay_so = static_cast<INT>(read32(kRlDelayEgress));
    unsigned int asym = 0;
    ecps_asymmetryCompensation_get(KVU_HAL_RL_HW_PORT, &asym);
    int delay = 0;
    ecps_delayComp_get(KVU_HAL_RL_HW_PORT, &delay);
    out.printf("RL |%3s|%7d|%7d|%10d|%10d|%12d|%12d|%12d|%12d|%12d|%12d\n", on_off_of(ctl != 0), 0,
               0, delay, static_cast<int>(asym), load(ecps_ctrl.si), load(ecps_ctrl.so), sync_si,
               sync_so, delay_si, delay_so);
    out.puts("\n");
}

// An operational mode outside the table is shown as its number, or as "?" when that would
// not fit the column.
const char *mode_text(int mode, char (&number)[12]) {
    if (mode == BASIC || mode == TELECOM) {
        return opmode[mode];
    }
    int n = std::snprintf(number, sizeof number, "%d", mode);
    return n > 0 && n <= 7 ? number : "?";
}

void print_modes(TextOut &out) {
    out.puts("TSU|RlBnd|ExtEnhRlBnd| OpMode|CellW|TraLm|IdlLm\n");
    out.puts("---+-----+-----------+-------+-----+-----+------\n");
    int bonding = 0;
    ecps_rlBondingStatus_get(KVU_HAL_RL_HW_PORT, &bonding);
    int rl = port_entry(KVU_HAL_RL_HW_PORT);
    char number[12];
    const char *mode = mode_text(rl >= 0 ? load(ecps_ctrl.linkDelayCompOperMode[rl]) : 0, number);
    int cellw = read32_masked(kRlTsuCtrl, kRlCellWBit) != 0 ? 1 : 0;
    UINT32 tra = read32_masked(kRlTraLm, 0xffff);
    UINT32 idl = read32_masked(kRlIdlLm, 0xffff);
    out.printf("RL |%5s|%11s|%7s|%5d|%5x|%5x\n", on_off_of(bonding),
               on_off_of(load(ecps_ctrl.ext_enhanced_comp)), mode, cellw, tra, idl);
    out.puts("\n");
}

}  // namespace

}  // namespace bsp::ecps

using namespace bsp::ecps;

extern "C" {

BSP_API int ecps_debug_print(int res_length, char *res) {
    bsp::TextOut out(res, res_length > 0 ? static_cast<size_t>(res_length) : 0);
    out.printf("1588 Vanta status, APU version %d\n", load(ecps_ctrl.apu_version));
    out.puts("----------------------------------\n");
    print_versions(out);
    print_enables(out);
    print_corrections(out);
    print_modes(out);
    return 0;
}

BSP_API void getVerStr16(int addr, char *buf) {
    read_version(static_cast<UINT32>(addr), 4, buf);
}

BSP_API void getVerStr32(int addr, char *buf) {
    read_version(static_cast<UINT32>(addr), 2, buf);
}

}  // extern "C"
