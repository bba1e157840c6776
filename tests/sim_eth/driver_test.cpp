// The MAC/SFP driver's attribute calls, the SFP monitor, faults and link events.
#include <linux/mii.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "support/sim_fixture.h"

namespace {

using bsp::sim::LinkEvent;

class DriverTest : public bsp::test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(eth_ctrl_emac_sfp_init(), 0);
        bsp::sim::clear_eth_calls();
    }
};

TEST_F(DriverTest, MonitorReportsNotInitialisedUntilTheDriverStarts) {
    bsp::sim::reset_unit();
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_NOT_INIT);
    ASSERT_EQ(eth_ctrl_emac_sfp_init(), 0);
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_COPPER);
}

TEST_F(DriverTest, ModulesArePluggedAndPulled) {
    bsp::sim::plug_sfp(SFP_FIBER);
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_FIBER);
    EXPECT_TRUE(bsp::sim::link_state().up);
    bsp::sim::plug_sfp(SFP_ERROR);
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_ERROR);
    EXPECT_FALSE(bsp::sim::link_state().up);
    bsp::sim::pull_sfp();
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_NO_SFP);
    EXPECT_FALSE(bsp::sim::link_state().up);
}

TEST_F(DriverTest, SpeedDuplexAndMasterAreKeptInThePhy) {
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_speed_set(3, 100), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_duplex_set(3, 11), 0);
    EXPECT_EQ(bsp::sim::phy_peek(MII_BMCR), BMCR_SPEED100);
    int speed = 0;
    int duplex = 0;
    ASSERT_EQ(eth_ctrl_emac_sfp_speed_get(3, &speed), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_duplex_get(3, &duplex), 0);
    EXPECT_EQ(speed, 100);
    EXPECT_EQ(duplex, 11);
    ASSERT_EQ(eth_ctrl_emac_sfp_master_set(3, 2), 0);
    EXPECT_EQ(bsp::sim::phy_peek(MII_CTRL1000), 0x1A00);
    ASSERT_EQ(eth_ctrl_emac_sfp_master_set(3, 3), 0);
    EXPECT_EQ(bsp::sim::phy_peek(MII_CTRL1000), 0x0200);
    EXPECT_EQ(eth_ctrl_emac_sfp_master_set(3, 4), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_set(3, 42), -1);
}

TEST_F(DriverTest, AutonegotiationCommandsDriveTheControlRegister) {
    int an = -1;
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_get(&an), 0);
    EXPECT_EQ(an, 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_START), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_get(&an), 0);
    EXPECT_EQ(an, 1);
    EXPECT_EQ(eth_ctrl_emac_sfp_autoneg_set(7), -1);
}

TEST_F(DriverTest, AdminDownPowersThePhyDownAndIsolatesIt) {
    ASSERT_EQ(eth_ctrl_emac_sfp_set_adminstatus(0), 0);
    EXPECT_EQ(bsp::sim::phy_peek(MII_BMCR) & (BMCR_PDOWN | BMCR_ISOLATE),
              BMCR_PDOWN | BMCR_ISOLATE);
    int oper = -1;
    ASSERT_EQ(eth_ctrl_emac_sfp_get_operstatus(3, &oper), 0);
    EXPECT_EQ(oper, 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_set_adminstatus(1), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_get_operstatus(3, &oper), 0);
    EXPECT_EQ(oper, 1);
    EXPECT_EQ(eth_ctrl_emac_sfp_set_adminstatus(5), -1);
}

TEST_F(DriverTest, FibreAdminDownSwitchesTheLaserOff) {
    bsp::sim::plug_sfp(SFP_FIBER);
    ASSERT_EQ(eth_ctrl_emac_sfp_set_adminstatus(2), 0);
    EXPECT_FALSE(bsp::sim::link_state().up);
}

TEST_F(DriverTest, PortsOtherThanTheCageAreRefused) {
    int v = 0;
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_get(1, &v), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdix_set(4, 1), -1);
}

TEST_F(DriverTest, CallsAreLoggedInOrder) {
    eth_ctrl_emac_sfp_mdio_read(0, MII_ADVERTISE);
    eth_ctrl_emac_sfp_mdio_write(0, MII_ADVERTISE, 0x10DE1);
    eth_ctrl_emac_sfp_speed_set(3, 100);
    EXPECT_EQ(bsp::sim::eth_calls(),
              (std::vector<std::string>{"mdio_read(0,4)=0x01e1", "mdio_write(0,4,0x10de1)=0",
                                        "speed_set(3,100)=0"}));
    EXPECT_EQ(bsp::sim::phy_peek(MII_ADVERTISE), 0x0DE1);
}

