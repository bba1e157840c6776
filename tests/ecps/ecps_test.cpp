// The 1588 family: detection, cold and warm starts, TSU enable, sync source, alarm period,
// compensation (correction registers, reserved shift markers, operational mode, RL bonding,
// the debug alarm) and the status report. The timer and driver contexts racing the
// application are the stress test's.
#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <gmock/gmock.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using sim::FpgaAccess;
using sim::FpgaWidth;

FpgaAccess w32(uint32_t address, uint32_t value, uint32_t mask = 0xFFFFFFFFu) {
    return {FpgaAccess::Write, FpgaWidth::W32, address, value, mask};
}

FpgaAccess w16(uint32_t address, uint32_t value) {
    return {FpgaAccess::Write, FpgaWidth::W16, address, value, 0xFFFF};
}

// The 1588 log lines since the last clear.
std::vector<std::string> log_lines_1588() {
    std::vector<std::string> lines;
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == DBG_1588_INDEX) {
            lines.push_back(r.text);
        }
    }
    return lines;
}

bool logged_1588(const std::string &text, uint32_t level = 2) {
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == DBG_1588_INDEX && r.text == text && r.level == level) {
            return true;
        }
    }
    return false;
}

// A getter's refusal: kRefused plus what it left in an output that held 77.
constexpr int64_t kRefused = int64_t{1} << 40;

// What a getter of the family gives for `port`.
template <typename T>
int64_t got(int (*get)(int, T *), int port = 1) {
    T value = 77;
    return get(port, &value) == 0 ? static_cast<int64_t>(value)
                                  : kRefused + static_cast<int64_t>(value);
}

// The default board with hardware port `port` given no entry.
void without_entry(int port) {
    kvu_hal_board_t b = sim::default_board();
    b.entry_of_hw_port[port] = -1;
    sim::set_board(b);
}

class EcpsTest : public SimTest {
  protected:
    // Starts the family with the given reset type, then forgets the start's accesses and log.
    void start(uint32_t reset_type = BSP_RESET_TYPE_COLD) {
        sim::set_reset_type(reset_type);
        ASSERT_EQ(ecps_init(), 0);
        clear();
    }

    static void clear() {
        sim::fpga_clear_log();
        sim::clear_log();
    }
};

struct StartCase {
    uint16_t revision;  // register 0x00010
    uint32_t reset_type;
    uint32_t corrected;  // a correction register that holds a value before the start
    int mode;            // the RL operational mode then; -1: no 1588 support
};

class EcpsStart : public EcpsTest, public ::testing::WithParamInterface<StartCase> {};

// The revision character decides the support: without it the start reads the revision alone
// (and the operations that need the blocks refuse: see the operations table). A cold start
// sets the RTC control and zeroes every correction; a warm one writes nothing, reads the RL
// corrections and takes a non-zero one for TELECOM.
TEST_P(EcpsStart, RevisionDecidesTheSupportAndResetTypeTheState) {
    const StartCase &c = GetParam();
    const bool supported = c.mode >= 0;
    sim::fpga_poke(FpgaWidth::W16, 0x10, c.revision);
    sim::fpga_poke(FpgaWidth::W32, c.corrected, 0xFFFFFFF0u);
    sim::fpga_poke(FpgaWidth::W32, 0x510c0, 0x3);
    sim::set_reset_type(c.reset_type);
    sim::fpga_clear_log();
    ASSERT_EQ(ecps_init(), 0);
    unsigned int support = 99;
    ASSERT_EQ(ecps_supported(&support), 0);
    EXPECT_EQ(support, supported ? 1u : 0u);
    EXPECT_EQ(ecps_apu_version_get(1), supported ? 5 : 0);
    char rev = static_cast<char>(c.revision & 0xFF);
    EXPECT_TRUE(logged_1588(std::string("[1588] Vanta Major R state ") + rev + "\n"));
    EXPECT_TRUE(logged_1588(
        supported ? "[1588] Vanta with 1588 support\n" : "[1588] Vanta with no 1588 support\n", 0));
    EXPECT_EQ(sim::radio_shift_installed(), supported);
    EXPECT_EQ(sim::enabled_timers(), 0u);  // created stopped
    if (!supported) {
        EXPECT_EQ(sim::fpga_log().size(), 1u);  // the revision's read
        return;
    }
    std::vector<uint32_t> reads;
    for (const FpgaAccess &a : sim::fpga_log()) {
        if (a.width == FpgaWidth::W32 && a.kind == FpgaAccess::Read) {
            reads.push_back(a.address);
        }
    }
    if (c.reset_type == BSP_RESET_TYPE_COLD) {
        EXPECT_THAT(sim::fpga_writes(),
                    ElementsAre(w32(0x510c0, 0x13), w32(0x52100, 0), w32(0x52300, 0),
                                w32(0x52200, 0), w32(0x52400, 0), w32(0x53200, 0), w32(0x53204, 0),
                                w32(0x53210, 0), w32(0x53214, 0)));
        EXPECT_THAT(reads, IsEmpty());
    } else {
        EXPECT_THAT(sim::fpga_writes(), IsEmpty());
        EXPECT_THAT(reads, ElementsAre(0x52100u, 0x52300u, 0x52200u, 0x52400u));
    }
    EXPECT_TRUE(
        logged_1588("[1588] 1588 RTC major rev: 3 RL TSU major rev: 2 SFP TSU major rev: 2\n"));
    EXPECT_EQ(got(ecps_delayCompOperMode_get), c.mode);
    EXPECT_TRUE(logged_1588("[1588] ECPS LINK DELAY COMP OPER MODE " + std::to_string(c.mode) +
                            " get for port 1\n"));
}

