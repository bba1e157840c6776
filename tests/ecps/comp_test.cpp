// 1588 compensation: correction registers, reserved shift markers, operational mode, RL
// bonding and the debug alarm.
#include <gmock/gmock.h>

#include <climits>

#include "ecps_fixture.h"

namespace bsp::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint32_t u(int v) {
    return static_cast<uint32_t>(v);
}

std::vector<FpgaAccess> rl_regs(int sync_si, int sync_so, int delay_si, int delay_so) {
    return {w32(0x52100, u(sync_si)), w32(0x52200, u(sync_so)), w32(0x52300, u(delay_si)),
            w32(0x52400, u(delay_so))};
}

class EcpsComp : public EcpsTest {
  protected:
    void SetUp() override {
        EcpsTest::SetUp();
        start();
    }

    // RL port with delay 100, asymmetry 10 and shifts 5/7 in the given mode.
    static void rl_example(int mode) {
        ASSERT_EQ(ecps_delayCompOperMode_set(1, mode), 0);
        ASSERT_TRUE(sim::radio_notify_shift(5, 7, 0));
        ASSERT_EQ(ecps_delayComp_set(1, 100), 0);
        clear();
        ASSERT_EQ(ecps_asymmetryCompensation_set(1, 10), 0);
    }
};

TEST_F(EcpsComp, TelecomAppliesTheShifts) {
    rl_example(TELECOM);
    EXPECT_EQ(writes(), rl_regs(95, -93, 105, -103));
    EXPECT_THAT(log_lines_1588(),
                ElementsAre("[1588] ECPS asymmetry set 10 for port 1\n",
                            "[1588] ECPS Compensation for port 1 set to delay=100, "
                            "asymmetry=10, si=5, so=7\n"));
}

TEST_F(EcpsComp, BasicLeavesTheShiftsOut) {
    rl_example(BASIC);
    EXPECT_EQ(writes(), rl_regs(90, -100, 100, -110));
    EXPECT_TRUE(
        logged_1588("[1588] ECPS linkDelayCompOperMode for port 1 is BASIC: si = 0, so = 0\n"));
}

TEST_F(EcpsComp, SfpPortCorrectionsInTheirOrder) {
    ASSERT_EQ(ecps_delayComp_set(3, 100), 0);
    clear();
    ASSERT_EQ(ecps_asymmetryCompensation_set(3, 10), 0);
    EXPECT_THAT(writes(), ElementsAre(w32(0x53200, 90), w32(0x53210, u(-100)), w32(0x53204, 100),
                                      w32(0x53214, u(-110))));
    EXPECT_TRUE(
        logged_1588("[1588] ECPS linkDelayCompOperMode for port 3 is BASIC: si = 0, so = 0\n"));
    int delay = 0;
    unsigned int asym = 0;
    ASSERT_EQ(ecps_delayComp_get(3, &delay), 0);
    ASSERT_EQ(ecps_asymmetryCompensation_get(3, &asym), 0);
    EXPECT_EQ(delay, 100);
    EXPECT_EQ(asym, 10u);
}

TEST_F(EcpsComp, ArithmeticWrapsAroundIn32Bits) {
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    ASSERT_TRUE(sim::radio_notify_shift(INT_MAX, INT_MIN + 2, 1));
    ASSERT_EQ(ecps_asymmetryCompensation_set(1, 0x80000000u), 0);
    clear();
    ASSERT_EQ(ecps_delayComp_set(1, INT_MAX), 0);
    // delay 0x7FFFFFFF, asymmetry 0x80000000, si 0x7FFFFFFF, so 0x80000002, modulo 2^32
    EXPECT_THAT(writes(), ElementsAre(w32(0x52100, 0x7FFFFFFEu), w32(0x52200, 3u),
                                      w32(0x52300, 0xFFFFFFFEu), w32(0x52400, 0x80000003u)));
}

TEST_F(EcpsComp, SameValueWritesNothing) {
    ASSERT_EQ(ecps_delayComp_set(1, 0), 0);  // x starts at 0
    ASSERT_EQ(ecps_asymmetryCompensation_set(3, 0), 0);
    EXPECT_THAT(writes(), IsEmpty());
    ASSERT_EQ(ecps_delayComp_set(1, 8), 0);
    EXPECT_EQ(writes().size(), 4u);
    clear();
    ASSERT_EQ(ecps_delayComp_set(1, 8), 0);
    EXPECT_THAT(writes(), IsEmpty());
}

