// The fault plan from the shell: off unless BSP_FAULT_SEED is set, seeded from it or by
// command, chances and single events shown with the faults dealt, and a run replayed from
// its seed.
#include "shell_run.h"

namespace bsp::test {

namespace {

std::string plan_table(const std::string &seed, const std::string &busy,
                       const std::string &eeprom_tear, const std::string &door_out_lost,
                       const std::string &hdlc_out_drop) {
    return "fault plan seed 0x" + seed + ", eeprom busy " + busy + " ms\n" +
           "kind                 chance   events   at events\n" + eeprom_tear +
           "eeprom-busy          0        0        -\n"
           "flash-tear           0        0        -\n"
           "flash-erase-tear     0        0        -\n"
           "serial-drop          0        0        -\n"
           "serial-flip          0        0        -\n"
           "doorbell-lost        0        0        -\n"
           "doorbell-repeat      0        0        -\n"
           "hdlc-drop            0        0        -\n" +
           door_out_lost + "doorbell-out-repeat  0        0        -\n" + hdlc_out_drop;
}

const std::string kQuietTear = "eeprom-tear          0        0        -\n";
const std::string kQuietDoor = "doorbell-out-lost    0        0        -\n";
const std::string kQuietHdlc = "hdlc-out-drop        0        0        -\n";

// Opens DPDP with the log silenced and sends frames 01..0n; shows what the far end got.
std::string dpdp_sends(int n) {
    std::string args = " -c 'log all -1' -c dpdp-open";
    for (int i = 1; i <= n; ++i) {
        char frame[16];
        std::snprintf(frame, sizeof frame, "%02x", i);
        args += std::string(" -c 'dpdp-send ") + frame + "'";
    }
    return args + " -c dpdp-far";
}

using FaultsShellTest = ShellTest;

TEST_F(FaultsShellTest, PositionsAndChancesAreShownWithTheFaultsDealt) {
    ::setenv("BSP_FAULT_SEED", "42", 1);
    ShellRun r =
        bspsim(state() + " -c 'faults at hdlc-out-drop 2'" +
               " -c 'faults chance doorbell-out-lost 0.25' -c 'faults at eeprom-tear 3 7'" +
               dpdp_sends(3) + " -c faults");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        r.out,
        "bsp_sim: fault plan seed 0x000000000000002a\n"
        "hdlc-out-drop: event #2 goes wrong at a drawn position\n"
        "doorbell-out-lost: chance 0.25\n"
        "eeprom-tear: event #3 goes wrong at 7\n"
        "DpdpOpen = 0\nDpdpSend = 0\nDpdpSend = 0\nDpdpSend = 0\n"
        "far end got #0, 1 bytes\n"
        "00000000  01                                               .\n"
        "far end got #1, 1 bytes\n"
        "00000000  03                                               .\n"
        "HDLC channel 0 open, 0 frame(s) waiting for the library\n" +
            plan_table("000000000000002a", "50", "eeprom-tear          0        0        3@7\n",
                       "doorbell-out-lost    0.25     0        -\n",
                       "hdlc-out-drop        0        3        2\n") +
            "1 fault(s) dealt\n  hdlc-out-drop #2 at 0\n");
}

TEST_F(FaultsShellTest, SeedFromTheEnvironmentReplaysLikeTheSeedCommand) {
    std::string sends = " -c 'faults chance hdlc-out-drop 0.5'" + dpdp_sends(12);
    ShellRun by_command = bspsim(state() + " -c 'faults seed 0x2a'" + sends);
    ::setenv("BSP_FAULT_SEED", "0x2a", 1);
    ShellRun by_env = bspsim(state() + sends);
    ASSERT_EQ(by_env.status, 0);
    const std::string seed_line = "bsp_sim: fault plan seed 0x000000000000002a\n";
    const std::string seed_reply = "fault plan seed 0x000000000000002a, eeprom busy 50 ms\n";
    ASSERT_EQ(by_env.out.substr(0, seed_line.size()), seed_line);
    ASSERT_EQ(by_command.out.substr(0, seed_reply.size()), seed_reply);
    EXPECT_EQ(by_env.out.substr(seed_line.size()), by_command.out.substr(seed_reply.size()));
    size_t got = 0;
    for (size_t at = by_env.out.find("far end got"); at != std::string::npos;
         at = by_env.out.find("far end got", at + 1)) {
        ++got;
    }
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, 12u);
    ::setenv("BSP_FAULT_SEED", "0x2b", 1);
    EXPECT_NE(bspsim(state() + sends).out.substr(seed_line.size()),
              by_env.out.substr(seed_line.size()));
}

// Without BSP_FAULT_SEED the plan starts off; "faults off" puts it back there.
TEST_F(FaultsShellTest, PlanStartsOffAndOffClearsIt) {
    const std::string off =
        plan_table("0000000000000000", "50", kQuietTear, kQuietDoor, kQuietHdlc) +
        "0 fault(s) dealt\n";
    ShellRun r =
        bspsim(state() + " -c faults -c 'faults chance serial-flip 0.5' -c 'faults busy 200'" +
               " -c 'faults seed 12' -c 'faults chance hdlc-drop 1' -c 'faults off' -c faults");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, off +
                         "serial-flip: chance 0.5\n"
                         "eeprom busy 200 ms\n"
                         "fault plan seed 0x000000000000000c, eeprom busy 50 ms\n"
                         "hdlc-drop: chance 1\n"
                         "fault plan off\n" +
                         off);
}

struct BadLine {
    const char *name;
    const char *line;
    const char *error;
};

class FaultsShellErrorTest : public ShellTest, public ::testing::WithParamInterface<BadLine> {};

TEST_P(FaultsShellErrorTest, IsRefusedWithItsMessage) {
    ShellRun r = bspsim(state() + " -c '" + GetParam().line + "' -c faults");
    EXPECT_EQ(r.status, 1);
    std::string head = r.out.substr(0, r.out.find("fault plan seed"));
    EXPECT_EQ(head, GetParam().error);
    EXPECT_NE(r.out.find("0 fault(s) dealt\n"), std::string::npos);  // the plan is unchanged
    EXPECT_NE(r.out.find(kQuietHdlc), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FaultsShellErrorTest,
    ::testing::Values(
        BadLine{"UnknownKind", "faults chance nope 1",
                "error: no such fault kind: nope (have: eeprom-tear eeprom-busy flash-tear "
                "flash-erase-tear serial-drop serial-flip doorbell-lost doorbell-repeat "
                "hdlc-drop doorbell-out-lost doorbell-out-repeat hdlc-out-drop)\n"},
        BadLine{"ChanceAboveOne", "faults chance hdlc-out-drop 1.5",
                "error: a chance is a number from 0 to 1: 1.5\n"},
        BadLine{"ChanceNotANumber", "faults chance hdlc-out-drop nan",
                "error: a chance is a number from 0 to 1: nan\n"},
        BadLine{"EventZero", "faults at hdlc-out-drop 0", "error: events are counted from 1\n"},
        BadLine{"PositionNotANumber", "faults at hdlc-out-drop 2 x", "error: not a number: x\n"},
        BadLine{"NegativeSeed", "faults seed -1", "error: not a 64-bit number: -1\n"},
        BadLine{"SeedWithoutNumber", "faults seed", "error: usage: faults seed N\n"},
        BadLine{"UnknownSubcommand", "faults zap",
                "error: no such faults command: zap (have: seed chance at busy off)\n"}),
    [](const ::testing::TestParamInfo<BadLine> &p) { return std::string(p.param.name); });

}  // namespace

}  // namespace bsp::test
