// The diagnostic printouts and the command interpreter, compared byte for byte.
#include <bsp_ctrl/ehsl_pmap.h>

#include "port_fixture.h"
#include "support/capture.h"

namespace {

using bsp::test::kSfpPort;
using bsp::test::PortTest;
using bsp::test::StdoutCapture;

const char kStubInitial[] =
    "--------------------------------------\n"
    "|   INFO       | port_1    |  port_2   | \n"
    "-------------------------------------\n"
    "|  OperStatus  |     2     |       2    | \n"
    "|  AdminStatus |     2     |       2    | \n"
    "|  Speed       |  1000     |    1000    | \n"
    "|  Auto        |     1     |       1    | \n"
    "|  TxPause     |     0     |       0    | \n"
    "|  RxPause     |     0     |       0    | \n"
    "|  Sfp         |     0     |       0    | \n"
    "|  Duplex      |     0     |       0    | \n"
    "|  Mode        |     0     |       0    | \n"
    "--------------------------------------\n";

std::string pmap_printout(const char *rows) {
    return std::string(
               "------------------------------------------\n"
               "|   INFO       | port_1      |    port_2  | \n"
               "------------------------------------------\n") +
           rows + "------------------------------------------ \n";
}

std::string run(const char *name, int port = kSfpPort, int value = 0) {
    StdoutCapture out;
    EXPECT_EQ(cli_cmd(0, port, const_cast<char *>(name), value), 0);
    return out.text();
}

// Before any family is started (each test case runs in a process of its own under CTest).
TEST(PortPrintoutsBeforeInit, StubAndPortMapShowTheirStartingValues) {
    bsp::sim::reset_unit();
    if (kvu_info != nullptr) {
        GTEST_SKIP() << "the port layer was started earlier in this process";
    }
    {
        StdoutCapture out;
        EXPECT_EQ(kvu_stub_cmd(), 0);
        EXPECT_EQ(out.text(), kStubInitial);
    }
    StdoutCapture out;
    EXPECT_EQ(cli_cmd(0, 1, const_cast<char *>("Operstatus_set"), 1), 0);
    EXPECT_EQ(out.text(), "Error in Operstatus set\n");
}

TEST(PortPrintoutsBeforeInit, PortMapPrintsZerosBeforeItsInit) {
    bsp::sim::reset_unit();
    int eps = 0;
    if (ehsl_pmap_hw_to_eps(1, &eps) == 0) {
        GTEST_SKIP() << "the port map was set up earlier in this process";
    }
    StdoutCapture out;
    EXPECT_EQ(kvu_pmap_cmd(), 0);
    EXPECT_EQ(out.text(),
              pmap_printout("|  hwPortNum   |            0      |             0    | \n"
                            "|  epsPortNum  |            0      |             0    | \n"
                            "|  linkState   |            0      |             0    | \n"
                            "|  eventSup    |            0      |             0    | \n"
                            "|  wanLink     |            0      |             0    | \n"
                            "|  llSpeed     |            0      |             0    | \n"
                            "|  mac         |            0      |             0    | \n"));
}

// The board printout, directly and through the "port_conf" command.
TEST_F(PortTest, BoardPrintout) {
    kvu_hal_board_t b = bsp::sim::default_board();
    b.cp_num_of_entry[2] = 12;
    bsp::sim::set_board(b);
    std::string direct;
    {
        StdoutCapture out;
        EXPECT_EQ(kvu_hal_cmd(), 0);
        direct = out.text();
    }
    EXPECT_EQ(run("port_conf"), direct);
    EXPECT_EQ(direct,
              "OXU HAL: Board specific configuration\n"
              "Num lan ports:     3\n"
              "Num wan ports:     1\n"
              "Num SFP ports:     1\n"
              "\n"
              "Enabled ports:     0x0000000e (bitmap)\n"
              "\n"
              "Port : MIIaddr : LAN port# : CP#\n"
              " 00     01        01          00\n"
              " 01     02        02          01\n"
              " 02     00        03          12\n");
}

TEST_F(PortTest, StubPrintoutShowsOperStatusWrites) {
    ASSERT_EQ(ehsl_port_oper_status_set(0, 1), 0);
    std::string expected = kStubInitial;
    expected.replace(expected.find("|  OperStatus  |     2"), 22, "|  OperStatus  |     1");
    EXPECT_EQ(run("stub_conf"), expected);
}

TEST_F(PortTest, PortMapPrintoutAfterInitAndUpdates) {
    ehsl_pmap_init();
    ASSERT_EQ(ehsl_pmap_update(2, 17, 0), 0);
    ASSERT_EQ(ehsl_pmap_link_state_event_set(2, 1), 0);
    EXPECT_EQ(run("pmap_conf"),
              pmap_printout("|  hwPortNum   |            1      |             2    | \n"
                            "|  epsPortNum  |           -1      |            17    | \n"
                            "|  linkState   |            0      |             1    | \n"
                            "|  eventSup    |            0      |             0    | \n"
                            "|  wanLink     |            0      |             1    | \n"
                            "|  llSpeed     |            0      |             0    | \n"
                            "|  mac         |            0      |             0    | \n"));
}

struct CliCase {
    const char *name;
    const char *command;
    sfp_hw_t module;
    int port;
    int value;
    const char *out;
};

class CliCommand : public PortTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliCommand, PrintsItsResultOrErrorLine) {
    const CliCase &c = GetParam();
    if (c.module == SFP_NO_SFP) {
        bsp::sim::pull_sfp();
    } else {
        bsp::sim::plug_sfp(c.module);
    }
    EXPECT_EQ(run(c.command, c.port, c.value), c.out);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, CliCommand, ::testing::Values(
    CliCase{"OperGet", "Operstatus_get", SFP_COPPER, 3, 0, "Oper status port 3  up\n"},
    CliCase{"OperGetError", "Operstatus_get", SFP_NO_SFP, 3, 0, "Error in admin status get\n"},
    CliCase{"OperSet", "Operstatus_set", SFP_COPPER, 1, 4, ""},
    CliCase{"OperSetOutside", "Operstatus_set", SFP_COPPER, 3, 4, "Error in Operstatus set\n"},
    CliCase{"AdminSet", "adminstatus_set", SFP_COPPER, 3, 1, ""},
    CliCase{"AdminSetError", "adminstatus_set", SFP_COPPER, 1, 1, "Error in admin status set\n"},
    CliCase{"AdminGet", "adminstatus_get", SFP_COPPER, 3, 0, "Admin status up\n"},
    CliCase{"AdminGetFibre", "adminstatus_get", SFP_FIBER, 3, 0, "Admin status up\n"},
    CliCase{"AdminGetError", "adminstatus_get", SFP_NO_SFP, 3, 0, "Error in admin status get\n"},
    CliCase{"SpeedSet", "speed_set", SFP_FIBER, 3, 1000, ""},
    CliCase{"SpeedSetError", "speed_set", SFP_FIBER, 3, 100, "Error in speed set\n"},
    CliCase{"SpeedGet", "speed_get", SFP_COPPER, 3, 0, "Speed 1000 Mbit/s\n"},
    CliCase{"SpeedGetError", "speed_get", SFP_ERROR, 3, 0, "Error reading port speed\n"},
    CliCase{"LinkStatus", "link_status", SFP_FIBER, 3, 0, "Link status UP\n"},
    CliCase{"LinkStatusError", "link_status", SFP_COPPER, 0, 0, "Error reading Link status\n"},
    CliCase{"MdixSet", "mdix_set", SFP_COPPER, 3, 2, ""},
    CliCase{"MdixSetError", "mdix_set", SFP_FIBER, 3, 2, "Error in mdix set\n"},
    CliCase{"MdixGet", "mdix_get", SFP_FIBER, 3, 0, "mdix 0\n"},
    CliCase{"MdixGetError", "mdix_get", SFP_NO_SFP, 3, 0, "Error reading mdix config status\n"},
    CliCase{"DuplexSet", "duplex_set", SFP_COPPER, 3, 10, ""},
    CliCase{"DuplexSetError", "duplex_set", SFP_NO_SFP, 3, 10, "Error in duplex set\n"},
    CliCase{"DuplexGet", "duplex_get", SFP_COPPER, 3, 0, "duplex 10\n"},
    CliCase{"DuplexGetError", "duplex_get", SFP_COPPER, 2, 0,
            "Error reading duplex config status\n"},
    CliCase{"ConfigGet", "config_get", SFP_COPPER, 3, 0,
            "Config status autoneg=1, speed=1, duplex=10\n"},
    CliCase{"ConfigGetError", "config_get", SFP_NO_SFP, 3, 0, "Error reading config status\n"},
    CliCase{"ConfigSet", "config_set", SFP_COPPER, 3, 6, ""},
    CliCase{"ConfigSetError", "config_set", SFP_COPPER, 0, 6, "Error in config set\n"},
    CliCase{"MasterSet", "master_set", SFP_COPPER, 3, 7, ""},
    CliCase{"MasterSetError", "master_set", SFP_NO_SFP, 3, 0, "Error in config set\n"},
    CliCase{"AutonegGet", "autoneg_get", SFP_COPPER, 3, 0, "Autoneg: ON\n"},
    CliCase{"AutonegGetError", "autoneg_get", SFP_NO_SFP, 3, 0, "Error reading autoneg\n"},
    CliCase{"AutonegSet", "autoneg_set", SFP_COPPER, 3, 0, ""},
    CliCase{"AutonegSetError", "autoneg_set", SFP_NO_SFP, 3, 0, "Error in autoneg set\n"},
    CliCase{"SpeedsError", "supported_speeds", SFP_NO_SFP, 3, 0,
            "Error reading supported speeds\n"},
    CliCase{"PortInit", "port_init", SFP_COPPER, 3, 0, ""},
    CliCase{"Unknown", "no_such_command", SFP_COPPER, 3, 0, ""},
    CliCase{"CaseMatters", "SPEED_GET", SFP_COPPER, 3, 0, ""}),
    bsp::test::RowName());
// clang-format on

TEST_F(PortTest, MasterSetMapsTheOperatorValue) {
    run("master_set", kSfpPort, 0);
    run("master_set", kSfpPort, 1);
    run("master_set", kSfpPort, 7);
    EXPECT_EQ(
        bsp::test::driver_writes(),
        (std::vector<std::string>{"master_set(3,3)=0", "master_set(3,2)=0", "master_set(3,1)=0"}));
}

TEST_F(PortTest, SupportedSpeedsCommandPrintsTheFourBytes) {
    ehsl_pmap_init();
    bsp::test::end_capability_phase();
    ehsl_pmap_synce_cap_init(kSfpPort, 0);
    EXPECT_EQ(run("supported_speeds"), "Supported speeds: e0c00000/s\n");
}

TEST_F(PortTest, NullCommandNameDoesNothing) {
    StdoutCapture out;
    EXPECT_EQ(cli_cmd(0, kSfpPort, nullptr, 0), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(bsp::sim::eth_calls().empty());
}

}  // namespace
