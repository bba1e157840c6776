// SEIS link handling: detection, cold and warm starts, and the port handlers.
#include <gmock/gmock.h>

#include "seis_fixture.h"

namespace bsp::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST_F(SeisTest, ColdStartDetectsTheLinkAndInitialisesIt) {
    sim::set_reset_type(BSP_RESET_TYPE_COLD);
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);  // fresh unit: one link, serving the SFP cage (port 3)
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x30120, 1), w16(0x32000, 0x0000),
                                                w16(0x32010, 0x0006), w16(0x3201c, 0x002f)));
    EXPECT_THAT(accessed(true), ElementsAre(0x30100u, 0x32000u, 0x3201cu, 0x32010u));
    EXPECT_EQ(sim::fpga_log()[0].mask, 0x3fu);
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre("SEIS: Found module supporting 1 links\n",
                            "SEIS: seis_detect_modules - hw_port = 3 is  PMAP_SYNCE_HW_SUPPORT \n",
                            "SEIS: Main process successfully started.\n"));
    EXPECT_THAT(log_lines(DBG_EHSL_PMAP_INDEX),
                ElementsAre(HasSubstr("hw_port = 3 -  capability = 0x1 ")));
    // The capability phase is over: the run-time bit of the SyncE port reads back at once.
    ASSERT_EQ(ehsl_pmap_synce_cap_set(3, 8), 0);
    int cap = 0;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(3, &cap), 0);
    EXPECT_EQ(cap, 8);
}

// The second link serves the copper port 2 on this board: it is not set up, yet its
// registers are initialised with those of the (empty) link entry.
TEST_F(SeisTest, SecondLinkOnACopperPortIsNotSetUp) {
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588Seis2));
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    EXPECT_TRUE(
        logged_seis("SEIS: seis_detect_modules - hw_port = 2 is  NOT PMAP_SYNCE_HW_SUPPORT \n", 2));
    EXPECT_TRUE(logged_seis("SEIS: Found module supporting 2 links\n", 2));
    EXPECT_THAT(sim::fpga_writes(),
                ElementsAre(w16(0x30120, 1), w16(0x32000, 0x0000), w16(0x32010, 0x0006),
                            w16(0x3201c, 0x002f), w16(0x32100, 0x0000), w16(0x32110, 0x0000),
                            w16(0x3211c, 0x002f)));
    EXPECT_EQ(seis_handle_enable_port(2), -1);
    EXPECT_EQ(seis_handle_enable_port(3), 0);
}

TEST_F(SeisTest, TwoSyncELinksOnATwoCageBoard) {
    ASSERT_TRUE(sim::load_board_preset("two-sfp"));
    start(sim::kImage1588Seis2);
    EXPECT_EQ(seis_handle_enable_port(2), 0);
    EXPECT_EQ(seis_handle_enable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32100, 0x0001), w16(0x32110, 0x0006),
                                                w16(0x32000, 0x0001), w16(0x32010, 0x0006)));
}

TEST_F(SeisTest, OnlySixBitsCountAsLinks) {
    ASSERT_TRUE(sim::load_board_preset("two-sfp"));
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588Seis2));
    poke16(0x30100, 0x0042);
    ASSERT_EQ(init_seis(), 0);
    EXPECT_TRUE(logged_seis("SEIS: Found module supporting 2 links\n", 2));
    EXPECT_EQ(seis_handle_enable_port(2), 0);
}

TEST_F(SeisTest, TooManyLinksLeavesEveryPortIllegal) {
    poke16(0x30100, 3);
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    const char *too_many =
        "SEIS: ERROR: too many links supported by module supporting 3 links (MAX=2)\n";
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre(too_many, "SEIS: Main process successfully started.\n"));
    EXPECT_TRUE(logged_seis(too_many, 1));
    EXPECT_THAT(log_lines(DBG_EHSL_PMAP_INDEX), IsEmpty());
    EXPECT_EQ(seis_handle_enable_port(3), -1);
    EXPECT_EQ(seis_handle_set_eth_mode(3, 1, 0), -1);
    EXPECT_EQ(seis({"-r"}), "ERROR: No SEIS module in the FPGA.\n");
}

TEST_F(SeisTest, NoSeisBlockStillEndsTheCapabilityPhase) {
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588));
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x30120, 1)));
    int cap = -1;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(1, &cap), 0);  // does not block
    for (int port = -1; port <= 4; ++port) {
        EXPECT_EQ(seis_handle_enable_port(port), -1);
        EXPECT_EQ(seis_handle_disable_port(port), -1);
        EXPECT_EQ(seis_handle_set_eth_mode(port, 0, 1), -1);
    }
}

TEST_F(SeisTest, WarmStartTakesTheLinkStateOver) {
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588Seis));
    poke16(0x32000, 0x0025);
    poke16(0x32010, 0x0003);
    sim::set_reset_type(2);
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x30120, 1)));
    EXPECT_THAT(seis({}),
                HasSubstr("\n 3    yes      QL-FAILED             dnu=0 QL-SEC           -?-\n"));
    clear();
    EXPECT_EQ(seis_handle_enable_port(3), 0);  // already enabled
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    ASSERT_EQ(seis_handle_set_eth_mode(3, 0, 0), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32000, 0x0001), w16(0x32010, 0x0003)));
}

