// The SFP port's model: the copper module's PHY as the MDIO bus sees it, the link with the
// partner resolved as IEEE 802.3 resolves it, the MAC/SFP driver's checks, the SFP monitor and
// link events.
#include <bsp_ctrl/platform/bsp_board.h>
#include <linux/mii.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "support/sim_fixture.h"

namespace {

using bsp::sim::LinkPartner;
using bsp::sim::LinkState;

class PhyTest : public bsp::test::SimTest {
  protected:
    static int rd(int reg) { return eth_ctrl_emac_sfp_mdio_read(0, reg); }
    static void wr(int reg, int value) {
        ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, reg, value), 0);
    }
};

// Power-on values of a clause-22/40 PHY and its partner (the control and advertisement registers'
// show in the port layer's tests); read-only registers ignore writes, a soft reset restores the
// power-on values, and nobody answers at other addresses or without a copper module.
TEST_F(PhyTest, PowerOnReadOnlyRegistersSoftResetAndAbsentPhys) {
    EXPECT_EQ(rd(MII_ESTATUS), ESTATUS_1000_TFULL | ESTATUS_1000_THALF);
    EXPECT_EQ(rd(MII_LPA), LinkPartner{}.advertise | LPA_LPACK);
    EXPECT_EQ(rd(MII_STAT1000) & (LPA_1000FULL | LPA_1000HALF), LPA_1000FULL | LPA_1000HALF);
    wr(MII_BMSR, 0);
    wr(MII_PHYSID1, 0x1111);
    EXPECT_EQ(rd(MII_BMSR), 0x7929);  // abilities and autonegotiation done, the link loss latched
    EXPECT_NE(rd(MII_PHYSID1), 0x1111);
    wr(MII_ADVERTISE, 0x0021);
    wr(MII_BMCR, BMCR_RESET);
    EXPECT_EQ(rd(MII_ADVERTISE), ADVERTISE_CSMA | ADVERTISE_ALL);
    EXPECT_EQ(rd(MII_BMCR) & BMCR_RESET, 0);
    bsp::sim::plug_sfp(SFP_FIBER);
    EXPECT_EQ(rd(MII_BMCR), 0xFFFF);
    bsp::sim::pull_sfp();
    EXPECT_EQ(rd(MII_BMSR), 0xFFFF);
    bsp::sim::plug_sfp(SFP_COPPER);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdio_read(1, MII_BMCR), 0xFFFF);  // only address 0 is the module
}

struct ResolveCase {
    const char *name;
    uint16_t bmcr;
    uint16_t local_adv;
    uint16_t local_1000;
    LinkPartner partner;
    LinkState resolved;
};

// A link state's fields, for comparing and printing.
auto fields(const LinkState &s) {
    return std::tuple(s.up, s.speed, s.full_duplex, s.tx_pause, s.rx_pause, s.master,
                      s.master_slave_fault);
}

// An autonegotiating partner and a forced one; what is not named keeps the partner's default.
LinkPartner partner(uint16_t adv, uint16_t c1000, uint16_t seed = 0x1234) {
    return {.advertise = adv, .ctrl1000 = c1000, .seed = seed};
}

LinkPartner forced(int speed, bool full, uint16_t c1000 = 0) {
    return {.autoneg = false, .ctrl1000 = c1000, .forced_speed = speed, .forced_full = full};
}

class LinkResolution : public PhyTest, public ::testing::WithParamInterface<ResolveCase> {};

// The advertisements act only through the control register (a restart, or a change of the
// forced mode); the restart clears itself and the link drops through it.
TEST_P(LinkResolution, ResolvesBothSides) {
    const ResolveCase &c = GetParam();
    bsp::sim::set_link_partner(c.partner);
    const LinkState before = bsp::sim::link_state();
    wr(MII_ADVERTISE, c.local_adv);
    wr(MII_CTRL1000, c.local_1000);
    EXPECT_EQ(fields(bsp::sim::link_state()), fields(before));
    wr(MII_BMCR, c.bmcr);
    EXPECT_EQ(fields(bsp::sim::link_state()), fields(c.resolved));
    EXPECT_EQ(rd(MII_BMCR) & BMCR_ANRESTART, 0);
    EXPECT_EQ(rd(MII_BMSR) & BMSR_LSTATUS, 0);
    EXPECT_EQ((rd(MII_STAT1000) & LPA_1000MSFAIL) != 0, c.resolved.master_slave_fault);
}

constexpr uint16_t kAll = ADVERTISE_CSMA | ADVERTISE_ALL;
constexpr uint16_t k1000 = ADVERTISE_1000FULL | ADVERTISE_1000HALF;
constexpr uint16_t kAn = BMCR_ANENABLE | BMCR_ANRESTART;
constexpr uint16_t kF1000 = BMCR_SPEED1000 | BMCR_FULLDPLX;
constexpr uint16_t P = ADVERTISE_PAUSE_CAP;
constexpr uint16_t A = ADVERTISE_PAUSE_ASYM;