INSTANTIATE_TEST_SUITE_P(Starts, EcpsStart,
                         ::testing::Values(StartCase{0x5231, BSP_RESET_TYPE_COLD, 0x53214, -1},
                                           StartCase{0x5201, BSP_RESET_TYPE_COLD, 0x53214, -1},
                                           StartCase{0x5232, BSP_RESET_TYPE_COLD, 0x53214, BASIC},
                                           StartCase{0x3132, BSP_RESET_TYPE_COLD, 0x53214, BASIC},
                                           StartCase{0x0041, BSP_RESET_TYPE_COLD, 0x53214, BASIC},
                                           StartCase{0x00FF, BSP_RESET_TYPE_COLD, 0x53214, BASIC},
                                           StartCase{0x5232, 2, 0x52100, TELECOM},
                                           StartCase{0x5232, 2, 0x52400, TELECOM},
                                           StartCase{0x5232, 2, 0x53214, BASIC}));

// Getters refuse a null output without touching a register.
TEST_F(EcpsTest, NullOutputsAreRefusedWithoutTouchingARegister) {
    start();
    EXPECT_EQ(ecps_supported(nullptr), -1);
    EXPECT_EQ(ecps_tsuCtrl_get(1, nullptr), -1);
    EXPECT_EQ(ecps_alarmPeriod_get(1, nullptr), -1);
    EXPECT_EQ(ecps_syncSrc_get(1, nullptr), -1);
    EXPECT_EQ(ecps_delayComp_get(1, nullptr), -1);
    EXPECT_EQ(ecps_asymmetryCompensation_get(1, nullptr), -1);
    EXPECT_EQ(ecps_delayCompOperMode_get(1, nullptr), -1);
    EXPECT_EQ(ecps_rlBondingStatus_get(1, nullptr), -1);
    EXPECT_THAT(sim::fpga_log(), IsEmpty());
}

// The RL TSU enabled by `word`, with bits 2 and 3 of its control set (a bonding set clears
// them).
void rl_tsu(unsigned int word) {
    ASSERT_EQ(ecps_tsuCtrl_set(1, word), 0);
    sim::fpga_poke(FpgaWidth::W32, 0x52900, sim::fpga_peek(FpgaWidth::W32, 0x52900) | 0xC);
}

// The RL port's entry names hardware port 2: its TSU bit is bit 2.
void rl_on_hw_port_2() {
    kvu_hal_board_t b = sim::default_board();
    b.hw_port_of_entry[0] = 2;
    sim::set_board(b);
}

// A unit restarted with an FPGA revision that has no 1588 blocks.
void without_1588() {
    sim::fpga_poke(FpgaWidth::W16, 0x10, (sim::fpga_peek(FpgaWidth::W16, 0x10) & 0xFF00u) | '0');
    ASSERT_EQ(ecps_init(), 0);
}

// TELECOM with the radio reporting a reserved shift marker, then a delay of 250 stored.
void frozen_rl() {
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    ASSERT_TRUE(sim::radio_notify_shift(sim::kRadioShiftUnsupported, 0, 0));
    ASSERT_EQ(ecps_delayComp_set(1, 250), 0);
}

// The SFP link going down and up again, as the MAC driver reports it.
int sfp_link_down_up() {
    sim::set_link_connected(false);
    sim::set_link_connected(true);
    sim::wait_link_events_delivered();
    return 0;
}