TEST_F(EcpsComp, ReservedShiftMarkersFreezeTheRlCorrections) {
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    clear();
    ASSERT_TRUE(sim::radio_notify_shift(3, sim::kRadioShiftDisconnected, 0));
    EXPECT_THAT(writes(), IsEmpty());
    EXPECT_TRUE(logged_1588(
        "[1588] ECPS compensation values for RL port 1 are not modified due to unsupported "
        "RL capacity or disconnected RL\n"));
    EXPECT_TRUE(
        logged_1588("[1588] asym_1588_notification: ECPS setting si 3 so -2147483647, "
                    "extended enhanced mode is OFF\n"));
    clear();
    ASSERT_EQ(ecps_delayComp_set(1, 250), 0);  // stored, registers left alone
    EXPECT_THAT(writes(), IsEmpty());
    int delay = 0;
    ASSERT_EQ(ecps_delayComp_get(1, &delay), 0);
    EXPECT_EQ(delay, 250);
    ASSERT_TRUE(sim::radio_notify_shift(sim::kRadioShiftUnsupported, 0, 0));
    EXPECT_THAT(writes(), IsEmpty());
    ASSERT_TRUE(sim::radio_notify_shift(1, 2, 0));  // a regular shift again
    EXPECT_EQ(writes(), rl_regs(251, -248, 251, -248));
}

TEST_F(EcpsComp, MarkersDoNotStopTheSfpPort) {
    ASSERT_TRUE(sim::radio_notify_shift(sim::kRadioShiftUnsupported, 0, 0));
    clear();
    ASSERT_EQ(ecps_delayComp_set(3, 4), 0);
    EXPECT_EQ(writes().size(), 4u);
}

TEST_F(EcpsComp, UnchangedShiftsIgnoreTheExtendedMode) {
    ASSERT_TRUE(sim::radio_notify_shift(5, 7, 0));
    clear();
    ASSERT_TRUE(sim::radio_notify_shift(5, 7, 1));
    EXPECT_THAT(writes(), IsEmpty());
    EXPECT_THAT(log_lines_1588(), ElementsAre("[1588] ECPS mod asym comp set si 5 so 7\n"));
    char report[1024];
    ecps_debug_print(sizeof report, report);
    EXPECT_THAT(report, ::testing::HasSubstr("RL |  OFF|        OFF|  BASIC|"));
}

TEST_F(EcpsComp, NotificationLogsTheExtendedMode) {
    ASSERT_TRUE(sim::radio_notify_shift(-4, 6, 2));
    EXPECT_THAT(log_lines_1588(),
                ElementsAre("[1588] ECPS mod asym comp set si -4 so 6\n",
                            "[1588] ECPS Compensation for port 1 set to delay=0, asymmetry=0, "
                            "si=-4, so=6\n",
                            "[1588] ECPS linkDelayCompOperMode for port 1 is BASIC: si = 0, "
                            "so = 0\n",
                            "[1588] asym_1588_notification: ECPS setting si -4 so 6, extended "
                            "enhanced mode is ON\n"));
    EXPECT_EQ(writes(), rl_regs(0, 0, 0, 0));
}

class EcpsWrongPort : public EcpsComp, public ::testing::WithParamInterface<int> {};

