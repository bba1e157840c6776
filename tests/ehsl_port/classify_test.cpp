// Port classification, raw PHY access, the start of the port layer and the operations that
// touch no hardware.
#include <linux/mii.h>

#include "port_fixture.h"

namespace {

using bsp::test::kSfpPort;
using bsp::test::port_log;
using bsp::test::PortTest;
using Texts = std::vector<std::string>;

TEST_F(PortTest, InitStartsTheDriverAndPublishesTheStub) {
    bsp::sim::reset_unit();
    EXPECT_EQ(sfp_port_hw_status(kSfpPort), SFP_NOT_INIT);
    ehsl_port_init();
    EXPECT_EQ(port_log(), (Texts{"1:[KVU7B] ehsl_port_kvu: init eth ports\n",
                                 "1:[KVU7B] ehsl_port_kvu: calling eth_ctrl_emac_sfp_init\n"}));
    ASSERT_NE(kvu_info, nullptr);
    EXPECT_EQ(kvu_info->speed_value[0], 1000);
    EXPECT_EQ(kvu_info->oper_status[1], 2);
    EXPECT_EQ(kvu_info->autoneg_value[2], 0);
    const kvu_stub *first = kvu_info;
    ehsl_port_init();
    EXPECT_EQ(kvu_info, first);
    EXPECT_EQ(bsp::sim::eth_driver_init_calls(), 2u);
}

TEST_F(PortTest, NotInitialisedMonitorMakesThePortEmpty) {
    bsp::sim::reset_unit();  // the driver has not been started
    int v = 0;
    EXPECT_EQ(ehsl_port_phy_get(kSfpPort, MII_BMCR, &v), -2);
}

class IllegalPort : public PortTest, public ::testing::WithParamInterface<int> {};

TEST_P(IllegalPort, OutOfRangePortsAreRefusedWithTheMessage) {
    const int p = GetParam();
    int v = 0;
    EXPECT_EQ(ehsl_port_phy_get(p, MII_BMCR, &v), -1);
    EXPECT_EQ(ehsl_port_phy_set(p, MII_BMCR, 0), -1);
    EXPECT_EQ(sfp_port_hw_status(p), SFP_NO_SFP);
    const std::string m = "2:[KVU7B] EHSL_PORT_E: Illegal port number: " + std::to_string(p) + "\n";
    EXPECT_EQ(port_log(), (Texts{m, m}));
    EXPECT_TRUE(bsp::sim::eth_calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Ports, IllegalPort, ::testing::Values(0, -1, 4));

TEST_F(PortTest, PortWithAPhyAddressIsRefusedSilently) {
    int v = 0;
    EXPECT_EQ(ehsl_port_phy_get(1, MII_BMCR, &v), -1);
    EXPECT_EQ(ehsl_port_speed_set(2, 100), -1);
    EXPECT_EQ(sfp_port_hw_status(1), SFP_NO_SFP);
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7B] EHSL_PORT: ehsl_port_speed_set(2, 100)\n"}));
}

TEST_F(PortTest, BoardWithMoreLanPortsThanEntriesNeverReadsPastTheTable) {
    kvu_hal_board_t b = bsp::sim::default_board();
    b.lan_ports = 5;
    bsp::sim::set_board(b);
    int v = 0;
    EXPECT_EQ(ehsl_port_phy_get(5, MII_BMCR, &v), -1);
    EXPECT_EQ(sfp_port_hw_status(4), SFP_NO_SFP);
}

// Every classified operation gives -2 for a cage without a usable module.
TEST_F(PortTest, EmptyCageGivesMinusTwoEverywhere) {
    for (sfp_hw_t t : {SFP_NO_SFP, SFP_ERROR}) {
        if (t == SFP_NO_SFP) {
            bsp::sim::pull_sfp();
        } else {
            bsp::sim::plug_sfp(t);
        }
        int v = 0;
        int w = 0;
        ehsl_port_cfg_t cfg = EHSL_PORT_CONFIG_FD;
        ehsl_port_mdix_t mdix = EHSL_PORT_MDIX_AUTO;
        ehsl_port_speed_t st = EHSL_PORT_SPEED_FD;
        unsigned char speeds[4];
        EXPECT_EQ(ehsl_port_phy_get(kSfpPort, 0, &v), -2);
        EXPECT_EQ(ehsl_port_phy_set(kSfpPort, 0, 0), -2);
        EXPECT_EQ(ehsl_port_speed_get(kSfpPort, &v), -2);
        EXPECT_EQ(ehsl_port_speed_set(kSfpPort, 1000), -2);
        EXPECT_EQ(ehsl_port_adminstatus_get(kSfpPort, &v), -2);
        EXPECT_EQ(ehsl_port_link_status_get(kSfpPort, &v), -2);
        EXPECT_EQ(ehsl_port_duplex_get(kSfpPort, &cfg), -2);
        EXPECT_EQ(ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_FD), -2);
        EXPECT_EQ(ehsl_port_mdix_get(kSfpPort, &mdix), -2);
        EXPECT_EQ(ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_NORMAL), -2);
        EXPECT_EQ(ehsl_port_autoneg_get(kSfpPort, &v), -2);
        EXPECT_EQ(ehsl_port_autoneg_set(kSfpPort, 0), -2);
        EXPECT_EQ(ehsl_port_llf_get(kSfpPort, &v), -2);
        EXPECT_EQ(ehsl_port_llf_set(kSfpPort, 1), -2);
        EXPECT_EQ(ehsl_port_master_set(kSfpPort, 2), -2);
        EXPECT_EQ(ehsl_port_pause_set(kSfpPort, 1, 1), -2);
        EXPECT_EQ(ehsl_port_pause_get(kSfpPort, &v, &w), -2);
        EXPECT_EQ(ehsl_port_adminstatus_set(kSfpPort, 1), -2);
        EXPECT_EQ(ehsl_port_config_get(kSfpPort, &v, &cfg, &cfg), -1);  // autoneg unreadable
        EXPECT_EQ(ehsl_port_speed_status_get(kSfpPort, &st), -1);
        EXPECT_EQ(ehsl_port_supported_speeds_get(kSfpPort, speeds, 4), -2);
        EXPECT_FALSE(bsp::sim::eth_driver_locked());
    }
    EXPECT_TRUE(bsp::test::driver_writes().empty());
}