// A link event of another port, which the family does not handle.
int rl_link_up() {
    sim::raise_port_link_event(1, true, 400);
    sim::wait_link_events_delivered();
    return 0;
}

std::vector<FpgaAccess> rl_tsu_on(uint32_t enable) {
    return {w32(0x52900, enable, 1), w32(0x52900, 0x20, 0x20), w16(0x28030, 2), w16(0x28034, 2)};
}

constexpr uint32_t u(int v) {
    return static_cast<uint32_t>(v);
}

std::vector<FpgaAccess> rl_regs(int sync_si, int sync_so, int delay_si, int delay_so) {
    return {w32(0x52100, u(sync_si)), w32(0x52200, u(sync_so)), w32(0x52300, u(delay_si)),
            w32(0x52400, u(delay_so))};
}

// An operation on a started unit (after `arrange`): its result, its register writes, the
// last 1588 line it logs, then what a getter gives.
struct OpCase {
    const char *name;
    void (*arrange)();
    int (*op)();
    int result;
    std::vector<FpgaAccess> writes;
    std::string line;
    int64_t (*readback)();
    int64_t value;
};

class EcpsOps : public EcpsTest, public ::testing::WithParamInterface<OpCase> {};

TEST_P(EcpsOps, WritesTheRegistersLogsAndReadsBack) {
    const OpCase &c = GetParam();
    start();
    c.arrange();
    clear();
    EXPECT_EQ(c.op(), c.result);
    EXPECT_EQ(sim::fpga_writes(), c.writes);
    std::vector<std::string> lines = log_lines_1588();
    EXPECT_EQ(lines.empty() ? "" : lines.back(), c.line);  // "": nothing logged
    EXPECT_EQ(c.readback(), c.value);
}

const std::string kRlOn = "[1588] ecps_tsuCtrl_set KVU_HAL_RL_HW_PORT tsuCtrl\n";
const std::string kSfp = "[1588] ecps_tsuCtrl_set KVU_HAL_SFP_HW_PORT\n";
const std::string kBond = "[1588] ECPS RL BONDING STATUS ";
const std::string kNoMode =
    " Basic and Telecom link delay compensation operational mode is not applicable for port ";
