// The link with the partner, resolved as IEEE 802.3 resolves it.
#include <linux/mii.h>

#include "support/sim_fixture.h"

namespace {

using bsp::sim::LinkPartner;
using bsp::sim::LinkState;

struct ResolveCase {
    const char *name;
    uint16_t local_adv;
    uint16_t local_1000;
    LinkPartner partner;
    bool up;
    int speed;
    bool full;
    bool master;
    bool fault;
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

TEST_P(LinkResolution, AutonegotiationResolvesBothSides) {
    const ResolveCase &c = GetParam();
    bsp::sim::set_link_partner(c.partner);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_ADVERTISE, c.local_adv), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, c.local_1000), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_BMCR, BMCR_ANENABLE | BMCR_ANRESTART), 0);
    const LinkState s = bsp::sim::link_state();
    EXPECT_EQ(s.up, c.up);
    EXPECT_EQ(s.speed, c.speed);
    EXPECT_EQ(s.full_duplex, c.full);
    EXPECT_EQ(s.master, c.master);
    EXPECT_EQ(s.master_slave_fault, c.fault);
    EXPECT_EQ((eth_ctrl_emac_sfp_mdio_read(0, MII_STAT1000) & LPA_1000MSFAIL) != 0, c.fault);
}

constexpr uint16_t kAll = ADVERTISE_CSMA | ADVERTISE_ALL;
constexpr uint16_t k1000 = ADVERTISE_1000FULL | ADVERTISE_1000HALF;

INSTANTIATE_TEST_SUITE_P(
    Table, LinkResolution,
    ::testing::Values(ResolveCase{"Best1000Full", kAll, ADVERTISE_1000FULL, partner(kAll, k1000),
                                  true, 1000, true, false, false},
                      ResolveCase{"HalfOnly1000", kAll, ADVERTISE_1000HALF, partner(kAll, k1000),
                                  true, 1000, false, false, false},
                      ResolveCase{"LowerPartnerSeedMakesUsMaster", kAll, 0x0200,
                                  partner(kAll, 0x0300, 0x0001), true, 1000, true, true, false},
                      ResolveCase{"Common100Full", kAll, 0, partner(kAll, k1000), true, 100, true,
                                  false, false},
                      ResolveCase{"Common10Half", 0x0021, k1000, partner(0x0021, 0), true, 10,
                                  false, false, false},
                      ResolveCase{"NothingInCommon", 0x0101, 0, partner(0x0061, 0), false, 0, false,
                                  false, false},
                      ResolveCase{"BothForcedMaster", kAll, 0x1A00, partner(kAll, 0x1B00), false, 0,
                                  false, false, true},
                      ResolveCase{"BothForcedSlave", kAll, 0x1200, partner(kAll, 0x1300), false, 0,
                                  false, false, true},
                      ResolveCase{"ForcedMasterAgainstForcedSlave", kAll, 0x1A00,
                                  partner(kAll, 0x1300), true, 1000, true, true, false},
                      ResolveCase{"PartnerForcedMaster", kAll, 0x0200, partner(kAll, 0x1B00), true,
                                  1000, true, false, false},
                      ResolveCase{"MultiportBecomesMaster", kAll, 0x0200, partner(kAll, 0x0700),
                                  true, 1000, true, false, false},
                      ResolveCase{"HigherSeedWins", kAll, 0x0200, partner(kAll, 0x0300, 0xFFFF),
                                  true, 1000, true, false, false},
                      ResolveCase{"ParallelDetection100", kAll, 0x0200, forced(100, true), true,
                                  100, false, false, false},
                      ResolveCase{"ParallelDetectionNoCommonSpeed", 0x0041, 0x0200,
                                  forced(100, true), false, 0, false, false, false},
                      ResolveCase{"PartnerForced1000Slave", kAll, 0x0200,
                                  forced(1000, true, 0x1000), true, 1000, true, true, false}),
    [](const ::testing::TestParamInfo<ResolveCase> &param_info) {
        return std::string(param_info.param.name);
    });

struct PauseCase {
    uint16_t local;
    uint16_t remote;
    bool tx;
    bool rx;
};

class PauseResolution : public bsp::test::SimTest,
                        public ::testing::WithParamInterface<PauseCase> {};

TEST_P(PauseResolution, FollowsThePauseTable) {
    const PauseCase &c = GetParam();
    bsp::sim::set_link_partner(partner(static_cast<uint16_t>(kAll | c.remote), k1000));
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_ADVERTISE, kAll | c.local), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_BMCR, BMCR_ANENABLE | BMCR_ANRESTART), 0);
    EXPECT_EQ(bsp::sim::link_state().tx_pause, c.tx);
    EXPECT_EQ(bsp::sim::link_state().rx_pause, c.rx);
}

constexpr uint16_t P = ADVERTISE_PAUSE_CAP;
constexpr uint16_t A = ADVERTISE_PAUSE_ASYM;

INSTANTIATE_TEST_SUITE_P(
    Table, PauseResolution,
    ::testing::Values(PauseCase{P, P, true, true}, PauseCase{P | A, P, true, true},
                      PauseCase{A, P | A, true, false}, PauseCase{P | A, A, false, true},
                      PauseCase{A, A, false, false}, PauseCase{0, P, false, false},
                      PauseCase{P, A, false, false}));

class ForcedLink : public bsp::test::SimTest {
  protected:
    static void force(uint16_t control) {
        ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_BMCR, control), 0);
    }
};

TEST_F(ForcedLink, Forced100AgainstAnAutonegotiatingPartner) {
    force(BMCR_SPEED100 | BMCR_FULLDPLX);
    const LinkState s = bsp::sim::link_state();
    EXPECT_TRUE(s.up);
    EXPECT_EQ(s.speed, 100);
    EXPECT_TRUE(s.full_duplex);
    EXPECT_FALSE(s.tx_pause);
}

TEST_F(ForcedLink, ReservedSpeedBitsGiveNoLink) {
    force(BMCR_SPEED100 | BMCR_SPEED1000);
    EXPECT_FALSE(bsp::sim::link_state().up);
}

TEST_F(ForcedLink, Forced1000NeedsMasterSlaveAgreement) {
    bsp::sim::set_link_partner(partner(kAll, 0x1B00));
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, 0x1A00), 0);
    force(BMCR_SPEED1000 | BMCR_FULLDPLX);
    EXPECT_TRUE(bsp::sim::link_state().master_slave_fault);
    ASSERT_EQ(eth_ctrl_emac_sfp_mdio_write(0, MII_CTRL1000, 0x1200), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_master_set(3, 1), 0);  // the driver applies it at once
    EXPECT_TRUE(bsp::sim::link_state().up);
    EXPECT_FALSE(bsp::sim::link_state().master);
}

TEST_F(ForcedLink, BothForcedNeedTheSameSpeed) {
    bsp::sim::set_link_partner(forced(10, false));
    force(BMCR_SPEED100);
    EXPECT_FALSE(bsp::sim::link_state().up);
    force(0);
    EXPECT_TRUE(bsp::sim::link_state().up);
    EXPECT_EQ(bsp::sim::link_state().speed, 10);
}

}  // namespace
