// Configuration, advertisement, master/slave and speed status: the exact PHY register and
// driver sequences of every configuration, and what a real link partner makes of them.
#include <linux/mii.h>

#include "port_fixture.h"

namespace {

using bsp::test::driver_writes;
using bsp::test::kSfpPort;
using bsp::test::make_partner;
using bsp::test::port_log;
using bsp::test::PortTest;
using Texts = std::vector<std::string>;

struct ConfigCase {
    const char *name;
    int config;
    int result;
    Texts writes;
};

// Autonegotiation on, starting from the power-on advertisement (which reads as AUTODETECT).
class ConfigAutonegOn : public PortTest, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigAutonegOn, WritesTheAdvertisementAndRestarts) {
    const ConfigCase &c = GetParam();
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, static_cast<ehsl_port_cfg_t>(c.config)), c.result);
    EXPECT_EQ(driver_writes(), c.writes);
}

const std::string kRestart = "mdio_write(0,0,0x1340)=0";

const std::string kAdv1000 = "mdio_write(0,4,0x0001)=0";
const std::string kNo1000 = "mdio_write(0,9,0x0000)=0";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, ConfigAutonegOn, ::testing::Values(
    ConfigCase{"Autodetect", 1, 0, {}},
    ConfigCase{"Master1000", 2, 0, {kAdv1000, "mdio_write(0,9,0x1a00)=0", kRestart}},
    ConfigCase{"Slave1000", 3, 0, {kAdv1000, "mdio_write(0,9,0x1200)=0", kRestart}},
    ConfigCase{"Full1000", 4, 0, {kAdv1000, kRestart}},
    ConfigCase{"Half1000", 5, 0, {kAdv1000, "mdio_write(0,9,0x0100)=0", kRestart}},
    ConfigCase{"Full100", 6, 0, {"mdio_write(0,4,0x0101)=0", kNo1000, kRestart}},
    ConfigCase{"Half100", 7, 0, {"mdio_write(0,4,0x0081)=0", kNo1000, kRestart}},
    ConfigCase{"Full10", 8, 0, {"mdio_write(0,4,0x0041)=0", kNo1000, kRestart}},
    ConfigCase{"Half10", 9, 0, {"mdio_write(0,4,0x0021)=0", kNo1000, kRestart}},
    ConfigCase{"DuplexValueFD", 10, 0, {kAdv1000, kRestart}},
    ConfigCase{"OutOfRange", 42, 0, {kAdv1000, kRestart}}),
    bsp::test::RowName());
// clang-format on

// Autonegotiation off, starting from forced 1000 Mbit/s full duplex, automatic master/slave.
class ConfigAutonegOff : public PortTest, public ::testing::WithParamInterface<ConfigCase> {
  protected:
    void SetUp() override {
        PortTest::SetUp();
        stop_autoneg();
    }
};

TEST_P(ConfigAutonegOff, ForcesSpeedMasterAndDuplexInThatOrder) {
    const ConfigCase &c = GetParam();
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, static_cast<ehsl_port_cfg_t>(c.config)), c.result);
    EXPECT_EQ(driver_writes(), c.writes);
    if (c.result != 0) {
        EXPECT_EQ(port_log().back(),
                  "1:[KVU7A] EHSL_PORT_E:ehsl_port_config_set: Unknown Config type " +
                      std::to_string(c.config) + "\n");
    }
}

const std::string kHalf = "duplex_set(3,11)=0";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, ConfigAutonegOff, ::testing::Values(
    ConfigCase{"Autodetect", 1, 0, {"mdio_write(0,4,0x0141)=0", "speed_set(3,0)=0"}},
    ConfigCase{"Master1000", 2, 0, {kAdv1000, "mdio_write(0,9,0x1a00)=0", "master_set(3,2)=0"}},
    ConfigCase{"Slave1000", 3, 0, {kAdv1000, "mdio_write(0,9,0x1200)=0", "master_set(3,1)=0"}},
    ConfigCase{"Full1000", 4, 0, {kAdv1000}},
    ConfigCase{"Full100", 6, 0, {"mdio_write(0,4,0x0101)=0", kNo1000, "speed_set(3,100)=0"}},
    ConfigCase{"Half100", 7, 0, {"mdio_write(0,4,0x0081)=0", kNo1000, "speed_set(3,100)=0", kHalf}},
    ConfigCase{"Full10", 8, 0, {"mdio_write(0,4,0x0041)=0", kNo1000, "speed_set(3,10)=0"}},
    ConfigCase{"Half10", 9, 0, {"mdio_write(0,4,0x0021)=0", kNo1000, "speed_set(3,10)=0", kHalf}},
    ConfigCase{"Half1000Refused", 5, -1, {}},
    ConfigCase{"DuplexFDRefused", 10, -1, {}},
    ConfigCase{"DuplexHDRefused", 11, -1, {}},
    ConfigCase{"ZeroRefused", 0, -1, {}}),
    bsp::test::RowName());
