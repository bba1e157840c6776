// 1588 control: detection, cold and warm starts, TSU enable, sync source, alarm period.
#include <gmock/gmock.h>

#include "ecps_fixture.h"

namespace bsp::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct RevCase {
    uint16_t word;  // register 0x00010
    bool supported;
};

class EcpsDetection : public EcpsTest, public ::testing::WithParamInterface<RevCase> {};

TEST_P(EcpsDetection, RevisionCharacterDecidesSupport) {
    sim::fpga_poke(FpgaWidth::W16, 0x10, GetParam().word);
    ASSERT_EQ(ecps_init(), 0);
    unsigned int support = 99;
    ASSERT_EQ(ecps_supported(&support), 0);
    EXPECT_EQ(support, GetParam().supported ? 1u : 0u);
    EXPECT_EQ(ecps_apu_version_get(1), GetParam().supported ? 5 : 0);
    char rev = static_cast<char>(GetParam().word & 0xFF);
    EXPECT_TRUE(logged_1588(std::string("[1588] Vanta Major R state ") + rev + "\n"));
    EXPECT_TRUE(logged_1588(GetParam().supported ? "[1588] Vanta with 1588 support\n"
                                                 : "[1588] Vanta with no 1588 support\n",
                            0));
    EXPECT_EQ(sim::radio_shift_installed(), GetParam().supported);
}

INSTANTIATE_TEST_SUITE_P(Revisions, EcpsDetection,
                         ::testing::Values(RevCase{0x5231, false}, RevCase{0x5230, false},
                                           RevCase{0x5201, false}, RevCase{0x5232, true},
                                           RevCase{0x3132, true}, RevCase{0x3231, false},
                                           RevCase{0x0041, true}, RevCase{0x00FF, true}));

TEST_F(EcpsTest, UnsupportedStartTouchesNothingElse) {
    ASSERT_TRUE(sim::fpga_load_image(sim::kImageSeis));
    sim::fpga_clear_log();
    ASSERT_EQ(ecps_init(), 0);
    EXPECT_THAT(writes(), IsEmpty());
    ASSERT_EQ(sim::fpga_log().size(), 1u);
    EXPECT_EQ(sim::fpga_log()[0].address, 0x10u);
    EXPECT_EQ(ecps_alarmPeriod_set(1, 5), -1);
    EXPECT_EQ(sim::enabled_timers(), 0u);
}

TEST_F(EcpsTest, UnsupportedRefusesTheSupportedOperations) {
    set_vanta_rev('1');
    start();
    unsigned int v = 42;
    EXPECT_EQ(ecps_tsuCtrl_get(1, &v), -1);
    EXPECT_EQ(ecps_tsuCtrl_set(1, 2), -1);
    EXPECT_EQ(ecps_alarmPeriod_get(1, &v), -1);
    EXPECT_EQ(ecps_alarmPeriod_set(1, 3), -1);
    EXPECT_EQ(ecps_syncSrc_get(1, &v), -1);
    EXPECT_EQ(ecps_syncSrc_set(1, 1), -1);
    EXPECT_EQ(v, 42u);
    EXPECT_THAT(writes(), IsEmpty());
    EXPECT_THAT(log_lines_1588(), ElementsAre("[1588] ECPS TSU Ctrl get for port 1\n",
                                              "[1588] ECPS TSU Ctrl set 0x0002 for port 1\n",
                                              "[1588] ECPS Alarm period for port 1\n",
                                              "[1588] ECPS Alarm period set 3 for port 1\n",
                                              "[1588] ECPS syncSrc get for port 1\n",
                                              "[1588] ECPS syncSrc set 1\n for port 1"));
    clear();
    EXPECT_EQ(ecps_install_trap_info_callback([](int, unsigned) { return 0; }), -1);
    EXPECT_EQ(ecps_dbg_send_alarm(1, 0), -1);
    EXPECT_THAT(log_lines_1588(), ElementsAre("[1588] ECPS debug send alarm 0 for port 1\n"));
}

TEST_F(EcpsTest, ColdStartInitialisesRtcAndZeroesCorrections) {
    sim::fpga_poke(FpgaWidth::W32, 0x52100, 77);
    sim::fpga_poke(FpgaWidth::W32, 0x53214, 5);
    sim::set_reset_type(BSP_RESET_TYPE_COLD);
    ASSERT_EQ(ecps_init(), 0);
    EXPECT_THAT(writes(), ElementsAre(w32(0x510c0, 0x13), w32(0x52100, 0), w32(0x52300, 0),
                                      w32(0x52200, 0), w32(0x52400, 0), w32(0x53200, 0),
                                      w32(0x53204, 0), w32(0x53210, 0), w32(0x53214, 0)));
    EXPECT_TRUE(
        logged_1588("[1588] 1588 RTC major rev: 3 RL TSU major rev: 2 SFP TSU major rev: 2\n"));
    int mode = -1;
    ASSERT_EQ(ecps_delayCompOperMode_get(1, &mode), 0);
    EXPECT_EQ(mode, BASIC);
    EXPECT_TRUE(sim::radio_shift_installed());
    EXPECT_EQ(sim::enabled_timers(), 0u);  // created stopped
}