const std::string kMode = "[1588] ECPS LINK DELAY COMP OPER MODE ";
const auto kNone = [] {};
const auto kTsuRl = [] { return got(ecps_tsuCtrl_get, 1); };
const auto kTsuSfp = [] { return got(ecps_tsuCtrl_get, 3); };
const auto kBonding = [] { return got(ecps_rlBondingStatus_get); };
const auto kNoRlEntry = [] { without_entry(1); };
const std::string kBasic =
    "[1588] ECPS linkDelayCompOperMode for port 1 is BASIC: si = 0, so = 0\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, EcpsOps, ::testing::Values(
    // the TSU enables: the port's bit of the word, read back as the port's bit
    OpCase{"TsuRlOn", kNone, [] { return ecps_tsuCtrl_set(1, 0x2); }, 0, rl_tsu_on(1), kRlOn, kTsuRl, 0x2},
    OpCase{"TsuRlOtherBit", kNone, [] { return ecps_tsuCtrl_set(1, 0x8); }, 0, rl_tsu_on(4), kRlOn, kTsuRl, 0},
    OpCase{"TsuRlOff", kNone, [] { return ecps_tsuCtrl_set(1, 0); }, 0, {w32(0x52900, 0, 1), w32(0x52900, 0, 0x20), w16(0x28030, 0x84), w16(0x28034, 0x82)}, "[1588] ecps_tsuCtrl_set KVU_HAL_RL_HW_PORT NO tsuCtrl\n", kTsuRl, 0},
    OpCase{"TsuSfpOn", kNone, [] { return ecps_tsuCtrl_set(3, 0x8); }, 0, {w32(0x53084, 1, 1), w16(0x3210c, 1)}, kSfp, kTsuSfp, 0x8},
    OpCase{"TsuSfpOtherBit", kNone, [] { return ecps_tsuCtrl_set(3, 0x2); }, 0, {w32(0x53084, 0, 1), w16(0x3210c, 1)}, kSfp, kTsuSfp, 0},
    OpCase{"TsuOtherPort", kNone, [] { return ecps_tsuCtrl_set(2, 0x4); }, -1, {}, "[1588] ECPS TSU Ctrl get for port 2 can't be handled, UNKNOWN\n", [] { return got(ecps_tsuCtrl_get, 2); }, kRefused + 77},
    OpCase{"TsuBitOfTheBoardsHwPort", rl_on_hw_port_2, [] { return ecps_tsuCtrl_set(1, 0x4); }, 0, rl_tsu_on(1), kRlOn, kTsuRl, 0x4},
    // an SFP link event pulses the SFP TSU's link bit; other ports' events are unknown
    OpCase{"SfpLinkEvents", kNone, sfp_link_down_up, 0, {w32(0x53084, 4, 4), w32(0x53084, 0, 4), w32(0x53084, 4, 4), w32(0x53084, 0, 4)}, "[1588] ECPS Link callback, port 3, status 1, speed 1000\n", [] { return int64_t{sim::sfp_tsu_link_pulses()}; }, 2},
    OpCase{"OtherPortsLinkEvent", kNone, rl_link_up, 0, {}, "[1588] ECPS Link callback, port (1) can't be handled, UNKNOWN\n", [] { return int64_t{sim::sfp_tsu_link_pulses()}; }, 0},
    // the sync source is bit 4 of the RTC control (0x13 after the cold start)
    OpCase{"SyncSrcOff", kNone, [] { return ecps_syncSrc_set(1, 2); }, 0, {w32(0x510c0, 0x20, 0x10)}, "[1588] ECPS syncSrc set 2\n for port 1", [] { return got(ecps_syncSrc_get); }, 0},
    OpCase{"SyncSrcOn", [] { ecps_syncSrc_set(1, 2); }, [] { return ecps_syncSrc_set(3, 3); }, 0, {w32(0x510c0, 0x30, 0x10)}, "[1588] ECPS syncSrc set 3\n for port 3", [] { return got(ecps_syncSrc_get, 3); }, 1},
    // bonding writes the low nibble of the RL TSU control: 0 with the TSU off, 1 or 3 with it on
    OpCase{"Bonding", [] { rl_tsu(2); }, [] { return ecps_rlBondingStatus_set(1, 1); }, 0, {w32(0x52900, 3, 0xf)}, kBond + "1 set for port 1\n", kBonding, 1},
    OpCase{"NoBonding", [] { rl_tsu(2); }, [] { return ecps_rlBondingStatus_set(1, 0); }, 0, {w32(0x52900, 1, 0xf)}, kBond + "0 set for port 1\n", kBonding, 0},
    OpCase{"BondingOtherValue", [] { rl_tsu(2); }, [] { return ecps_rlBondingStatus_set(1, 5); }, 0, {w32(0x52900, 3, 0xf)}, kBond + "5 set for port 1\n", kBonding, 5},
    OpCase{"BondingTsuOff", [] { rl_tsu(0); }, [] { return ecps_rlBondingStatus_set(1, 1); }, 0, {w32(0x52900, 0, 0xf)}, kBond + "1 set for port 1\n", kBonding, 1},
    OpCase{"BondingWithoutReadableTsu", without_1588, [] { return ecps_rlBondingStatus_set(1, 1); }, 0, {}, kBond + "1 set failure: failed to get TSU status for port 1\n", kBonding, 0},
    // the operational mode, the bonding and the shifts need the RL port's entry; the getters
    // refuse the other ports and zero their output (a null one stays untouched)
    OpCase{"ModeWithoutRlEntry", kNoRlEntry, [] { return ecps_delayCompOperMode_set(1, TELECOM); }, -1, {}, kMode + "set:" + kNoMode + "1\n", [] { return got(ecps_delayCompOperMode_get); }, kRefused},
    OpCase{"BondingWithoutRlEntry", kNoRlEntry, [] { return ecps_rlBondingStatus_set(1, 1); }, -1, {}, "[1588] ECPS rlBondingStatus set: port 1 is not RL port\n", kBonding, kRefused},
    OpCase{"ShiftWithoutRlEntry", kNoRlEntry, [] { return sim::radio_notify_shift(1, 1, 0) ? 0 : -1; }, 0, {}, "[1588] ECPS wrong port 1\n", kBonding, kRefused},
    OpCase{"ModeGetOnSfpPort", kNone, [] { return ecps_delayCompOperMode_get(3, nullptr); }, -1, {}, kMode + "get:" + kNoMode + "3\n", [] { return got(ecps_delayCompOperMode_get, 3); }, kRefused},
    // a compensation set writes the corrections only for a new value, on ports 1 and 3 with an entry
    OpCase{"SameDelay", kNone, [] { return ecps_delayComp_set(1, 0); }, 0, {}, "[1588] ECPS delay set 0 for port 1\n", [] { return got(ecps_delayComp_get); }, 0},
    OpCase{"SameAsymmetry", kNone, [] { return ecps_asymmetryCompensation_set(3, 0); }, 0, {}, "[1588] ECPS asymmetry set 0 for port 3\n", [] { return got(ecps_asymmetryCompensation_get, 3); }, 0},
    OpCase{"NewDelay", kNone, [] { return ecps_delayComp_set(1, 100); }, 0, rl_regs(100, -100, 100, -100), kBasic, [] { return got(ecps_delayComp_get); }, 100},
    OpCase{"NewAsymmetry", [] { ecps_delayComp_set(1, 100); }, [] { return ecps_asymmetryCompensation_set(1, 10); }, 0, rl_regs(90, -100, 100, -110), kBasic, [] { return got(ecps_asymmetryCompensation_get); }, 10},
    OpCase{"SfpAsymmetry", [] { ecps_delayComp_set(3, 100); }, [] { return ecps_asymmetryCompensation_set(3, 10); }, 0, {w32(0x53200, 90), w32(0x53210, u(-100)), w32(0x53204, 100), w32(0x53214, u(-110))}, "[1588] ECPS linkDelayCompOperMode for port 3 is BASIC: si = 0, so = 0\n", [] { return got(ecps_asymmetryCompensation_get, 3); }, 10},
    OpCase{"AsymmetryWithoutSfpEntry", [] { without_entry(3); }, [] { return ecps_asymmetryCompensation_set(3, 1); }, -1, {}, "[1588] ECPS wrong port 3\n", [] { return got(ecps_asymmetryCompensation_get, 3); }, kRefused + 77},
    OpCase{"DelayOnPort2", kNone, [] { return ecps_delayComp_set(2, 1); }, -1, {}, "[1588] ECPS wrong port 2\n", [] { return got(ecps_delayComp_get, 2); }, kRefused + 77},
    // the radio's reserved shift markers freeze the RL corrections (not the SFP ones); a delay is stored
    OpCase{"DisconnectedRl", [] { ecps_delayCompOperMode_set(1, TELECOM); }, [] { return sim::radio_notify_shift(3, sim::kRadioShiftDisconnected, 0) ? 0 : -1; }, 0, {}, "[1588] asym_1588_notification: ECPS setting si 3 so -2147483647, extended enhanced mode is OFF\n", [] { return got(ecps_delayComp_get); }, 0},
    OpCase{"DelayWhileFrozen", frozen_rl, [] { return ecps_delayComp_set(1, 300); }, 0, {}, "[1588] ECPS compensation values for RL port 1 are not modified due to unsupported RL capacity or disconnected RL\n", [] { return got(ecps_delayComp_get); }, 300},
    OpCase{"ShiftAfterMarker", frozen_rl, [] { return sim::radio_notify_shift(1, 2, 0) ? 0 : -1; }, 0, rl_regs(251, -248, 251, -248), "[1588] asym_1588_notification: ECPS setting si 1 so 2, extended enhanced mode is OFF\n", [] { return got(ecps_delayComp_get); }, 250},
    OpCase{"SfpWhileFrozen", frozen_rl, [] { return ecps_delayComp_set(3, 4); }, 0, {w32(0x53200, 4), w32(0x53210, u(-4)), w32(0x53204, 4), w32(0x53214, u(-4))}, "[1588] ECPS linkDelayCompOperMode for port 3 is BASIC: si = 0, so = 0\n", [] { return got(ecps_delayComp_get, 3); }, 4},
    // without the 1588 blocks the operations that need them refuse
    OpCase{"TsuWithout1588", without_1588, [] { return ecps_tsuCtrl_set(1, 2); }, -1, {}, "[1588] ECPS TSU Ctrl set 0x0002 for port 1\n", kTsuRl, kRefused + 77},
    OpCase{"AlarmPeriodWithout1588", without_1588, [] { return ecps_alarmPeriod_set(1, 3); }, -1, {}, "[1588] ECPS Alarm period set 3 for port 1\n", [] { return got(ecps_alarmPeriod_get); }, kRefused + 77},
    OpCase{"SyncSrcWithout1588", without_1588, [] { return ecps_syncSrc_set(1, 1); }, -1, {}, "[1588] ECPS syncSrc set 1\n for port 1", [] { return got(ecps_syncSrc_get); }, kRefused + 77},
    OpCase{"TrapCallbackWithout1588", without_1588, [] { return ecps_install_trap_info_callback([](int, unsigned) { return 0; }); }, -1, {}, "", [] { return int64_t{ecps_dbg_send_alarm(1, 0)}; }, -1},
    // logged only: the getters leave their output alone
    OpCase{"Sel1PpsGet", kNone, [] { return ecps_sel1PPS_get(3, nullptr); }, -1, {}, "[1588] ECPS get sel1PPS 0 for port 3\n", [] { return got(ecps_sel1PPS_get, 3); }, 77},
    OpCase{"Sel1PpsSet", kNone, [] { return ecps_sel1PPS_set(3, 1); }, 0, {}, "[1588] ECPS set sel1PPS 1 for port 3\n", [] { return got(ecps_sel1PPS_get, 1); }, 77},
    OpCase{"LinkDelayGet", kNone, [] { return ecps_linkDelay_get(1, nullptr); }, -1, {}, "[1588] ECPS Link delay get for port 1\n", [] { return got(ecps_linkDelay_get); }, 77},
    OpCase{"LinkDelaySet", kNone, [] { return ecps_linkDelay_set(1, 500); }, 0, {}, "[1588] ECPS Link delay set 500 for port 1\n", [] { return got(ecps_linkDelay_get); }, 77},
    OpCase{"ApuVersion", kNone, [] { return ecps_apu_version_set(9, 6); }, 0, {}, "[1588] ECPS APU version 6\n", [] { return int64_t{ecps_apu_version_get(1)}; }, 6},
    OpCase{"BondingGetOnSfpPort", kNone, [] { return ecps_rlBondingStatus_get(3, nullptr); }, -1, {}, kBond + "get: port 3 is not RL port\n", [] { return got(ecps_rlBondingStatus_get, 3); }, kRefused}),
    [](const auto &p) { return std::string(p.param.name); });