// The resolved state: up, speed, full duplex, tx and rx pause, master, master/slave fault. The
// speeds and duplex modes the port layer reads (the best common ability, parallel detection,
// nothing in common) show in its tests; these are the master/slave and pause resolutions and
// the forced modes.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, LinkResolution, ::testing::Values(
    ResolveCase{"HalfOnly1000", kAn, kAll, ADVERTISE_1000HALF, partner(kAll, k1000), {true, 1000}},
    ResolveCase{"LowerPartnerSeedMakesUsMaster", kAn, kAll, 0x0200, partner(kAll, 0x0300, 0x0001), {true, 1000, true, false, false, true}},
    ResolveCase{"BothForcedMaster", kAn, kAll, 0x1A00, partner(kAll, 0x1B00), {false, 0, false, false, false, false, true}},
    ResolveCase{"ForcedMasterAgainstForcedSlave", kAn, kAll, 0x1A00, partner(kAll, 0x1300), {true, 1000, true, false, false, true}},
    ResolveCase{"PartnerForcedMaster", kAn, kAll, 0x0200, partner(kAll, 0x1B00), {true, 1000, true}},
    ResolveCase{"MultiportBecomesMaster", kAn, kAll, 0x0200, partner(kAll, 0x0700), {true, 1000, true}},
    ResolveCase{"HigherSeedWins", kAn, kAll, 0x0200, partner(kAll, 0x0300, 0xFFFF), {true, 1000, true}},
    ResolveCase{"ParallelDetectionNoCommonSpeed", kAn, 0x0041, 0x0200, forced(100, true), {false, 0}},
    ResolveCase{"PartnerForced1000Slave", kAn, kAll, 0x0200, forced(1000, true, 0x1000), {true, 1000, true, false, false, true}},
    ResolveCase{"Forced100AgainstAutoneg", BMCR_SPEED100 | BMCR_FULLDPLX, kAll, 0x0200, LinkPartner{}, {true, 100, true}},
    ResolveCase{"ForcedReservedSpeedBits", BMCR_SPEED100 | BMCR_SPEED1000, kAll, 0x0200, LinkPartner{}, {false, 0}},
    ResolveCase{"Forced1000BothMaster", kF1000, kAll, 0x1A00, partner(kAll, 0x1B00), {false, 0, false, false, false, true, true}},
    ResolveCase{"Forced1000SlaveAgainstMaster", kF1000, kAll, 0x1200, partner(kAll, 0x1B00), {true, 1000, true}},
    ResolveCase{"BothForcedOtherSpeeds", BMCR_SPEED100, kAll, 0x0200, forced(10, false), {false, 0}},
    ResolveCase{"BothForcedSameSpeed", 0, kAll, 0x0200, forced(10, false), {true, 10}},
    ResolveCase{"PauseBoth", kAn, kAll | P, 0x0200, partner(kAll | P, k1000), {true, 1000, true, true, true}},
    ResolveCase{"PauseAsymmetricAgainstBoth", kAn, kAll | A, 0x0200, partner(kAll | P | A, k1000), {true, 1000, true, true}},
    ResolveCase{"PauseBothAgainstAsymmetric", kAn, kAll | P | A, 0x0200, partner(kAll | A, k1000), {true, 1000, true, false, true}},
    ResolveCase{"PauseAsymmetricOnly", kAn, kAll | A, 0x0200, partner(kAll | A, k1000), {true, 1000, true}},
    ResolveCase{"PauseOnlyThePartner", kAn, kAll, 0x0200, partner(kAll | P, k1000), {true, 1000, true}},
    ResolveCase{"PauseSymmetricAgainstAsymmetric", kAn, kAll | P, 0x0200, partner(kAll | A, k1000), {true, 1000, true}}),
    [](const ::testing::TestParamInfo<ResolveCase> &row) { return std::string(row.param.name); });
// clang-format on

class DriverTest : public bsp::test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(eth_ctrl_emac_sfp_init(), 0);
        bsp::sim::clear_eth_calls();
    }
};

// (speed, duplex and master mode kept in the PHY show in the port layer's configuration tests)
// Out-of-range values and other ports are refused; the administrative status powers the copper
// PHY and the fibre laser.
TEST_F(DriverTest, OutOfRangeValuesAndAdministrativeStatus) {
    int v = 0;
    EXPECT_EQ(eth_ctrl_emac_sfp_master_set(3, 4), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_set(3, 42), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_autoneg_set(7), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_set_adminstatus(5), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_speed_get(1, &v), -1);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdix_set(4, 1), -1);
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
// (What the SFP monitor reports for an empty cage or a failing module shows in the port layer's
// refusals.)
TEST_F(DriverTest, RenegotiationAndPulledModules) {
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, 0), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_RESTART), 0);
    bsp::sim::pull_sfp();
    bsp::sim::pull_sfp();
    bsp::sim::plug_sfp(SFP_FIBER);
    bsp::sim::wait_link_events_delivered();
    EXPECT_EQ(bsp::sim::link_events(),
              (std::vector<bsp::sim::LinkEvent>{{3, 0, 0}, {3, 1, 100}, {3, 0, 0}, {3, 1, 1000}}));
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