// clang-format on

TEST_F(PortTest, FullSequenceOfAnAdvertisementChange) {
    ASSERT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_100FD), 0);
    EXPECT_EQ(
        bsp::sim::eth_calls(),
        (Texts{
            // the current configuration
            "autoneg_get()=0", "duplex_get(3)=0", "mdio_read(0,4)=0x01e1", "mdio_read(0,9)=0x0200",
            // master mode, then the advertisement compared with the request
            "mdio_read(0,9)=0x0200", "mdio_read(0,4)=0x01e1", "mdio_read(0,9)=0x0200",
            // the new advertisement and the restart
            "mdio_read(0,9)=0x0200", "mdio_read(0,4)=0x01e1", "mdio_write(0,4,0x0101)=0",
            "mdio_write(0,9,0x0000)=0", "mdio_read(0,0)=0x1140", "mdio_write(0,0,0x1340)=0"}));
    EXPECT_EQ(bsp::sim::link_state().speed, 100);
}

TEST_F(PortTest, AutodetectWithAutonegOffAsksForAutomaticMasterWhenItDiffers) {
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_master_set(kSfpPort, 2), 0);
    bsp::sim::clear_eth_calls();
    bsp::sim::clear_log();
    ASSERT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_AUTODETECT), 0);
    EXPECT_EQ(driver_writes(), (Texts{"mdio_write(0,4,0x0141)=0", "mdio_write(0,9,0x0200)=0",
                                      "speed_set(3,0)=0", "master_set(3,3)=0"}));
    EXPECT_TRUE(
        bsp::test::port_logged("1:[KVU7A] EHSL_PORT_E:(3) ehsl_port_config_set: "
                               "autodetect not allowed when autoneg is off\n"));
}

TEST_F(PortTest, ForcedSequenceStopsAtTheFirstFailure) {
    stop_autoneg();
    bsp::sim::inject_eth_fault({"master_set", -1, -9, 1});
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_1000FD_SLAVE), -1);
    EXPECT_EQ(driver_writes(), (Texts{"mdio_write(0,4,0x0001)=0", "mdio_write(0,9,0x1200)=0",
                                      "master_set(3,1)=-9"}));
    EXPECT_EQ(port_log().back(), "1:[KVU7B] EHSL_PORT_E: Couldn't set master/slave on port 3\n");
    bsp::sim::inject_eth_fault({"speed_set", -1, -4, 1});
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_10HD), -1);
    EXPECT_EQ(port_log().back(), "1:[KVU7B] EHSL_PORT_E: Couldn't set speed on port 3\n");
    EXPECT_EQ(driver_writes().back(), "speed_set(3,10)=-4");  // duplex was not touched
}

TEST_F(PortTest, ConfigSetFailsWhenTheMasterModeCannotBeRead) {
    bsp::sim::inject_eth_fault({"mdio_read", MII_CTRL1000, -6, 2});  // the master mode read
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_10HD), -1);
    EXPECT_EQ(port_log().back(), "1:[KVU7A] EHSL_PORT_E: Couldn't read master mode on port 3\n");
    EXPECT_TRUE(driver_writes().empty());
}

TEST_F(PortTest, AdvertisementOf1000HalfIsWrittenButNotRecognised) {
    ASSERT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_1000HD), 0);
    bsp::sim::clear_log();
    int an = 0;
    auto speed = static_cast<ehsl_port_cfg_t>(1);
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_HD;
    ASSERT_EQ(ehsl_port_config_get(kSfpPort, &an, &speed, &duplex), 0);
    EXPECT_EQ(an, 1);
    EXPECT_EQ(speed, 1);  // left as it was
    EXPECT_TRUE(bsp::test::port_logged(
        "1:[KVU7A] EHSL_PORT_E:ehsl_port_advert_get: Unrecognized ability setting\n"));
    EXPECT_EQ(bsp::sim::link_state().speed, 1000);
    EXPECT_FALSE(bsp::sim::link_state().full_duplex);
}