// clang-format on

// A first alarm period starts the polling timer, the next one restarts it; when the timer
// could not be made (logged at the start) a period is still stored but the set fails.
TEST_F(EcpsTest, AlarmPeriodRestartsThePollingTimer) {
    start();
    EXPECT_EQ(got(ecps_alarmPeriod_get), 0);
    EXPECT_EQ(sim::enabled_timers(), 0u);
    ASSERT_EQ(ecps_alarmPeriod_set(1, 300), 0);
    EXPECT_EQ(sim::enabled_timers(), 1u);
    sim::advance_clock_ms(250);
    ASSERT_EQ(ecps_alarmPeriod_set(3, 400), 0);
    EXPECT_EQ(sim::enabled_timers(), 1u);
    EXPECT_EQ(got(ecps_alarmPeriod_get, 3), 400);
    EXPECT_TRUE(logged_1588("[1588] ECPS Alarm period set 400 for port 3\n"));
    sim::reset_unit();
    sim::inject_fault({sim::FaultOp::TimerCreate, 1, EIO, -1, ""});
    ASSERT_EQ(ecps_init(), 0);
    EXPECT_TRUE(logged_1588("[1588] Error in creating timer\n", 0));
    EXPECT_NE(ecps_alarmPeriod_set(3, 10), 0);
    EXPECT_TRUE(logged_1588("[1588] Error stopping ECPS alarm timer\n"));
    EXPECT_EQ(got(ecps_alarmPeriod_get, 3), 10);
}

