// The fault plan itself: the same seed deals the same faults, each kind independently of the
// others, exact positions, reset, and the seed taken from the environment and printed for a
// replay.
#include <cstdlib>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;

// Events of several kinds interleaved, as the buses would raise them; returns what the kind
// `watched` was dealt.
std::vector<sim::FaultPlanEvent> run_plan(uint64_t seed, BusFault watched, bool others = true) {
    sim::fault_plan_seed(seed);
    sim::fault_plan_chance(BusFault::SerialFlip, 0.1);
    sim::fault_plan_chance(BusFault::EepromTear, others ? 0.3 : 0.0);
    for (int i = 0; i < 200; ++i) {
        sim::fault_plan_hit(BusFault::SerialFlip, 8);
        if (i % 3 == 0 && others) {
            sim::fault_plan_hit(BusFault::EepromTear, 64);
        }
    }
    std::vector<sim::FaultPlanEvent> dealt;
    for (const sim::FaultPlanEvent &e : sim::fault_plan_log()) {
        if (e.kind == watched) {
            EXPECT_LT(e.at, e.kind == BusFault::SerialFlip ? 8u : 64u);
            dealt.push_back(e);
        }
    }
    return dealt;
}

TEST_F(SimTest, FaultPlanDealsTheSameFaultsForTheSameSeedAndEachKindOnItsOwn) {
    std::vector<sim::FaultPlanEvent> first = run_plan(0x1234, BusFault::EepromTear);
    EXPECT_GT(first.size(), 10u);
    EXPECT_EQ(run_plan(0x1234, BusFault::EepromTear), first);
    EXPECT_NE(run_plan(0x1235, BusFault::EepromTear), first);
    EXPECT_EQ(run_plan(77, BusFault::SerialFlip, false), run_plan(77, BusFault::SerialFlip));
}

// Exact positions hit only their event (the position clamped into the span, or drawn); a
// reset turns the plan off and restores the busy time.
TEST_F(SimTest, FaultPlanExactPositionsHitOnlyTheirEventUntilAReset) {
    sim::fault_plan_seed(1);
    sim::fault_plan_at(BusFault::FlashTear, 3, 9);
    sim::fault_plan_at(BusFault::FlashTear, 5, 1000);
    sim::fault_plan_at(BusFault::FlashTear, 6);
    sim::fault_plan_chance(BusFault::HdlcDrop, 1.0);
    sim::fault_plan_busy_time(std::chrono::milliseconds(7));
    std::string dealt;
    for (int i = 1; i <= 8; ++i) {
        if (std::optional<uint32_t> at = sim::fault_plan_hit(BusFault::FlashTear, 16)) {
            dealt += std::to_string(i) + (i == 6 ? " " : "@" + std::to_string(*at) + " ");
        }
    }
    EXPECT_EQ(dealt, "3@9 5@15 6 ");
    ASSERT_EQ(sim::fault_plan_log().size(), 3u);
    EXPECT_TRUE(sim::fault_plan_hit(BusFault::HdlcDrop));
    sim::reset_unit();
    EXPECT_EQ(sim::fault_plan_current_seed(), 0u);
    EXPECT_FALSE(sim::fault_plan_hit(BusFault::HdlcDrop));
    EXPECT_TRUE(sim::fault_plan_log().empty());
    EXPECT_EQ(sim::fault_plan_busy_time(), std::chrono::milliseconds(50));
}

TEST_F(SimTest, FaultPlanSeedFromTheEnvironmentIsPrintedForAReplay) {
    std::vector<uint64_t> seeds;
    for (const char *value : {"0xfeedbeef", "12x"}) {  // unreadable: a fresh random seed
        ::setenv("BSP_FAULT_SEED", value, 1);
        StderrCapture err;
        uint64_t seed = sim::fault_plan_seed_from_env();
        char expected[64];
        std::snprintf(expected, sizeof expected, "bsp_sim: fault plan seed 0x%016llx\n",
                      static_cast<unsigned long long>(seed));
        EXPECT_EQ(err.text(), expected);
        EXPECT_EQ(sim::fault_plan_current_seed(), seed);
        seeds.push_back(seed);
    }
    ::unsetenv("BSP_FAULT_SEED");
    EXPECT_EQ(seeds[0], 0xfeedbeefu);
}

}  // namespace

}  // namespace bsp::test