class EcpsWarmStart : public EcpsTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(EcpsWarmStart, NonZeroRlCorrectionMeansTelecom) {
    sim::fpga_poke(FpgaWidth::W32, GetParam(), 0xFFFFFFF0u);
    sim::fpga_poke(FpgaWidth::W32, 0x510c0, 0x3);
    sim::set_reset_type(2);
    ASSERT_EQ(ecps_init(), 0);
    EXPECT_THAT(writes(), IsEmpty());
    std::vector<uint32_t> reads;
    for (const FpgaAccess &a : sim::fpga_log()) {
        if (a.width == FpgaWidth::W32) {
            reads.push_back(a.address);
        }
    }
    EXPECT_THAT(reads, ElementsAre(0x52100u, 0x52300u, 0x52200u, 0x52400u));
    int mode = -1;
    ASSERT_EQ(ecps_delayCompOperMode_get(1, &mode), 0);
    EXPECT_EQ(mode, TELECOM);
    EXPECT_EQ(reg32(0x510c0), 0x3u);
}

INSTANTIATE_TEST_SUITE_P(Corrections, EcpsWarmStart,
                         ::testing::Values(0x52100u, 0x52200u, 0x52300u, 0x52400u));

TEST_F(EcpsTest, WarmStartWithZeroCorrectionsIsBasic) {
    sim::fpga_poke(FpgaWidth::W32, 0x53200, 9);  // SFP corrections do not count
    start(7);
    int mode = -1;
    ASSERT_EQ(ecps_delayCompOperMode_get(1, &mode), 0);
    EXPECT_EQ(mode, BASIC);
    EXPECT_EQ(reg32(0x53200), 9u);
}

TEST_F(EcpsTest, TimerCreationFailureIsLoggedAndLaterRestartsFail) {
    sim::inject_fault({sim::FaultOp::TimerCreate, 1, EIO, -1, ""});
    ASSERT_EQ(ecps_init(), 0);
    EXPECT_TRUE(logged_1588("[1588] Error in creating timer\n", 0));
    unsigned int support = 0;
    ecps_supported(&support);
    EXPECT_EQ(support, 1u);
    EXPECT_EQ(ecps_apu_version_get(3), 5);
    clear();
    EXPECT_NE(ecps_alarmPeriod_set(3, 10), 0);
    EXPECT_TRUE(logged_1588("[1588] Error stopping ECPS alarm timer\n"));
    unsigned int period = 0;
    EXPECT_EQ(ecps_alarmPeriod_get(3, &period), 0);
    EXPECT_EQ(period, 10u);
}

TEST_F(EcpsTest, NullOutputPointersAreRefused) {
    start();
    EXPECT_EQ(ecps_supported(nullptr), -1);
    EXPECT_EQ(ecps_sel1PPS_get(1, nullptr), -1);
    EXPECT_EQ(ecps_tsuCtrl_get(1, nullptr), -1);
    EXPECT_EQ(ecps_linkDelay_get(1, nullptr), -1);
    EXPECT_EQ(ecps_alarmPeriod_get(1, nullptr), -1);
    EXPECT_EQ(ecps_syncSrc_get(1, nullptr), -1);
    EXPECT_EQ(ecps_delayComp_get(1, nullptr), -1);
    EXPECT_EQ(ecps_asymmetryCompensation_get(1, nullptr), -1);
    EXPECT_EQ(ecps_delayCompOperMode_get(1, nullptr), -1);
    EXPECT_EQ(ecps_rlBondingStatus_get(1, nullptr), -1);
    EXPECT_EQ(ecps_delayCompOperMode_get(3, nullptr), -1);
    EXPECT_EQ(ecps_rlBondingStatus_get(3, nullptr), -1);
    EXPECT_THAT(sim::fpga_log(), IsEmpty());
}

