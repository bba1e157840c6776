// Port attributes on copper and fibre modules: messages, results and driver calls.
#include <linux/mii.h>

#include "port_fixture.h"

namespace {

using bsp::test::driver_writes;
using bsp::test::kSfpPort;
using bsp::test::make_partner;
using bsp::test::port_log;
using bsp::test::PortTest;
using Texts = std::vector<std::string>;

TEST_F(PortTest, SpeedGetOnCopperAsksTheDriverAfterTheLinkTest) {
    int speed = 0;
    ASSERT_EQ(ehsl_port_speed_get(kSfpPort, &speed), 0);
    EXPECT_EQ(speed, 1000);
    // The first status read after power-on shows the latched link loss.
    EXPECT_EQ(bsp::sim::eth_calls(),
              (Texts{"mdio_read(0,1)=0x7929", "mdio_read(0,1)=0x792d", "speed_get(3)=0"}));
    const Texts log = port_log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0], "1:[KVU7B] EHSL_PORT: ehsl_port_speed_get(port 3, *)\n");
    EXPECT_EQ(log[3], "2:[KVU7B] EHSL_PORT_KVU: ehsl_port_link_status_get ...\n");
    EXPECT_EQ(log[4], "1:[KVU7B] EHSL_PORT_KVU: ehsl_port_speed_get ...\n");
    EXPECT_EQ(log[5], "1:[KVU7B] EHSL_PORT: ehsl_port_speed_get(port 3, 1000)\n");
}

TEST_F(PortTest, SpeedGetFollowsTheResolvedLink) {
    bsp::sim::set_link_partner(make_partner(true, 0x05E1, 0));  // a 100 Mbit/s partner
    int speed = 0;
    ASSERT_EQ(ehsl_port_speed_get(kSfpPort, &speed), 0);
    EXPECT_EQ(speed, 100);
}

TEST_F(PortTest, SpeedGetWithTheLinkDownIsZeroWithoutClosingMessage) {
    for (sfp_hw_t t : {SFP_COPPER, SFP_FIBER}) {
        bsp::sim::plug_sfp(t);
        bsp::sim::set_link_connected(false);
        bsp::sim::clear_log();
        int speed = 77;
        ASSERT_EQ(ehsl_port_speed_get(kSfpPort, &speed), 0);
        EXPECT_EQ(speed, 0);
        const Texts log = port_log();
        EXPECT_EQ(log.front(), "1:[KVU7B] EHSL_PORT: ehsl_port_speed_get(port 3, *)\n");
        EXPECT_EQ(log.back(), "2:[KVU7B] EHSL_PORT_KVU: ehsl_port_link_status_get ...\n");
        bsp::sim::set_link_connected(true);
    }
}

// A fibre module has no PHY: fixed answers, and only the link test reaches the driver.
TEST_F(PortTest, FibreModuleGivesFixedAnswersWithoutPhyAccess) {
    bsp::sim::plug_sfp(SFP_FIBER);
    int v = 0;
    ASSERT_EQ(ehsl_port_speed_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, 1000);
    EXPECT_EQ(bsp::sim::eth_calls(), (Texts{"get_operstatus(3)=0"}));
    bsp::sim::clear_eth_calls();
    EXPECT_EQ(ehsl_port_speed_set(kSfpPort, 1000), 0);
    EXPECT_EQ(ehsl_port_speed_set(kSfpPort, 100), -1);
    EXPECT_EQ(ehsl_port_master_set(kSfpPort, 2), 0);
    v = 5;
    EXPECT_EQ(ehsl_port_phy_get(kSfpPort, 1, &v), -2);
    EXPECT_EQ(ehsl_port_phy_set(kSfpPort, 1, 0), -2);
    EXPECT_EQ(v, 5);
    EXPECT_TRUE(bsp::sim::eth_calls().empty());
    v = -1;
    ASSERT_EQ(ehsl_port_adminstatus_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, -1);  // the caller's value stays
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
    ehsl_port_cfg_t speed = EHSL_PORT_CONFIG_FD;
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_HD;
    ASSERT_EQ(ehsl_port_config_get(kSfpPort, &v, &speed, &duplex), 0);
    EXPECT_EQ(speed, EHSL_PORT_CONFIG_1000FD);
    EXPECT_EQ(duplex, EHSL_PORT_CONFIG_FD);
}