// Delay 100 and asymmetry 10 (in that order) with the radio's shifts in the given mode.
struct CompCase {
    const char *name;
    int port;
    int mode;
    int si, so, ext;  // the radio's shifts
    int delay;
    unsigned int asym;
    std::vector<FpgaAccess> regs;  // written by the asymmetry set
};

class EcpsCompRows : public EcpsTest, public ::testing::WithParamInterface<CompCase> {};

TEST_P(EcpsCompRows, WritesTheCorrectionsInTheirOrder) {
    const CompCase &c = GetParam();
    start();
    ASSERT_EQ(ecps_delayCompOperMode_set(1, c.mode), 0);
    ASSERT_TRUE(sim::radio_notify_shift(c.si, c.so, c.ext));
    ASSERT_EQ(ecps_delayComp_set(c.port, c.delay), 0);
    clear();
    ASSERT_EQ(ecps_asymmetryCompensation_set(c.port, c.asym), 0);
    EXPECT_EQ(sim::fpga_writes(), c.regs);
    EXPECT_TRUE(logged_1588("[1588] ECPS Compensation for port " + std::to_string(c.port) +
                            " set to delay=" + std::to_string(c.delay) +
                            ", asymmetry=" + std::to_string(static_cast<int>(c.asym)) + ", si=" +
                            std::to_string(c.si) + ", so=" + std::to_string(c.so) + "\n"));
    EXPECT_EQ(got(ecps_delayComp_get, c.port), c.delay);
    EXPECT_EQ(got(ecps_asymmetryCompensation_get, c.port), c.asym);
    clear();
    ASSERT_EQ(ecps_delayCompOperMode_set(1, c.mode), 0);  // the same mode: written again
    EXPECT_EQ(sim::fpga_writes(), c.port == 1 ? c.regs : rl_regs(5, 7, 5, 7));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, EcpsCompRows, ::testing::Values(
    CompCase{"Telecom", 1, TELECOM, 5, 7, 0, 100, 10, rl_regs(95, -93, 105, -103)},
    CompCase{"Basic", 1, BASIC, 5, 7, 0, 100, 10, rl_regs(90, -100, 100, -110)},
    CompCase{"Sfp", 3, TELECOM, 5, 7, 0, 100, 10, {w32(0x53200, 90), w32(0x53210, u(-100)), w32(0x53204, 100), w32(0x53214, u(-110))}},
    // delay 0x7FFFFFFF, asymmetry 0x80000000, si 0x7FFFFFFF, so 0x80000002, modulo 2^32
    CompCase{"Wraps", 1, TELECOM, INT_MAX, INT_MIN + 2, 1, INT_MAX, 0x80000000u, rl_regs(0x7FFFFFFE, 3, -2, INT_MIN + 3)}),
    [](const ::testing::TestParamInfo<CompCase> &row) { return std::string(row.param.name); });