TEST_F(PortTest, ConfigGetReadsTheForcedStateAndTheDriverDuplex) {
    stop_autoneg();
    ASSERT_EQ(eth_ctrl_emac_sfp_speed_set(kSfpPort, 100), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_duplex_set(kSfpPort, EHSL_PORT_CONFIG_HD), 0);
    bsp::sim::clear_log();
    int an = 1;
    ehsl_port_cfg_t speed = EHSL_PORT_CONFIG_FD;
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_FD;
    ASSERT_EQ(ehsl_port_config_get(kSfpPort, &an, &speed, &duplex), 0);
    EXPECT_EQ(an, 0);
    EXPECT_EQ(speed, EHSL_PORT_CONFIG_100HD);
    EXPECT_EQ(duplex, EHSL_PORT_CONFIG_HD);
    EXPECT_EQ(
        port_log().back(),
        "2:[KVU7B] EHSL_PORT: ehsl_port_config_get(port 3, autoneg: 0, speed: 7, duplex: 11)\n");
}

TEST_F(PortTest, ForcedMaster1000ReadsBackAsMasterEverywhere) {
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_master_set(kSfpPort, 2), 0);
    EXPECT_EQ(bsp::sim::phy_peek(MII_CTRL1000) & 0x1800, 0x1800);
    int an = 1;
    ehsl_port_cfg_t speed = EHSL_PORT_CONFIG_FD;
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_HD;
    ASSERT_EQ(ehsl_port_config_get(kSfpPort, &an, &speed, &duplex), 0);
    EXPECT_EQ(speed, EHSL_PORT_CONFIG_1000FD_MASTER);
    ehsl_port_speed_t status = EHSL_PORT_SPEED_FD;
    ASSERT_EQ(ehsl_port_speed_status_get(kSfpPort, &status), 0);
    EXPECT_EQ(status, EHSL_PORT_SPEED_1000FD_MASTER);
    EXPECT_EQ(port_log().back(), "2:[KVU7A] EHSL_PORT: ehsl_port_speed_status_get(port 3, 1)\n");
}

// What the speed status reports as the partner changes, with autonegotiation on.
struct PartnerCase {
    const char *name;
    bsp::sim::LinkPartner partner;
    int result;
    int status;
};

class SpeedStatus : public PortTest, public ::testing::WithParamInterface<PartnerCase> {};

TEST_P(SpeedStatus, ReportsWhatTheLinkResolvedTo) {
    const PartnerCase &c = GetParam();
    bsp::sim::set_link_partner(c.partner);
    ehsl_port_speed_t status = static_cast<ehsl_port_speed_t>(0);
    EXPECT_EQ(ehsl_port_speed_status_get(kSfpPort, &status), c.result);
    if (c.result == 0) {
        EXPECT_EQ(status, c.status);
    } else {
        EXPECT_EQ(port_log().back(), "1:[KVU7A] EHSL_PORT_E: Unknown speed result on port 3\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Partners, SpeedStatus,
    ::testing::Values(
        PartnerCase{"Gigabit", make_partner(true, 0x05E1, 0x0300), 0, EHSL_PORT_SPEED_1000FD},
        PartnerCase{"FastEthernetFull", make_partner(true, 0x01E1, 0), 0, EHSL_PORT_SPEED_100FD},
        PartnerCase{"TenHalfOnly", make_partner(true, 0x0021, 0), 0, EHSL_PORT_SPEED_10HD},
        PartnerCase{"ForcedPartnerParallelDetect", make_partner(false, 0, 0, 100), 0,
                    EHSL_PORT_SPEED_100HD},
        PartnerCase{"NoCommonAbility", make_partner(true, 0x0001, 0x0100), -1, 0}),
    bsp::test::RowName());

TEST_F(PortTest, MasterSlaveConfigurationFaultLeavesTheLinkDown) {
    bsp::sim::set_link_partner(make_partner(true, 0x05E1, 0x1B00));  // forced master
    ASSERT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_1000FD_MASTER), 0);
    EXPECT_TRUE(bsp::sim::link_state().master_slave_fault);
    ehsl_port_speed_t status = EHSL_PORT_SPEED_FD;
    EXPECT_EQ(ehsl_port_speed_status_get(kSfpPort, &status), -1);
    ASSERT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_1000FD_SLAVE), 0);
    ASSERT_EQ(ehsl_port_speed_status_get(kSfpPort, &status), 0);
    EXPECT_EQ(status, EHSL_PORT_SPEED_1000FD_SLAVE);
}

}  // namespace