TEST_F(DriverTest, InjectedFaultsHitTheNamedCallOnly) {
    bsp::sim::inject_eth_fault({"mdio_read", MII_CTRL1000, -5, 2});
    EXPECT_EQ(eth_ctrl_emac_sfp_mdio_read(0, MII_CTRL1000), ADVERTISE_1000FULL);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdio_read(0, MII_ADVERTISE), ADVERTISE_CSMA | ADVERTISE_ALL);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdio_read(0, MII_CTRL1000), -5);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdio_read(0, MII_CTRL1000), ADVERTISE_1000FULL);
    bsp::sim::inject_eth_fault({"speed_set", -1, -3, 0});
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_set(3, 100), -3);
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_set(3, 100), -3);
}

TEST_F(DriverTest, DriverLockExcludesASecondHolder) {
    ASSERT_EQ(eth_ctrl_emac_sfp_sem_wait(), 0);
    EXPECT_TRUE(bsp::sim::eth_driver_locked());
    std::atomic<bool> got{false};
    std::thread other([&] {
        eth_ctrl_emac_sfp_sem_wait();
        got = true;
        eth_ctrl_emac_sfp_sem_post();
    });
    EXPECT_FALSE(bsp::test::wait_until([&] { return got.load(); }, std::chrono::milliseconds(200)));
    ASSERT_EQ(eth_ctrl_emac_sfp_sem_post(), 0);
    EXPECT_TRUE(bsp::test::wait_until([&] { return got.load(); }));
    other.join();
    EXPECT_FALSE(bsp::sim::eth_driver_locked());
}

// ---- link events ----

std::mutex seen_mutex;
std::vector<LinkEvent> ecps_seen;
std::vector<std::pair<int, int>> seis_seen;
std::atomic<std::thread::id> callback_thread;

int on_ecps(int port, int status, unsigned int speed) {
    std::lock_guard lock(seen_mutex);
    ecps_seen.push_back({port, status, speed});
    callback_thread = std::this_thread::get_id();
    return 0;
}

int on_seis(int port, int status) {
    std::lock_guard lock(seen_mutex);
    seis_seen.emplace_back(port, status);
    return 0;
}

class LinkEvents : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        std::lock_guard lock(seen_mutex);
        ecps_seen.clear();
        seis_seen.clear();
        eth_ctrl_emac_sfp_ecpsLinkEvent_install(on_ecps);
        eth_ctrl_emac_sfp_SeisLinkUpEvent_install(on_seis);
    }
    void TearDown() override {
        bsp::sim::wait_link_events_delivered();
        eth_ctrl_emac_sfp_ecpsLinkEvent_install(nullptr);
        eth_ctrl_emac_sfp_SeisLinkUpEvent_install(nullptr);
        DriverTest::TearDown();
    }
};

TEST_F(LinkEvents, CableOutAndInReachBothCallbacksFromTheDriverThread) {
    bsp::sim::set_link_connected(false);
    bsp::sim::set_link_connected(true);
    bsp::sim::wait_link_events_delivered();
    std::lock_guard lock(seen_mutex);
    EXPECT_EQ(ecps_seen, (std::vector<LinkEvent>{{3, 0, 0}, {3, 1, 1000}}));
    EXPECT_EQ(seis_seen, (std::vector<std::pair<int, int>>{{3, 0}, {3, 1}}));
    EXPECT_NE(callback_thread.load(), std::this_thread::get_id());
}

TEST_F(LinkEvents, RenegotiationToAnotherSpeedIsADropAndARise) {
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, 0), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_RESTART), 0);
    bsp::sim::wait_link_events_delivered();
    EXPECT_EQ(bsp::sim::link_events(), (std::vector<LinkEvent>{{3, 0, 0}, {3, 1, 100}}));
}

TEST_F(LinkEvents, PullingTheModuleDropsTheLinkOnce) {
    bsp::sim::pull_sfp();
    bsp::sim::pull_sfp();
    bsp::sim::plug_sfp(SFP_FIBER);
    bsp::sim::wait_link_events_delivered();
    EXPECT_EQ(bsp::sim::link_events(), (std::vector<LinkEvent>{{3, 0, 0}, {3, 1, 1000}}));
}

}  // namespace
