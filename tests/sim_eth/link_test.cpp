// The copper module's PHY as the MDIO bus sees it, and the link with the partner resolved as
// IEEE 802.3 resolves it.
#include <linux/mii.h>

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

// (the control and advertisement registers' power-on values show in the port layer's tests)
TEST_F(PhyTest, PowerOnRegistersOfAClause22And40PhyAndItsPartner) {
    EXPECT_EQ(rd(MII_ESTATUS), ESTATUS_1000_TFULL | ESTATUS_1000_THALF);
    EXPECT_NE(rd(MII_BMSR) & BMSR_ANEGCAPABLE, 0);
    EXPECT_EQ(rd(MII_LPA), LinkPartner{}.advertise | LPA_LPACK);
    EXPECT_EQ(rd(MII_STAT1000) & (LPA_1000FULL | LPA_1000HALF), LPA_1000FULL | LPA_1000HALF);
}

TEST_F(PhyTest, AdvertisementsActOnlyAfterARestartThatClearsItself) {
    wr(MII_ADVERTISE, 0x0C21);
    wr(MII_CTRL1000, 0x1A00);
    EXPECT_EQ(rd(MII_ADVERTISE), 0x0C21);
    EXPECT_EQ(rd(MII_CTRL1000), 0x1A00);
    EXPECT_FALSE(bsp::sim::link_state().master);  // the old resolution holds
    rd(MII_BMSR);
    wr(MII_BMCR, BMCR_ANENABLE | BMCR_ANRESTART);
    EXPECT_TRUE(bsp::sim::link_state().master);
    EXPECT_EQ(rd(MII_BMCR), BMCR_ANENABLE);
    EXPECT_EQ(rd(MII_BMSR) & BMSR_LSTATUS, 0);  // the link dropped through the restart
}

TEST_F(PhyTest, ReadOnlyRegistersIgnoreWritesAndSoftResetRestoresPowerOn) {
    rd(MII_BMSR);  // clear the latched link loss of the power-on
    const int status = rd(MII_BMSR);
    wr(MII_BMSR, 0);
    wr(MII_PHYSID1, 0x1111);
    EXPECT_EQ(rd(MII_BMSR), status);
    EXPECT_NE(rd(MII_PHYSID1), 0x1111);
    wr(MII_ADVERTISE, 0x0021);
    wr(MII_BMCR, BMCR_RESET);
    EXPECT_EQ(rd(MII_ADVERTISE), ADVERTISE_CSMA | ADVERTISE_ALL);
    EXPECT_EQ(rd(MII_BMCR) & BMCR_RESET, 0);
}

TEST_F(PhyTest, NobodyAnswersWithoutACopperModule) {
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
    bool up;
    int speed;
    bool full;
    bool master;
    bool fault;
    bool tx_pause = false;
    bool rx_pause = false;
};

// An autonegotiating partner and a forced one; what is not named keeps the partner's default.
LinkPartner partner(uint16_t adv, uint16_t c1000, uint16_t seed = 0x1234) {
    return {.advertise = adv, .ctrl1000 = c1000, .seed = seed};
}

LinkPartner forced(int speed, bool full, uint16_t c1000 = 0) {
    return {.autoneg = false, .ctrl1000 = c1000, .forced_speed = speed, .forced_full = full};
}

class LinkResolution : public bsp::test::SimTest,
                       public ::testing::WithParamInterface<ResolveCase> {};

TEST_P(LinkResolution, ResolvesBothSides) {
    const ResolveCase &c = GetParam();
    bsp::sim::set_link_partner(c.partner);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_ADVERTISE, c.local_adv), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, c.local_1000), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_BMCR, c.bmcr), 0);
    const LinkState s = bsp::sim::link_state();
    EXPECT_EQ(s.up, c.up);
    EXPECT_EQ(s.speed, c.speed);
    EXPECT_EQ(s.full_duplex, c.full);
    EXPECT_EQ(s.master, c.master);
    EXPECT_EQ(s.master_slave_fault, c.fault);
    EXPECT_EQ(s.tx_pause, c.tx_pause);
    EXPECT_EQ(s.rx_pause, c.rx_pause);
    EXPECT_EQ((eth_ctrl_emac_sfp_mdio_read(0, MII_STAT1000) & LPA_1000MSFAIL) != 0, c.fault);
}