// clang-format on

TEST_F(EcpsTest, DebugAlarmReachesTheTrapInfoCallback) {
    start();
    static std::vector<std::pair<int, unsigned>> calls;
    calls.clear();
    EXPECT_EQ(ecps_dbg_send_alarm(1, 0), -1);  // none installed
    ASSERT_EQ(ecps_install_trap_info_callback([](int port, unsigned alarm) {
                  calls.emplace_back(port, alarm);
                  return 17;
              }),
              0);
    EXPECT_TRUE(logged_1588("[1588] Installing pps_status callback\n"));
    EXPECT_EQ(ecps_dbg_send_alarm(3, 1), 0);
    EXPECT_EQ(ecps_dbg_send_alarm(1, 0), 0);
    EXPECT_EQ(ecps_dbg_send_alarm(1, 2), -1);
    EXPECT_EQ(ecps_dbg_send_alarm(1, -1), -1);
    EXPECT_THAT(calls, ElementsAre(std::pair{3, 1u}, std::pair{1, 0u}));
    EXPECT_TRUE(logged_1588("[1588] ECPS debug send alarm 2 for port 1\n"));
}

std::string report() {
    std::vector<char> buf(2048, '\x7f');
    EXPECT_EQ(ecps_debug_print(static_cast<int>(buf.size()), buf.data()), 0);
    return std::string(buf.data());
}

// RL TSU and SFP TSU on, bonding on, TELECOM, delay 100, asymmetry 10, shifts 5/7.
TEST_F(EcpsTest, FullReportText) {
    start();
    ASSERT_EQ(ecps_tsuCtrl_set(1, 0x2), 0);
    ASSERT_EQ(ecps_tsuCtrl_set(3, 0x8), 0);
    ASSERT_EQ(ecps_rlBondingStatus_set(1, RL_BONDING_ENABLED), 0);
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    ASSERT_TRUE(sim::radio_notify_shift(5, 7, 0));
    ASSERT_EQ(ecps_delayComp_set(1, 100), 0);
    ASSERT_EQ(ecps_asymmetryCompensation_set(1, 10), 0);
    EXPECT_EQ(
        report(),
        "1588 Vanta status, APU version 5\n"
        "----------------------------------\n"
        "VANTA version  : VANTA KV7B 4.18 R2 b03\n"
        "RTC version    : RTC-1588 v2.04  R3 a07\n"
        "SFP TSU version: SFP-TSU  v1.12  R2 c15\n"
        "RL  TSU version: RL-TSU   v1.12  R2 c15\n\n"
        "RTC SRC: 1PPS\n"
        "RL TSU: 1\n"
        "SFP TSU: 1\n\n"
        "TSU|ctl|  DefSi|  DefSo|    DelayC|     AsymC|  RLDelayCSi|  RLDelayCSo|      SyncSi|"
        "      SyncSo|     DelaySi|     DelaySo\n"
        "---+---+-------+-------+----------+----------+------------+------------+------------+"
        "------------+------------+-------------\n"
        "RL | ON|      0|      0|       100|        10|           5|"
        "           7|          95|         -93|         105|        -103\n"
        "\n"
        "TSU|RlBnd|ExtEnhRlBnd| OpMode|CellW|TraLm|IdlLm\n"
        "---+-----+-----------+-------+-----+-----+------\n"
        "RL |   ON|        OFF|TELECOM|    1|    2|    2\n"
        "\n");
}

