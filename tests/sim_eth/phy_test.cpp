// The copper module's PHY as the MDIO bus sees it.
#include <linux/mii.h>

#include "support/sim_fixture.h"

namespace {

using bsp::sim::LinkPartner;

class PhyTest : public bsp::test::SimTest {
  protected:
    static int rd(int reg) { return eth_ctrl_emac_sfp_mdio_read(0, reg); }
    static void wr(int reg, int value) {
        ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, reg, value), 0);
    }
};

TEST_F(PhyTest, PowerOnRegistersOfAClause22And40Phy) {
    EXPECT_EQ(rd(MII_BMCR), BMCR_ANENABLE | BMCR_SPEED1000 | BMCR_FULLDPLX);
    EXPECT_EQ(rd(MII_ADVERTISE), ADVERTISE_CSMA | ADVERTISE_ALL);
    EXPECT_EQ(rd(MII_CTRL1000), ADVERTISE_1000FULL);
    EXPECT_EQ(rd(MII_ESTATUS), ESTATUS_1000_TFULL | ESTATUS_1000_THALF);
    EXPECT_NE(rd(MII_BMSR) & BMSR_ANEGCAPABLE, 0);
}

TEST_F(PhyTest, LinkBitLatchesLowUntilRead) {
    rd(MII_BMSR);
    EXPECT_NE(rd(MII_BMSR) & BMSR_LSTATUS, 0);
    bsp::sim::set_link_connected(false);
    bsp::sim::set_link_connected(true);  // the link came back before anyone looked
    EXPECT_EQ(rd(MII_BMSR) & BMSR_LSTATUS, 0);
    EXPECT_NE(rd(MII_BMSR) & BMSR_LSTATUS, 0);
}

TEST_F(PhyTest, LinkBitStaysLowWhileTheLinkIsDown) {
    bsp::sim::set_link_connected(false);
    EXPECT_EQ(rd(MII_BMSR) & BMSR_LSTATUS, 0);
    EXPECT_EQ(rd(MII_BMSR) & BMSR_LSTATUS, 0);
}

TEST_F(PhyTest, RestartBitClearsItselfAndTheLinkDropsThroughIt) {
    rd(MII_BMSR);
    wr(MII_BMCR, BMCR_ANENABLE | BMCR_ANRESTART | BMCR_FULLDPLX | BMCR_SPEED1000);
    EXPECT_EQ(rd(MII_BMCR), BMCR_ANENABLE | BMCR_FULLDPLX | BMCR_SPEED1000);
    EXPECT_EQ(rd(MII_BMSR) & BMSR_LSTATUS, 0);
    EXPECT_NE(rd(MII_BMSR) & BMSR_LSTATUS, 0);
}

TEST_F(PhyTest, AdvertisementsHoldWhatIsWrittenAndActOnlyAfterARestart) {
    wr(MII_ADVERTISE, 0x0C21);
    wr(MII_CTRL1000, 0x1A00);
    EXPECT_EQ(rd(MII_ADVERTISE), 0x0C21);
    EXPECT_EQ(rd(MII_CTRL1000), 0x1A00);
    EXPECT_EQ(bsp::sim::link_state().speed, 1000);
    EXPECT_FALSE(bsp::sim::link_state().master);  // the old resolution holds
    wr(MII_BMCR, BMCR_ANENABLE | BMCR_ANRESTART);
    EXPECT_TRUE(bsp::sim::link_state().master);
}

TEST_F(PhyTest, ReadOnlyRegistersIgnoreWrites) {
    rd(MII_BMSR);  // clear the latched link loss of the power-on
    const int status = rd(MII_BMSR);
    wr(MII_BMSR, 0);
    wr(MII_PHYSID1, 0x1111);
    EXPECT_EQ(rd(MII_BMSR), status);
    EXPECT_NE(rd(MII_PHYSID1), 0x1111);
}

TEST_F(PhyTest, SoftResetRestoresPowerOnValues) {
    wr(MII_ADVERTISE, 0x0021);
    wr(MII_BMCR, BMCR_RESET);
    EXPECT_EQ(rd(MII_ADVERTISE), ADVERTISE_CSMA | ADVERTISE_ALL);
    EXPECT_EQ(rd(MII_BMCR) & BMCR_RESET, 0);
}

TEST_F(PhyTest, PowerDownAndIsolateTakeTheLinkDown) {
    wr(MII_BMCR, BMCR_ANENABLE | BMCR_PDOWN | BMCR_ISOLATE);
    EXPECT_FALSE(bsp::sim::link_state().up);
    wr(MII_BMCR, BMCR_ANENABLE);
    EXPECT_TRUE(bsp::sim::link_state().up);
}

TEST_F(PhyTest, NobodyAnswersWithoutACopperModule) {
    bsp::sim::plug_sfp(SFP_FIBER);
    EXPECT_EQ(rd(MII_BMCR), 0xFFFF);
    bsp::sim::pull_sfp();
    EXPECT_EQ(rd(MII_BMSR), 0xFFFF);
    bsp::sim::plug_sfp(SFP_COPPER);
    EXPECT_EQ(eth_ctrl_emac_sfp_mdio_read(1, MII_BMCR), 0xFFFF);  // only address 0 is the module
}

TEST_F(PhyTest, LinkPartnerRegistersAfterAutonegotiation) {
    EXPECT_EQ(rd(MII_LPA), LinkPartner{}.advertise | LPA_LPACK);
    EXPECT_EQ(rd(MII_STAT1000) & (LPA_1000FULL | LPA_1000HALF), LPA_1000FULL | LPA_1000HALF);
}

}  // namespace