constexpr uint16_t kAll = ADVERTISE_CSMA | ADVERTISE_ALL;
constexpr uint16_t k1000 = ADVERTISE_1000FULL | ADVERTISE_1000HALF;
constexpr uint16_t kAn = BMCR_ANENABLE | BMCR_ANRESTART;
constexpr uint16_t kF1000 = BMCR_SPEED1000 | BMCR_FULLDPLX;
constexpr uint16_t P = ADVERTISE_PAUSE_CAP;
constexpr uint16_t A = ADVERTISE_PAUSE_ASYM;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, LinkResolution, ::testing::Values(
    ResolveCase{"Best1000Full", kAn, kAll, ADVERTISE_1000FULL, partner(kAll, k1000), true, 1000, true, false, false},
    ResolveCase{"HalfOnly1000", kAn, kAll, ADVERTISE_1000HALF, partner(kAll, k1000), true, 1000, false, false, false},
    ResolveCase{"LowerPartnerSeedMakesUsMaster", kAn, kAll, 0x0200, partner(kAll, 0x0300, 0x0001), true, 1000, true, true, false},
    ResolveCase{"Common100Full", kAn, kAll, 0, partner(kAll, k1000), true, 100, true, false, false},
    ResolveCase{"Common10Half", kAn, 0x0021, k1000, partner(0x0021, 0), true, 10, false, false, false},
    ResolveCase{"NothingInCommon", kAn, 0x0101, 0, partner(0x0061, 0), false, 0, false, false, false},
    ResolveCase{"BothForcedMaster", kAn, kAll, 0x1A00, partner(kAll, 0x1B00), false, 0, false, false, true},
    ResolveCase{"BothForcedSlave", kAn, kAll, 0x1200, partner(kAll, 0x1300), false, 0, false, false, true},
    ResolveCase{"ForcedMasterAgainstForcedSlave", kAn, kAll, 0x1A00, partner(kAll, 0x1300), true, 1000, true, true, false},
    ResolveCase{"PartnerForcedMaster", kAn, kAll, 0x0200, partner(kAll, 0x1B00), true, 1000, true, false, false},
    ResolveCase{"MultiportBecomesMaster", kAn, kAll, 0x0200, partner(kAll, 0x0700), true, 1000, true, false, false},
    ResolveCase{"HigherSeedWins", kAn, kAll, 0x0200, partner(kAll, 0x0300, 0xFFFF), true, 1000, true, false, false},
    ResolveCase{"ParallelDetection100", kAn, kAll, 0x0200, forced(100, true), true, 100, false, false, false},
    ResolveCase{"ParallelDetectionNoCommonSpeed", kAn, 0x0041, 0x0200, forced(100, true), false, 0, false, false, false},
    ResolveCase{"PartnerForced1000Slave", kAn, kAll, 0x0200, forced(1000, true, 0x1000), true, 1000, true, true, false},
    ResolveCase{"Forced100AgainstAutoneg", BMCR_SPEED100 | BMCR_FULLDPLX, kAll, 0x0200, LinkPartner{}, true, 100, true, false, false},
    ResolveCase{"ForcedReservedSpeedBits", BMCR_SPEED100 | BMCR_SPEED1000, kAll, 0x0200, LinkPartner{}, false, 0, false, false, false},
    ResolveCase{"Forced1000BothMaster", kF1000, kAll, 0x1A00, partner(kAll, 0x1B00), false, 0, false, true, true},
    ResolveCase{"Forced1000SlaveAgainstMaster", kF1000, kAll, 0x1200, partner(kAll, 0x1B00), true, 1000, true, false, false},
    ResolveCase{"BothForcedOtherSpeeds", BMCR_SPEED100, kAll, 0x0200, forced(10, false), false, 0, false, false, false},
    ResolveCase{"BothForcedSameSpeed", 0, kAll, 0x0200, forced(10, false), true, 10, false, false, false},
    ResolveCase{"PauseBoth", kAn, kAll | P, 0x0200, partner(kAll | P, k1000), true, 1000, true, false, false, true, true},
    ResolveCase{"PauseSymmetricAndBothAgainstSymmetric", kAn, kAll | P | A, 0x0200, partner(kAll | P, k1000), true, 1000, true, false, false, true, true},
    ResolveCase{"PauseAsymmetricAgainstBoth", kAn, kAll | A, 0x0200, partner(kAll | P | A, k1000), true, 1000, true, false, false, true, false},
    ResolveCase{"PauseBothAgainstAsymmetric", kAn, kAll | P | A, 0x0200, partner(kAll | A, k1000), true, 1000, true, false, false, false, true},
    ResolveCase{"PauseAsymmetricOnly", kAn, kAll | A, 0x0200, partner(kAll | A, k1000), true, 1000, true, false, false},
    ResolveCase{"PauseOnlyThePartner", kAn, kAll, 0x0200, partner(kAll | P, k1000), true, 1000, true, false, false},
    ResolveCase{"PauseSymmetricAgainstAsymmetric", kAn, kAll | P, 0x0200, partner(kAll | A, k1000), true, 1000, true, false, false}),
    [](const ::testing::TestParamInfo<ResolveCase> &row) { return std::string(row.param.name); });
// clang-format on

}  // namespace