TEST_F(PortTest, SpeedGetPassesOnADriverFailure) {
    bsp::sim::inject_eth_fault({"speed_get", -1, -7, 1});
    int speed = 0;
    EXPECT_EQ(ehsl_port_speed_get(kSfpPort, &speed), -7);
}

TEST_F(PortTest, SpeedSetOnCopperPassesOnTheDriverResult) {
    EXPECT_EQ(ehsl_port_speed_set(kSfpPort, 100), 0);
    bsp::sim::inject_eth_fault({"speed_set", -1, 3, 1});
    EXPECT_EQ(ehsl_port_speed_set(kSfpPort, 10), 3);  // non-zero is a failure here
    EXPECT_EQ(driver_writes(), (Texts{"speed_set(3,100)=0", "speed_set(3,10)=3"}));
}

TEST_F(PortTest, AdminStatusReadsPowerDownAndIsolate) {
    int status = -1;
    ASSERT_EQ(ehsl_port_adminstatus_get(kSfpPort, &status), 0);
    EXPECT_EQ(status, 1);
    bsp::sim::phy_poke(MII_BMCR, BMCR_ANENABLE | BMCR_PDOWN);
    ASSERT_EQ(ehsl_port_adminstatus_get(kSfpPort, &status), 0);
    EXPECT_EQ(status, 1);  // both bits make it down
    bsp::sim::phy_poke(MII_BMCR, BMCR_ANENABLE | BMCR_PDOWN | BMCR_ISOLATE);
    bsp::sim::clear_log();
    ASSERT_EQ(ehsl_port_adminstatus_get(kSfpPort, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(port_log(), (Texts{"1:[KVU7A] EHSL_PORT: ehsl_port_adminstatus_get(port 3, *)\n",
                                 "2:[KVU7B] EHSL PHY READ: Port 3: Reg:00: Val:1c00\n",
                                 "1:[KVU7B] EHSL_PORT: ehsl_port_adminstatus_get(port 3, 0)\n",
                                 "1:[KVU7B] EHSL_PORT_KVU: ehsl_port_adminstatus_get ...\n"}));
}

TEST_F(PortTest, DuplexGetOnCopperAndFibre) {
    ehsl_port_cfg_t d = EHSL_PORT_CONFIG_AUTODETECT;
    ASSERT_EQ(ehsl_port_duplex_get(kSfpPort, &d), 0);
    EXPECT_EQ(d, EHSL_PORT_CONFIG_FD);
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7A] EHSL_PORT: ehsl_port_duplex_get(3, *)\n",
                                 "2:[KVU7A] EHSL_PORT: ehsl_port_duplex_get(3, 10)\n"}));
    // A partner forced to 100 Mbit/s, found by parallel detection: half duplex.
    bsp::sim::set_link_partner(make_partner(false, 0x05E1, 0x0300, 100));
    ASSERT_EQ(ehsl_port_duplex_get(kSfpPort, &d), 0);
    EXPECT_EQ(d, EHSL_PORT_CONFIG_HD);
    bsp::sim::plug_sfp(SFP_FIBER);
    ASSERT_EQ(ehsl_port_duplex_get(kSfpPort, &d), 0);
    EXPECT_EQ(d, EHSL_PORT_CONFIG_FD);
}

