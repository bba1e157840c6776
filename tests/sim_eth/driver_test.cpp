// The MAC/SFP driver's attribute calls, the SFP monitor, faults and link events.
#include <bsp_ctrl/platform/bsp_board.h>
#include <linux/mii.h>

#include <atomic>
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

// (speed, duplex and master mode kept in the PHY show in the port layer's configuration tests)
TEST_F(DriverTest, OutOfRangeValuesAndOtherPortsAreRefused) {
    int v = 0;
    EXPECT_EQ(eth_ctrl_emac_sfp_master_set(3, 4), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_set(3, 42), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_autoneg_set(7), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_set_adminstatus(5), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_get(1, &v), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdix_set(4, 1), -1);
}

TEST_F(DriverTest, AdminStatusPowersTheCopperPhyAndTheFibreLaser) {
    ASSERT_EQ(eth_ctrl_emac_sfp_set_adminstatus(0), 0);
    int oper = -1;
    ASSERT_EQ(eth_ctrl_emac_sfp_get_operstatus(3, &oper), 0);
    EXPECT_EQ(oper, 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_set_adminstatus(1), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_get_operstatus(3, &oper), 0);
    EXPECT_EQ(oper, 1);
    bsp::sim::plug_sfp(SFP_FIBER);
    ASSERT_EQ(eth_ctrl_emac_sfp_set_adminstatus(2), 0);
    EXPECT_FALSE(bsp::sim::link_state().up);
}

// ---- link events ----

// (cable out and in reaching the ECPS and SEIS callbacks show in those families' tests)

// A renegotiation to another speed is a drop and a rise; a pulled module drops the link once.
TEST_F(DriverTest, RenegotiationAndPulledModules) {
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, 0), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_RESTART), 0);
    bsp::sim::pull_sfp();
    bsp::sim::pull_sfp();
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_NO_SFP);
    bsp::sim::plug_sfp(SFP_FIBER);
    bsp::sim::wait_link_events_delivered();
    EXPECT_EQ(bsp::sim::link_events(),
              (std::vector<LinkEvent>{{3, 0, 0}, {3, 1, 100}, {3, 0, 0}, {3, 1, 1000}}));
    bsp::sim::plug_sfp(SFP_ERROR);
    EXPECT_EQ(sfp_mon_get_module_type(), SFP_ERROR);
    EXPECT_FALSE(bsp::sim::link_state().up);
}

// A reset while link events are still on their way: every one of them reaches the callback
// before the board description it may read is put back (under ThreadSanitizer, a callback
// reading the board during its reset is a data race). They run on the driver's own thread.
std::atomic<int> g_delivered{0};
std::atomic<int> g_saw_default{0};
std::atomic<std::thread::id> callback_thread;

int read_board(int, int) {
    ++g_delivered;
    callback_thread = std::this_thread::get_id();
    g_saw_default += kvu_hal_get()->mii_addr_of_entry[0] == 1 ? 1 : 0;
    return 0;
}

TEST_F(DriverTest, ResetDeliversPendingLinkEventsBeforeTheBoardIsReset) {
    kvu_hal_board_t b = bsp::sim::default_board();
    ASSERT_EQ(b.mii_addr_of_entry[0], 1);
    b.mii_addr_of_entry[0] = 7;
    bsp::sim::set_board(b);
    ASSERT_EQ(eth_ctrl_emac_sfp_SeisLinkUpEvent_install(read_board), 0);
    constexpr int kEvents = 300;
    for (int i = 0; i < kEvents; ++i) {
        bsp::sim::raise_port_link_event(1, i % 2 == 0, 100);
    }
    bsp::sim::reset_unit();
    EXPECT_EQ(g_delivered.load(), kEvents);
    EXPECT_EQ(g_saw_default.load(), 0);
    EXPECT_NE(callback_thread.load(), std::this_thread::get_id());
    EXPECT_EQ(bsp::sim::board().mii_addr_of_entry[0], 1);
    EXPECT_TRUE(bsp::sim::link_events().empty());
}

}  // namespace