TEST_F(EcpsTest, LoggedOnlyOperationsLeaveValuesAlone) {
    start();
    unsigned int v = 1234;
    EXPECT_EQ(ecps_sel1PPS_get(3, &v), 0);
    EXPECT_EQ(ecps_sel1PPS_set(3, 1), 0);
    EXPECT_EQ(ecps_linkDelay_get(1, &v), 0);
    EXPECT_EQ(ecps_linkDelay_set(1, 500), 0);
    EXPECT_EQ(ecps_apu_version_set(9, 6), 0);
    EXPECT_EQ(ecps_apu_version_get(1), 6);
    EXPECT_EQ(v, 1234u);
    EXPECT_THAT(sim::fpga_log(), IsEmpty());
    EXPECT_THAT(log_lines_1588(), ElementsAre("[1588] ECPS get sel1PPS 0 for port 3\n",
                                              "[1588] ECPS set sel1PPS 1 for port 3\n",
                                              "[1588] ECPS Link delay get for port 1\n",
                                              "[1588] ECPS Link delay set 500 for port 1\n",
                                              "[1588] ECPS APU version 6\n",
                                              "[1588] ECPS APU version get for port 1\n"));
}

struct TsuSetCase {
    int port;
    unsigned int word;
    std::vector<FpgaAccess> expected;
    std::string trace;  // second log line
};

class EcpsTsuSet : public EcpsTest, public ::testing::WithParamInterface<TsuSetCase> {};

TEST_P(EcpsTsuSet, WritesTheControlRegisters) {
    start();
    const TsuSetCase &c = GetParam();
    bool known = c.port == 1 || c.port == 3;
    EXPECT_EQ(ecps_tsuCtrl_set(c.port, c.word), known ? 0 : -1);
    EXPECT_EQ(writes(), c.expected);
    std::vector<std::string> lines = log_lines_1588();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], c.trace);
}

const std::string kRlOn = "[1588] ecps_tsuCtrl_set KVU_HAL_RL_HW_PORT tsuCtrl\n";
const std::string kRlOff = "[1588] ecps_tsuCtrl_set KVU_HAL_RL_HW_PORT NO tsuCtrl\n";
const std::string kSfp = "[1588] ecps_tsuCtrl_set KVU_HAL_SFP_HW_PORT\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Words, EcpsTsuSet, ::testing::Values(
    TsuSetCase{1, 0x2, {w32(0x52900, 1, 1), w32(0x52900, 0x20, 0x20), w16(0x28030, 2),
                        w16(0x28034, 2)}, kRlOn},
    TsuSetCase{1, 0x8, {w32(0x52900, 4, 1), w32(0x52900, 0x20, 0x20), w16(0x28030, 2),
                        w16(0x28034, 2)}, kRlOn},
    TsuSetCase{1, 0, {w32(0x52900, 0, 1), w32(0x52900, 0, 0x20), w16(0x28030, 0x84),
                      w16(0x28034, 0x82)}, kRlOff},
    TsuSetCase{3, 0x8, {w32(0x53084, 1, 1), w16(0x3210c, 1)}, kSfp},
    TsuSetCase{3, 0x2, {w32(0x53084, 0, 1), w16(0x3210c, 1)}, kSfp},
    TsuSetCase{2, 0x4, {}, "[1588] ECPS TSU Ctrl get for port 2 can't be handled, UNKNOWN\n"},
    TsuSetCase{0, 0x1, {}, "[1588] ECPS TSU Ctrl get for port 0 can't be handled, UNKNOWN\n"},
    TsuSetCase{-4, 0x1, {}, "[1588] ECPS TSU Ctrl get for port -4 can't be handled, UNKNOWN\n"}));
// clang-format on

TEST_F(EcpsTest, TsuEnableReadsBackAsThePortsBit) {
    start();
    unsigned int word = 0;
    ASSERT_EQ(ecps_tsuCtrl_set(1, 0x2), 0);
    ASSERT_EQ(ecps_tsuCtrl_get(1, &word), 0);
    EXPECT_EQ(word, 0x2u);
    ASSERT_EQ(ecps_tsuCtrl_get(3, &word), 0);
    EXPECT_EQ(word, 0u);
    ASSERT_EQ(ecps_tsuCtrl_set(3, 0x8), 0);
    ASSERT_EQ(ecps_tsuCtrl_get(3, &word), 0);
    EXPECT_EQ(word, 0x8u);
    ASSERT_EQ(ecps_tsuCtrl_set(1, 0x8), 0);  // the RL bit clear: RL TSU off, CellW on
    ASSERT_EQ(ecps_tsuCtrl_get(1, &word), 0);
    EXPECT_EQ(word, 0u);
    EXPECT_EQ(reg32(0x52900), 0x20u);
    word = 77;
    EXPECT_EQ(ecps_tsuCtrl_get(2, &word), -1);
    EXPECT_EQ(word, 77u);
    EXPECT_TRUE(logged_1588("[1588] ECPS TSU Ctrl get for port (2) can't be handled, UNKNOWN\n"));
}

