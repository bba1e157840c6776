// The SyncE capability table and its initialisation phase.
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace std::chrono_literals;

// The phase ends for good in a process; tests that need it open run first in their own
// process under CTest and are skipped when an earlier test of the same process ended it.
bool phase_ended_in_this_process = false;

void end_phase() {
    phase_ended_in_this_process = true;
    ASSERT_EQ(ehsl_pmap_synce_cap_init_finished(), 0);
}

std::vector<std::string> pmap_texts() {
    std::vector<std::string> out;
    for (const auto &r : bsp::sim::log_records()) {
        if (r.module == DBG_EHSL_PMAP_INDEX) {
            out.push_back(std::to_string(r.level) + ":" + r.text);
        }
    }
    return out;
}

class SynceTest : public bsp::test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ehsl_pmap_init();
        bsp::sim::clear_log();
    }
};

// ---- while the initialisation phase is open ----

class SyncePhaseTest : public SynceTest {
  protected:
    void SetUp() override {
        if (phase_ended_in_this_process) {
            GTEST_SKIP() << "the capability phase already ended in this process";
        }
        SynceTest::SetUp();
    }
};

TEST_F(SyncePhaseTest, EarlyGetReturnsOnlyAfterTheInitialisationEnds) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(3, 0x1), 0);
    std::atomic<bool> done{false};
    int cap = -1;
    std::thread reader([&] {
        EXPECT_EQ(ehsl_pmap_synce_cap_get(3, &cap), 0);
        done = true;
    });
    EXPECT_FALSE(bsp::test::wait_until([&] { return done.load(); }, 300ms));
    // Stored while the reader waits: the reader must see it.
    ASSERT_EQ(ehsl_pmap_synce_cap_init(3, 0x7), 0);
    end_phase();
    EXPECT_TRUE(bsp::test::wait_until([&] { return done.load(); }));
    reader.join();
    EXPECT_EQ(cap, 0x6);
}

TEST_F(SyncePhaseTest, EarlyCallersPassTheTokenOnAndAllProceed) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(2, 0x1), 0);
    std::atomic<int> finished{0};
    std::vector<std::thread> callers;
    callers.emplace_back([&] {
        EXPECT_EQ(ehsl_pmap_synce_cap_set(2, 8), 0);
        ++finished;
    });
    callers.emplace_back([&] {
        int cap = 0;
        EXPECT_EQ(ehsl_pmap_synce_cap_get(1, &cap), 0);
        ++finished;
    });
    callers.emplace_back([&] {
        EXPECT_EQ(ehsl_pmap_synce_cap_clear(3, 8), 0);
        ++finished;
    });
    EXPECT_FALSE(bsp::test::wait_until([&] { return finished.load() > 0; }, 300ms));
    end_phase();
    EXPECT_TRUE(bsp::test::wait_until([&] { return finished.load() == 3; }));
    for (auto &t : callers) {
        t.join();
    }
    int value = 0;
    ASSERT_EQ(sem_getvalue(&ehsl_pmap_synce_init_sem, &value), 0);
    EXPECT_EQ(value, 1);  // the one token is back
    int cap = 0;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(2, &cap), 0);
    EXPECT_EQ(cap, 0x8);
}

TEST_F(SyncePhaseTest, InitWritesWithoutWaitingAndReplacesTheStoredValue) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(1, 0x7), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_init(1, 0x3), 0);
    EXPECT_EQ(pmap_texts(),
              (std::vector<std::string>{
                  "1:ehsl_pmap_synce_capability:ehsl_pmap_synce_cap_init - hw_port = 1 -  "
                  "capability = 0x7 \n",
                  "1:ehsl_pmap_synce_capability:ehsl_pmap_synce_cap_init - hw_port = 1 -  "
                  "capability = 0x3 \n"}));
    end_phase();
    int cap = 0;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(1, &cap), 0);
    EXPECT_EQ(cap, 0x2);
}

// ---- after the initialisation phase ----

class SynceReadyTest : public SynceTest {
  protected:
    void SetUp() override {
        SynceTest::SetUp();
        if (!phase_ended_in_this_process) {
            end_phase();
        }
        for (int p = 1; p <= 3; ++p) {
            ASSERT_EQ(ehsl_pmap_synce_cap_init(p, 0), 0);
        }
        bsp::sim::clear_log();
    }
};

TEST_F(SynceReadyTest, AccessAfterThePhaseTakesNoToken) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(3, 0x5), 0);
    ASSERT_EQ(sem_wait(&ehsl_pmap_synce_init_sem), 0);  // hold the token ourselves
    int cap = 0;
    EXPECT_EQ(ehsl_pmap_synce_cap_get(3, &cap), 0);
    EXPECT_EQ(ehsl_pmap_synce_cap_set(3, 8), 0);
    EXPECT_EQ(ehsl_pmap_synce_cap_clear(3, 0), 0);
    ASSERT_EQ(sem_post(&ehsl_pmap_synce_init_sem), 0);
    EXPECT_EQ(cap, 0x4);
}

