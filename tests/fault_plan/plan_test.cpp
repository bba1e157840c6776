// The plan itself: the same seed deals the same faults, exact positions, reset, and the seed
// taken from the environment and printed for a replay.
#include <cstdlib>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;

// Events of several kinds interleaved, as the buses would raise them; returns what was dealt.
std::vector<sim::FaultPlanEvent> run_plan(uint64_t seed) {
    sim::fault_plan_seed(seed);
    sim::fault_plan_chance(BusFault::SerialFlip, 0.1);
    sim::fault_plan_chance(BusFault::EepromTear, 0.3);
    sim::fault_plan_chance(BusFault::HdlcDrop, 0.2);
    for (int i = 0; i < 200; ++i) {
        sim::fault_plan_hit(BusFault::SerialFlip, 8);
        if (i % 3 == 0) {
            sim::fault_plan_hit(BusFault::EepromTear, 64);
        }
        if (i % 5 == 0) {
            sim::fault_plan_hit(BusFault::HdlcDrop);
        }
    }
    return sim::fault_plan_log();
}

class FaultPlanTest : public SimTest {};

TEST_F(FaultPlanTest, SameSeedDealsTheSameFaults) {
    std::vector<sim::FaultPlanEvent> first = run_plan(0x1234);
    EXPECT_GT(first.size(), 20u);
    EXPECT_EQ(run_plan(0x1234), first);
    EXPECT_NE(run_plan(0x1235), first);
    for (const sim::FaultPlanEvent &e : first) {
        EXPECT_LT(e.at, e.kind == BusFault::SerialFlip ? 8u
                        : e.kind == BusFault::HdlcDrop ? 1u
                                                       : 64u);
    }
}

TEST_F(FaultPlanTest, AKindsFaultsDoNotDependOnOtherBuses) {
    sim::fault_plan_seed(77);
    sim::fault_plan_chance(BusFault::SerialDrop, 0.25);
    std::vector<bool> alone;
    for (int i = 0; i < 100; ++i) {
        alone.push_back(sim::fault_plan_hit(BusFault::SerialDrop).has_value());
    }
    sim::fault_plan_seed(77);
    sim::fault_plan_chance(BusFault::SerialDrop, 0.25);
    sim::fault_plan_chance(BusFault::DoorbellLost, 0.5);
    std::vector<bool> mixed;
    for (int i = 0; i < 100; ++i) {
        sim::fault_plan_hit(BusFault::DoorbellLost);
        mixed.push_back(sim::fault_plan_hit(BusFault::SerialDrop).has_value());
    }
    EXPECT_EQ(mixed, alone);
}

TEST_F(FaultPlanTest, ExactPositionsHitOnlyTheirEvent) {
    sim::fault_plan_seed(1);
    sim::fault_plan_at(BusFault::FlashTear, 3, 9);
    sim::fault_plan_at(BusFault::FlashTear, 5, 1000);  // clamped into the span
    sim::fault_plan_at(BusFault::FlashTear, 6);        // drawn
    std::vector<std::string> dealt;
    for (int i = 1; i <= 8; ++i) {
        if (std::optional<uint32_t> at = sim::fault_plan_hit(BusFault::FlashTear, 16)) {
            dealt.push_back(std::to_string(i) + "@" + std::to_string(*at));
        }
    }
    ASSERT_EQ(dealt.size(), 3u);
    EXPECT_EQ(dealt[0], "3@9");
    EXPECT_EQ(dealt[1], "5@15");
    EXPECT_EQ(dealt[2].substr(0, 2), "6@");
    EXPECT_EQ(sim::fault_plan_events(BusFault::FlashTear), 8u);
    ASSERT_EQ(sim::fault_plan_log().size(), 3u);
    EXPECT_EQ(to_string(sim::fault_plan_log()[0]), "flash-tear #3 at 9");
}

TEST_F(FaultPlanTest, ResetTurnsThePlanOff) {
    sim::fault_plan_seed(5);
    sim::fault_plan_chance(BusFault::HdlcDrop, 1.0);
    sim::fault_plan_busy_time(std::chrono::milliseconds(7));
    EXPECT_TRUE(sim::fault_plan_hit(BusFault::HdlcDrop));
    sim::reset_unit();
    EXPECT_EQ(sim::fault_plan_current_seed(), 0u);
    EXPECT_FALSE(sim::fault_plan_hit(BusFault::HdlcDrop));
    EXPECT_TRUE(sim::fault_plan_log().empty());
    EXPECT_EQ(sim::fault_plan_busy_time(), std::chrono::milliseconds(50));
}

TEST_F(FaultPlanTest, SeedFromTheEnvironmentIsPrintedForAReplay) {
    ::setenv("BSP_FAULT_SEED", "0xfeedbeef", 1);
    {
        StderrCapture err;
        EXPECT_EQ(sim::fault_plan_seed_from_env(), 0xfeedbeefu);
        EXPECT_EQ(err.text(), "bsp_sim: fault plan seed 0x00000000feedbeef\n");
    }
    EXPECT_EQ(sim::fault_plan_current_seed(), 0xfeedbeefu);
    ::setenv("BSP_FAULT_SEED", "12x", 1);  // unreadable: a fresh random seed, printed
    {
        StderrCapture err;
        uint64_t seed = sim::fault_plan_seed_from_env();
        char expected[64];
        std::snprintf(expected, sizeof expected, "bsp_sim: fault plan seed 0x%016llx\n",
                      static_cast<unsigned long long>(seed));
        EXPECT_EQ(err.text(), expected);
    }
    ::unsetenv("BSP_FAULT_SEED");
}

}  // namespace

}  // namespace bsp::test