TEST_F(EcpsTest, TsuBitFollowsTheBoardsHardwarePortOfTheEntry) {
    kvu_hal_board_t b = sim::default_board();
    b.hw_port_of_entry[0] = 2;  // the RL port's entry names hardware port 2
    sim::set_board(b);
    start();
    ASSERT_EQ(ecps_tsuCtrl_set(1, 0x4), 0);
    EXPECT_EQ(writes()[0], w32(0x52900, 1, 1));
    unsigned int word = 0;
    ASSERT_EQ(ecps_tsuCtrl_get(1, &word), 0);
    EXPECT_EQ(word, 0x4u);
}

TEST_F(EcpsTest, TsuBitOfABoardWithoutUsableHardwarePortIsThePortItself) {
    kvu_hal_board_t b = sim::default_board();
    b.hw_port_of_entry[0] = 77;
    b.entry_of_hw_port[3] = -1;
    sim::set_board(b);
    start();
    ASSERT_EQ(ecps_tsuCtrl_set(1, 0x2), 0);
    ASSERT_EQ(ecps_tsuCtrl_set(3, 0x8), 0);
    unsigned int rl = 0;
    unsigned int sfp = 0;
    ASSERT_EQ(ecps_tsuCtrl_get(1, &rl), 0);
    ASSERT_EQ(ecps_tsuCtrl_get(3, &sfp), 0);
    EXPECT_EQ(rl, 0x2u);
    EXPECT_EQ(sfp, 0x8u);
}

TEST_F(EcpsTest, SyncSourceIsBitFourOfTheRtcControl) {
    start();
    unsigned int src = 9;
    ASSERT_EQ(ecps_syncSrc_get(1, &src), 0);
    EXPECT_EQ(src, 1u);  // 0x13 after the cold start
    ASSERT_EQ(ecps_syncSrc_set(1, 2), 0);
    ASSERT_EQ(ecps_syncSrc_get(1, &src), 0);
    EXPECT_EQ(src, 0u);
    EXPECT_EQ(reg32(0x510c0), 0x03u);
    ASSERT_EQ(ecps_syncSrc_set(3, 3), 0);
    ASSERT_EQ(ecps_syncSrc_get(3, &src), 0);
    EXPECT_EQ(src, 1u);
    EXPECT_EQ(reg32(0x510c0), 0x13u);
    EXPECT_THAT(writes(), ElementsAre(w32(0x510c0, 0x20, 0x10), w32(0x510c0, 0x30, 0x10)));
    EXPECT_TRUE(logged_1588("[1588] ECPS syncSrc set 3\n for port 3"));
}

TEST_F(EcpsTest, AlarmPeriodStartsThePollingTimer) {
    start();
    unsigned int period = 5;
    ASSERT_EQ(ecps_alarmPeriod_get(1, &period), 0);
    EXPECT_EQ(period, 0u);
    EXPECT_EQ(sim::enabled_timers(), 0u);
    ASSERT_EQ(ecps_alarmPeriod_set(1, 300), 0);
    EXPECT_EQ(sim::enabled_timers(), 1u);
    sim::advance_clock_ms(250);
    ASSERT_EQ(ecps_alarmPeriod_set(3, 400), 0);
    EXPECT_EQ(sim::enabled_timers(), 1u);
    ASSERT_EQ(ecps_alarmPeriod_get(3, &period), 0);
    EXPECT_EQ(period, 400u);
    EXPECT_TRUE(logged_1588("[1588] ECPS Alarm period set 400 for port 3\n"));
}

TEST_F(EcpsTest, SfpLinkEventsPulseTheSfpTsu) {
    start();
    sim::set_link_connected(false);
    sim::set_link_connected(true);
    sim::wait_link_events_delivered();
    EXPECT_THAT(writes(), ElementsAre(w32(0x53084, 4, 4), w32(0x53084, 0, 4), w32(0x53084, 4, 4),
                                      w32(0x53084, 0, 4)));
    EXPECT_EQ(sim::sfp_tsu_link_pulses(), 2u);
    EXPECT_EQ(reg32(0x53084) & 0x4, 0u);
    EXPECT_THAT(log_lines_1588(),
                ElementsAre("[1588] ECPS Link callback, port 3, status 0, speed 0\n",
                            "[1588] ECPS Link callback, port 3, status 1, speed 1000\n"));
}

TEST_F(EcpsTest, LinkEventsOfOtherPortsAreUnknown) {
    start();
    sim::raise_port_link_event(1, true, 400);
    sim::wait_link_events_delivered();
    EXPECT_THAT(writes(), IsEmpty());
    EXPECT_THAT(log_lines_1588(),
                ElementsAre("[1588] ECPS Link callback, port 1, status 1, speed 400\n",
                            "[1588] ECPS Link callback, port (1) can't be handled, UNKNOWN\n"));
}

}  // namespace
}  // namespace bsp::test