struct EffectiveCase {
    int stored;
    int reported;
};

class SynceEffective : public SynceReadyTest,
                       public ::testing::WithParamInterface<EffectiveCase> {};

// Bit 3 can only come from set; bits 0..2 from init.
TEST_P(SynceEffective, GetReportsBitsOneToThreeOnlyWithHardwareSupport) {
    const EffectiveCase c = GetParam();
    ASSERT_EQ(ehsl_pmap_synce_cap_init(2, c.stored & 0x7), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_set(2, c.stored & 0x8), 0);
    bsp::sim::clear_log();
    int cap = -1;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(2, &cap), 0);
    EXPECT_EQ(cap, c.reported);
    char expected[96];
    std::snprintf(expected, sizeof expected,
                  "1:ehsl_pmap_synce_cap_get:  hw_port = 2 -  capability = 0x%x \n", c.stored);
    EXPECT_EQ(pmap_texts(), std::vector<std::string>{expected});
}

INSTANTIATE_TEST_SUITE_P(Table, SynceEffective,
                         ::testing::Values(EffectiveCase{0xE, 0}, EffectiveCase{0xF, 0xE},
                                           EffectiveCase{0x1, 0}, EffectiveCase{0x0, 0},
                                           EffectiveCase{0x7, 0x6}, EffectiveCase{0x9, 0x8}),
                         [](const ::testing::TestParamInfo<EffectiveCase> &param_info) {
                             return "Stored" + std::to_string(param_info.param.stored);
                         });

TEST_F(SynceReadyTest, SetAndClearChangeOnlyTheRuntimeBitAndLogTheNewValue) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(1, 0x5), 0);
    bsp::sim::clear_log();
    ASSERT_EQ(ehsl_pmap_synce_cap_set(1, 8), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_set(1, 0), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_clear(1, 8), 0);
    EXPECT_EQ(pmap_texts(),
              (std::vector<std::string>{
                  "1:ehsl_pmap_synce_cap_set:  hw_port = 1 -  capability = 0xd \n",
                  "1:ehsl_pmap_synce_cap_set:  hw_port = 1 -  capability = 0xd \n",
                  "1:ehsl_pmap_synce_cap_clear:  hw_port = 1 -  capability = 0x5 \n"}));
}

TEST_F(SynceReadyTest, OutOfRangeCapabilitiesAreRefusedAndNothingIsStored) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(3, 0x3), 0);
    bsp::sim::clear_log();
    EXPECT_EQ(ehsl_pmap_synce_cap_init(3, 8), -1);
    EXPECT_EQ(ehsl_pmap_synce_cap_set(3, 2), -1);
    EXPECT_EQ(ehsl_pmap_synce_cap_clear(3, 9), -1);
    EXPECT_EQ(pmap_texts(),
              (std::vector<std::string>{
                  "1:EHSL_PMAP_D:ehsl_pmap_synce_cap_init: Invalid SyncE capability 0x8 for hw "
                  "port: 3\n",
                  "1:EHSL_PMAP_D:ehsl_pmap_synce_cap_set: Invalid SyncE capability 0x2 for hw "
                  "port: 3\n",
                  "1:EHSL_PMAP_D:ehsl_pmap_synce_cap_clear: Invalid SyncE capability 0x9 for hw "
                  "port: 3\n"}));
    int cap = 0;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(3, &cap), 0);
    EXPECT_EQ(cap, 0x2);
}

TEST_F(SynceReadyTest, ThePortIsTestedBeforeTheValue) {
    EXPECT_EQ(ehsl_pmap_synce_cap_set(5, 2), -1);
    EXPECT_EQ(
        pmap_texts(),
        (std::vector<std::string>{"1:EHSL_PMAP_D:ehsl_pmap_synce_cap_set: Invalid hw port: 5\n"}));
}

TEST_F(SynceReadyTest, EveryInitEmptiesTheSemaphoreAndEveryFinishPostsItOnce) {
    for (int cycle = 0; cycle < 2; ++cycle) {
        int value = -1;
        ehsl_pmap_init();
        ASSERT_EQ(sem_getvalue(&ehsl_pmap_synce_init_sem, &value), 0);
        EXPECT_EQ(value, 0) << "cycle " << cycle;
        ASSERT_EQ(ehsl_pmap_synce_cap_init_finished(), 0);
        ASSERT_EQ(sem_getvalue(&ehsl_pmap_synce_init_sem, &value), 0);
        EXPECT_EQ(value, 1) << "cycle " << cycle;
    }
}

TEST_F(SynceReadyTest, PortMapInitKeepsTheCapabilities) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(2, 0x3), 0);
    ehsl_pmap_init();
    int cap = 0;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(2, &cap), 0);  // the phase stays over: no wait
    EXPECT_EQ(cap, 0x2);
}

}  // namespace