TEST_F(PortTest, PhyGetLogsTheValueRead) {
    int v = 0;
    ASSERT_EQ(ehsl_port_phy_get(kSfpPort, MII_ADVERTISE, &v), 0);
    EXPECT_EQ(v, 0x01E1);
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7B] EHSL PHY READ: Port 3: Reg:04: Val:01e1\n"}));
    EXPECT_EQ(ehsl_port_phy_get(kSfpPort, MII_ADVERTISE, nullptr), -1);
}

TEST_F(PortTest, PhySetWritesOnlyTheLow16Bits) {
    ASSERT_EQ(ehsl_port_phy_set(kSfpPort, MII_ADVERTISE, 0x7A0DE1), 0);
    EXPECT_EQ(bsp::sim::eth_calls(), (Texts{"mdio_write(0,4,0x0de1)=0"}));
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7A] EHSL PHY WRITE: Port 3: Reg:04: Val:7a0de1\n"}));
}

TEST_F(PortTest, FailedMdioReadIsPassedOnNotTakenAsContent) {
    bsp::sim::inject_eth_fault({"mdio_read", MII_ADVERTISE, -5, 1});
    int v = 7;
    EXPECT_EQ(ehsl_port_phy_get(kSfpPort, MII_ADVERTISE, &v), -5);
    EXPECT_EQ(v, 7);
}

TEST_F(PortTest, LinkThatDroppedAndCameBackReadsUpOnTheSecondRead) {
    int v = 0;
    ASSERT_EQ(ehsl_port_link_status_get(kSfpPort, &v), 0);
    bsp::sim::clear_eth_calls();
    bsp::sim::set_link_connected(false);
    bsp::sim::set_link_connected(true);
    ASSERT_EQ(ehsl_port_link_status_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(bsp::sim::eth_calls(), (Texts{"mdio_read(0,1)=0x7929", "mdio_read(0,1)=0x792d"}));
}

TEST_F(PortTest, LinkDownOnCopperAndFibre) {
    bsp::sim::set_link_connected(false);
    int v = 9;
    ASSERT_EQ(ehsl_port_link_status_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, 0);
    bsp::sim::plug_sfp(SFP_FIBER);
    ASSERT_EQ(ehsl_port_oper_status_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, 0);
    bsp::sim::set_link_connected(true);
    ASSERT_EQ(ehsl_port_oper_status_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(port_log().back(), "2:[KVU7B] EHSL_PORT_KVU: ehsl_port_link_status_get ...\n");
}

TEST_F(PortTest, OperStatusSetWritesOnlyInsideTheStub) {
    EXPECT_EQ(ehsl_port_oper_status_set(1, 7), 0);
    EXPECT_EQ(kvu_info->oper_status[1], 7);
    EXPECT_EQ(ehsl_port_oper_status_set(3, 5), -1);
    EXPECT_EQ(ehsl_port_oper_status_set(-1, 5), -1);
    EXPECT_EQ(kvu_info->adminstatus[0], 2);  // the next field is untouched
    EXPECT_TRUE(bsp::sim::eth_calls().empty());
}

TEST(PortBeforeInit, OperStatusSetFailsWithoutTheStub) {
    if (kvu_info != nullptr) {
        GTEST_SKIP() << "the port layer was started earlier in this process";
    }
    EXPECT_EQ(ehsl_port_oper_status_set(1, 1), -1);
}

TEST_F(PortTest, FixedAnswers) {
    int v = 0;
    unsigned int counter[2] = {5, 5};
    unsigned int res = 5;
    EXPECT_EQ(ehsl_port_mtu_get(kSfpPort, &v), 0);
    EXPECT_EQ(v, 1544);
    EXPECT_EQ(ehsl_port_mtu_set(kSfpPort, 9000), 0);
    EXPECT_EQ(ehsl_port_mtu_get(1, &v), 0);
    EXPECT_EQ(v, 1544);
    EXPECT_EQ(ehsl_port_untagged_priority_get(kSfpPort, &v), -1);
    EXPECT_EQ(ehsl_port_untagged_priority_set(kSfpPort, 3), -1);
    EXPECT_EQ(ehsl_es_stat_ifTable(kSfpPort, counter, 2, &res), 0);
    EXPECT_EQ(counter[0], 0u);
    EXPECT_EQ(counter[1], 5u);
    EXPECT_EQ(res, 0u);
    EXPECT_EQ(ehsl_es_stat_ifXTable(kSfpPort, counter + 1, 1, &res), 0);
    EXPECT_EQ(counter[1], 0u);
    EXPECT_EQ(ehsl_es_stat_clear_statistics(kSfpPort), 0);
    EXPECT_EQ(ehsl_port_stat_clear_all(), 0);
    EXPECT_EQ(ehsl_port_sync_enable_set(kSfpPort, 1, 0), 0);
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7B] EHSL SYNC ENABLE SET: port 3: enable 1\n"}));
}

}  // namespace