TEST_F(PortTest, DuplexSetWritesOnlyAChange) {
    stop_autoneg();
    EXPECT_EQ(ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_FD), 0);
    EXPECT_EQ(ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_HD), 0);
    EXPECT_EQ(bsp::sim::eth_calls(),
              (Texts{"duplex_get(3)=0", "duplex_get(3)=0", "duplex_set(3,11)=0"}));
    EXPECT_EQ(bsp::sim::phy_peek(MII_BMCR) & BMCR_FULLDPLX, 0);
}

TEST_F(PortTest, MdixOnCopperAndFibre) {
    ehsl_port_mdix_t m = EHSL_PORT_MDIX_XOVER;
    ASSERT_EQ(ehsl_port_mdix_get(kSfpPort, &m), 0);
    EXPECT_EQ(m, EHSL_PORT_MDIX_AUTO);
    EXPECT_EQ(ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_AUTO), 0);
    EXPECT_EQ(ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_XOVER), 0);
    EXPECT_EQ(driver_writes(), (Texts{"mdix_set(3,2)=0"}));
    EXPECT_EQ(bsp::sim::eth_mdix_mode(), 2);
    bsp::sim::plug_sfp(SFP_FIBER);
    ASSERT_EQ(ehsl_port_mdix_get(kSfpPort, &m), 0);
    EXPECT_EQ(m, EHSL_PORT_MDIX_AUTO);
    EXPECT_EQ(ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_NORMAL), 0);
    EXPECT_EQ(ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_AUTO), -1);
}

TEST_F(PortTest, AutonegSetCallsNoDriverWhenAlreadyInForce) {
    EXPECT_EQ(ehsl_port_autoneg_set(kSfpPort, 1), 0);
    EXPECT_EQ(bsp::sim::eth_calls(), (Texts{"autoneg_get()=0"}));
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7A] EHSL_PORT: ehsl_port_autoneg_set(3, 1)\n",
                                 "2:[KVU7B] EHSL_PORT: ehsl_port_autoneg_get(port 3, *)\n",
                                 "2:[KVU7B] EHSL_PORT: ehsl_port_autoneg_get(port 3, 1)\n"}));
    EXPECT_EQ(ehsl_port_autoneg_set(kSfpPort, 0), 0);
    EXPECT_EQ(driver_writes(), (Texts{"autoneg_set(2)=0"}));
    int an = 5;
    ASSERT_EQ(ehsl_port_autoneg_get(kSfpPort, &an), 0);
    EXPECT_EQ(an, 0);
    EXPECT_EQ(ehsl_port_autoneg_set(kSfpPort, 9), 0);
    EXPECT_EQ(driver_writes().back(), "autoneg_set(1)=0");
}

TEST_F(PortTest, LinkLossForwardingGoesToTheDriverForBothModules) {
    EXPECT_EQ(ehsl_port_llf_set(kSfpPort, 1), 0);
    bsp::sim::plug_sfp(SFP_FIBER);
    int s = 0;
    ASSERT_EQ(ehsl_port_llf_get(kSfpPort, &s), 0);
    EXPECT_EQ(s, 1);
    bsp::sim::inject_eth_fault({"llf_get", -1, 4, 1});
    EXPECT_EQ(ehsl_port_llf_get(kSfpPort, &s), 4);
    EXPECT_EQ(port_log().back(), "2:[KVU7A] EHSL_PORT: ehsl_port_llf_get(port 3, *)\n");
}

TEST_F(PortTest, NullOutPointersAreRefused) {
    EXPECT_EQ(ehsl_port_speed_get(kSfpPort, nullptr), -1);
    EXPECT_EQ(ehsl_port_link_status_get(kSfpPort, nullptr), -1);
    EXPECT_EQ(ehsl_port_duplex_get(kSfpPort, nullptr), -1);
    EXPECT_EQ(ehsl_port_autoneg_get(kSfpPort, nullptr), -1);
    EXPECT_EQ(ehsl_port_config_get(kSfpPort, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(ehsl_port_supported_speeds_get(kSfpPort, nullptr, 4), -1);
    EXPECT_TRUE(bsp::sim::eth_calls().empty());
}

}  // namespace