TEST_P(EcpsWrongPort, CompensationRefusesThePort) {
    kvu_hal_board_t b = sim::default_board();
    b.entry_of_hw_port[3] = -1;
    sim::set_board(b);
    int port = GetParam();
    int delay = 0;
    unsigned int asym = 0;
    EXPECT_EQ(ecps_delayComp_set(port, 1), -1);
    EXPECT_EQ(ecps_asymmetryCompensation_set(port, 1), -1);
    EXPECT_EQ(ecps_delayComp_get(port, &delay), -1);
    EXPECT_EQ(ecps_asymmetryCompensation_get(port, &asym), -1);
    EXPECT_THAT(writes(), IsEmpty());
    std::string wrong = "[1588] ECPS wrong port " + std::to_string(port) + "\n";
    std::vector<std::string> lines = log_lines_1588();
    ASSERT_EQ(lines.size(), 8u);
    for (size_t i = 1; i < lines.size(); i += 2) {
        EXPECT_EQ(lines[i], wrong);
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, EcpsWrongPort, ::testing::Values(-1, 0, 2, 3, 4, 9));

TEST_F(EcpsComp, RlPortWithoutEntryRefusesEverything) {
    kvu_hal_board_t b = sim::default_board();
    b.entry_of_hw_port[1] = -1;
    sim::set_board(b);
    int v = 5;
    EXPECT_EQ(ecps_delayCompOperMode_get(1, &v), -1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(ecps_delayCompOperMode_set(1, TELECOM), -1);
    v = 5;
    EXPECT_EQ(ecps_rlBondingStatus_get(1, &v), -1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(ecps_rlBondingStatus_set(1, 1), -1);
    ASSERT_TRUE(sim::radio_notify_shift(1, 1, 0));
    EXPECT_TRUE(logged_1588("[1588] ECPS wrong port 1\n"));
    EXPECT_THAT(writes(), IsEmpty());
}

TEST_F(EcpsComp, OperationalModeOnlyOnTheRlPort) {
    int mode = 7;
    EXPECT_EQ(ecps_delayCompOperMode_get(3, &mode), -1);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(ecps_delayCompOperMode_set(2, TELECOM), -1);
    EXPECT_THAT(log_lines_1588(),
                ElementsAre("[1588] ECPS LINK DELAY COMP OPER MODE get: Basic and Telecom link "
                            "delay compensation operational mode is not applicable for port 3\n",
                            "[1588] ECPS LINK DELAY COMP OPER MODE set: Basic and Telecom link "
                            "delay compensation operational mode is not applicable for port 2\n"));
}

TEST_F(EcpsComp, ModeSetRewritesTheCorrectionsEveryTime) {
    ASSERT_TRUE(sim::radio_notify_shift(5, 7, 0));
    ASSERT_EQ(ecps_delayComp_set(1, 100), 0);
    clear();
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    EXPECT_EQ(writes(), rl_regs(105, -93, 105, -93));
    clear();
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    EXPECT_EQ(writes(), rl_regs(105, -93, 105, -93));
    clear();
    ASSERT_EQ(ecps_delayCompOperMode_set(1, BASIC), 0);
    EXPECT_EQ(writes(), rl_regs(100, -100, 100, -100));
    int mode = -1;
    ASSERT_EQ(ecps_delayCompOperMode_get(1, &mode), 0);
    EXPECT_EQ(mode, BASIC);
    EXPECT_TRUE(logged_1588("[1588] ECPS LINK DELAY COMP OPER MODE 0 get for port 1\n"));
}

struct BondingCase {
    unsigned int tsu;  // RL TSU control word before
    int status;
    uint32_t nibble;
};

class EcpsBonding : public EcpsComp, public ::testing::WithParamInterface<BondingCase> {};

TEST_P(EcpsBonding, WritesTheLowNibbleOfTheRlTsuControl) {
    const BondingCase &c = GetParam();
    ASSERT_EQ(ecps_tsuCtrl_set(1, c.tsu), 0);
    sim::fpga_poke(FpgaWidth::W32, 0x52900, reg32(0x52900) | 0xC);  // bits 2, 3 get cleared
    clear();
    ASSERT_EQ(ecps_rlBondingStatus_set(1, c.status), 0);
    EXPECT_THAT(writes(), ElementsAre(w32(0x52900, c.nibble, 0xf)));
    EXPECT_EQ(reg32(0x52900) & 0xF, c.nibble);
    int status = -1;
    ASSERT_EQ(ecps_rlBondingStatus_get(1, &status), 0);
    EXPECT_EQ(status, c.status);
    EXPECT_TRUE(logged_1588("[1588] ECPS RL BONDING STATUS " + std::to_string(c.status) +
                            " set for port 1\n"));
}

INSTANTIATE_TEST_SUITE_P(Cases, EcpsBonding,
                         ::testing::Values(BondingCase{0x2, 1, 3}, BondingCase{0x2, 0, 1},
                                           BondingCase{0x2, 5, 3}, BondingCase{0, 1, 0},
                                           BondingCase{0, 0, 0}));

TEST_F(EcpsComp, BondingOnlyOnTheRlPort) {
    int status = 3;
    EXPECT_EQ(ecps_rlBondingStatus_get(3, &status), -1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ecps_rlBondingStatus_set(2, 1), -1);
    EXPECT_THAT(log_lines_1588(),
                ElementsAre("[1588] ECPS RL BONDING STATUS get: port 3 is not RL port\n",
                            "[1588] ECPS rlBondingStatus set: port 2 is not RL port\n"));
}

TEST_F(EcpsTest, BondingWithoutReadableTsuChangesNothing) {
    set_vanta_rev('0');
    start();
    EXPECT_EQ(ecps_rlBondingStatus_set(1, 1), 0);
    EXPECT_THAT(writes(), IsEmpty());
    EXPECT_TRUE(
        logged_1588("[1588] ECPS RL BONDING STATUS 1 set failure: failed to get TSU "
                    "status for port 1\n"));
    int status = -1;
    ASSERT_EQ(ecps_rlBondingStatus_get(1, &status), 0);
    EXPECT_EQ(status, 0);
}

TEST_F(EcpsComp, DebugAlarmReachesTheTrapInfoCallback) {
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

}  // namespace
}  // namespace bsp::test