struct EnableCase {
    int master;
    int slave;
    uint32_t cfg;
    uint32_t tdm;
};

class SeisEnable : public SeisTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(SeisEnable, ProgramsTheLinkForItsRole) {
    start(sim::kImage1588Seis);
    ASSERT_EQ(seis_handle_set_eth_mode(3, GetParam().master, GetParam().slave), 0);
    clear();
    ASSERT_EQ(seis_handle_enable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(),
                ElementsAre(w16(0x32000, GetParam().cfg), w16(0x32010, GetParam().tdm)));
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre("SEIS: seis_handle_enable_port() SSM_ENABLE_PORT(3)\n"));
    clear();
    ASSERT_EQ(seis_handle_enable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    ASSERT_EQ(seis_handle_disable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32000, 0x0000), w16(0x32010, 0x0006)));
    clear();
    ASSERT_EQ(seis_handle_disable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre("SEIS: seis_handle_disable_port() SSM_DISABLE_PORT(3)\n"));
}

INSTANTIATE_TEST_SUITE_P(Roles, SeisEnable,
                         ::testing::Values(EnableCase{1, 0, 0x0005, 0x000f},
                                           EnableCase{0, 7, 0x0021, 0x0006},
                                           EnableCase{0, 0, 0x0001, 0x0006}));

struct RoleCase {
    int master;
    int slave;
    uint32_t before;
    uint32_t after;
    uint32_t tdm;
    const char *name;
};

class SeisRole : public SeisTest, public ::testing::WithParamInterface<RoleCase> {};

TEST_P(SeisRole, ChangesOnlyTheRoleBits) {
    start(sim::kImage1588Seis);
    const RoleCase &c = GetParam();
    poke16(0x32000, c.before);
    ASSERT_EQ(seis_handle_set_eth_mode(3, c.master, c.slave), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32000, c.after), w16(0x32010, c.tdm)));
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre(std::string("SEIS: seis_handle_set_eth_mode() SSM_SET_ETH_MODE(3, ") +
                            c.name + ")\n"));
}

INSTANTIATE_TEST_SUITE_P(Roles, SeisRole,
                         ::testing::Values(RoleCase{1, 0, 0x0021, 0x0005, 0x000f, "Master"},
                                           RoleCase{0, 1, 0x0005, 0x0021, 0x0006, "Slave"},
                                           RoleCase{0, 0, 0x00a5, 0x0081, 0x0006,
                                                    "Bidirectional"}));

TEST_F(SeisTest, BothRolesAreRefused) {
    start(sim::kImage1588Seis);
    ASSERT_EQ(seis_handle_set_eth_mode(3, 1, 0), 0);
    clear();
    EXPECT_EQ(seis_handle_set_eth_mode(3, 1, 1), -1);
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre("SEIS: seis_handle_set_eth_mode() SSM_SET_ETH_MODE(3, <illegal>)\n",
                            "SEIS: seis_handle_set_eth_mode() ERROR: SSM_SET_ETH_MODE: illegal "
                            "PHY mode (both Master and Slave set) for hardware port 3\n"));
    EXPECT_THAT(seis({}), HasSubstr("Master\n"));
}

TEST_F(SeisTest, IllegalPortsAreReportedByEveryHandler) {
    start(sim::kImage1588Seis);
    EXPECT_EQ(seis_handle_enable_port(4), -1);
    EXPECT_EQ(seis_handle_disable_port(-1), -1);
    EXPECT_EQ(seis_handle_set_eth_mode(1, 0, 0), -1);
    sim::raise_port_link_event(2, true, 100);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    for (const char *line :
         {"seis_handle_enable_port() ERROR: SSM_ENABLE_PORT: illegal hardware port 4\n",
          "seis_handle_disable_port() ERROR: SSM_DISABLE_PORT: illegal hardware port -1\n",
          "seis_handle_set_eth_mode() ERROR: SSM_SET_ETH_MODE: illegal hardware port 1\n",
          "seis_handle_link_up() ERROR: SSM_LINK_UP: illegal hardware port 2\n"}) {
        EXPECT_TRUE(logged_seis(std::string("SEIS: ") + line, 1)) << line;
    }
}

TEST_F(SeisTest, CageLinkEventsReachLinkZero) {
    start(sim::kImage1588Seis);
    sim::set_link_connected(false);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x0033c, 0)));
    clear();
    sim::set_link_connected(true);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x3200c, 1), w16(0x0033c, 1)));
    EXPECT_THAT(log_lines(DBG_SEIS_INDEX),
                ElementsAre("SEIS: seis_handle_link_up() SSM_LINK_UP(3)\n"));
}

TEST_F(SeisTest, LinkOneGetsOnlyItsLinkUpRegister) {
    ASSERT_TRUE(sim::load_board_preset("two-sfp"));
    start(sim::kImage1588Seis2);
    sim::raise_port_link_event(2, false, 0);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    sim::raise_port_link_event(2, true, 1000);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x3210c, 1)));
}

}  // namespace
}  // namespace bsp::test