TEST_F(EcpsTest, ValuesOutsideTheTablesAndWarmTakeover) {
    sim::fpga_poke(FpgaWidth::W32, 0x52400, static_cast<uint32_t>(-5));
    sim::fpga_poke(FpgaWidth::W32, 0x28030, 0x12345);
    start(2);
    const std::string r = report();
    EXPECT_THAT(r, HasSubstr("RTC SRC: T0\nRL TSU: 0\nSFP TSU: 0\n"));
    EXPECT_THAT(r, HasSubstr("RL |OFF|      0|"));
    EXPECT_THAT(r, HasSubstr("|           0|          -5\n"));
    ASSERT_TRUE(sim::radio_notify_shift(1, 1, -3));
    ASSERT_EQ(ecps_tsuCtrl_set(1, 2), 0);
    ASSERT_EQ(ecps_rlBondingStatus_set(1, 9), 0);
    EXPECT_THAT(report(), HasSubstr("RL |   ON|         ON|TELECOM|    1|    2|    2\n"));
    ASSERT_EQ(ecps_delayCompOperMode_set(1, 42), 0);
    EXPECT_THAT(report(), HasSubstr("|     42|"));
    ASSERT_EQ(ecps_delayCompOperMode_set(1, INT_MIN), 0);
    EXPECT_THAT(report(), HasSubstr("|      ?|"));
}

// All numeric fields at their widest, the documented bound of 797 characters. Every buffer
// length from 0 to beyond the full size: the output is the report's prefix, terminated, and
// nothing is written past the buffer (AddressSanitizer watches the heap buffer of exactly
// that size).
TEST_F(EcpsTest, LargestReportIs797CharactersAndEveryBufferGetsItsTerminatedPrefix) {
    start();
    ecps_apu_version_set(1, INT_MIN);
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    ASSERT_TRUE(sim::radio_notify_shift(INT_MIN + 2, INT_MIN + 3, 1));
    ASSERT_EQ(ecps_delayComp_set(1, INT_MIN), 0);
    ASSERT_EQ(ecps_asymmetryCompensation_set(1, 0x80000000u), 0);
    for (uint32_t reg : {0x52100u, 0x52200u, 0x52300u, 0x52400u}) {
        sim::fpga_poke(FpgaWidth::W32, reg, 0x80000000u);
    }
    sim::fpga_poke(FpgaWidth::W32, 0x28030, 0xFFFF);
    sim::fpga_poke(FpgaWidth::W32, 0x28034, 0xFFFF);
    const std::string full = report();
    EXPECT_EQ(full.size(), 797u);
    EXPECT_EQ(ecps_debug_print(800, nullptr), 0);
    for (size_t len = 0; len <= full.size() + 2; ++len) {
        std::unique_ptr<char[]> buf(new char[len + 1]);
        std::memset(buf.get(), '\x7f', len + 1);
        ASSERT_EQ(ecps_debug_print(len == 0 ? -1 : static_cast<int>(len), buf.get()), 0);
        if (len == 0) {
            ASSERT_EQ(buf[0], '\x7f');  // a negative length writes nothing
            continue;
        }
        size_t kept = std::min(len - 1, full.size());
        ASSERT_EQ(std::string(buf.get(), kept), full.substr(0, kept)) << "length " << len;
        ASSERT_EQ(buf[kept], '\0') << "length " << len;
    }
}

// A version string is eleven registers of two characters, whatever the next one holds (the
// reports show the 32-bit layout and the NUL that ends a text early); a null buffer is
// refused.
TEST_F(EcpsTest, VersionStringsReadTwoCharactersPerRegister) {
    for (uint32_t i = 0; i < 12; ++i) {
        sim::fpga_poke(FpgaWidth::W16, 0x60000 + 4 * i, 0x4142 + i);
    }
    std::string buf(24, '#');
    getVerStr16(0x60000, buf.data());
    EXPECT_EQ(buf, std::string("ABACADAEAFAGAHAIAJAKAL\0#", 24));
    getVerStr16(0x60000, nullptr);
}

}  // namespace
}  // namespace bsp::test
