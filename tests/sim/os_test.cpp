// The OS service layer as the library relies on it: semaphores, tasks and both timer
// families under the manual clock.
#include <bsp_ctrl/platform/bsp_os.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using bsp::test::SimTest;
using bsp::test::wait_until;

using SemaphoreTest = SimTest;

TEST_F(SemaphoreTest, SecondObtainerWaitsUntilRelease) {
    NU_SEMAPHORE sem{};
    ASSERT_EQ(OS_Create_Semaphore(&sem, const_cast<CHAR *>("T_SEM"), 1, NU_PRIORITY), 0);
    ASSERT_EQ(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
    std::atomic<bool> got{false};
    std::thread other([&] {
        EXPECT_EQ(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
        got = true;
        OS_Release_Semaphore(&sem);
    });
    ASSERT_TRUE(wait_until([] { return bsp::sim::semaphores().at(0).waiters == 1; }));
    EXPECT_FALSE(got);
    ASSERT_EQ(bsp::sim::held_semaphores().size(), 1u);
    EXPECT_EQ(bsp::sim::held_semaphores()[0].name, "T_SEM");
    OS_Release_Semaphore(&sem);
    other.join();
    EXPECT_TRUE(got);
    EXPECT_TRUE(bsp::sim::held_semaphores().empty());
    EXPECT_EQ(OS_Delete_Semaphore(&sem), 0);
    EXPECT_TRUE(bsp::sim::semaphores().empty());
}

TEST_F(SemaphoreTest, NoSuspendFailsAtOnceWhenTaken) {
    NU_SEMAPHORE sem{};
    ASSERT_EQ(OS_Create_Semaphore(&sem, const_cast<CHAR *>("DPDP_SEM"), 1, NU_FIFO), 0);
    EXPECT_EQ(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0);
    EXPECT_NE(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0);
    EXPECT_EQ(OS_Release_Semaphore(&sem), 0);
    EXPECT_EQ(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0);
}

TEST_F(SemaphoreTest, DeleteWakesWaiterWithFailure) {
    NU_SEMAPHORE sem{};
    ASSERT_EQ(OS_Create_Semaphore(&sem, const_cast<CHAR *>("X"), 0, NU_PRIORITY), 0);
    std::atomic<STATUS> rc{0};
    std::thread waiter([&] { rc = OS_Obtain_Semaphore(&sem, NU_SUSPEND); });
    ASSERT_TRUE(wait_until([] { return bsp::sim::semaphores().at(0).waiters == 1; }));
    OS_Delete_Semaphore(&sem);
    waiter.join();
    EXPECT_NE(rc.load(), 0);
    EXPECT_NE(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0) << "a deleted semaphore is gone";
}

TEST_F(SemaphoreTest, InjectedFailuresHitTheNthCall) {
    bsp::sim::inject_fault({bsp::sim::FaultOp::SemObtain, 2});
    NU_SEMAPHORE sem{};
    ASSERT_EQ(OS_Create_Semaphore(&sem, const_cast<CHAR *>("S"), 5, NU_PRIORITY), 0);
    EXPECT_EQ(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
    EXPECT_NE(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
    EXPECT_EQ(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
    EXPECT_EQ(bsp::sim::semaphores().at(0).count, 3);
    EXPECT_EQ(bsp::sim::fault_op_calls(bsp::sim::FaultOp::SemObtain), 3u);
    bsp::sim::inject_fault({bsp::sim::FaultOp::SemCreate, 1});
    NU_SEMAPHORE other{};
    EXPECT_NE(OS_Create_Semaphore(&other, const_cast<CHAR *>("T"), 1, NU_PRIORITY), 0);
}

using TaskTest = SimTest;

std::atomic<int> g_task_runs{0};
std::atomic<bool> g_task_release{false};

void counting_entry(UNSIGNED argc, void *argv) {
    EXPECT_EQ(argc, 0u);
    EXPECT_EQ(argv, nullptr);
    EXPECT_TRUE(bsp::sim::in_task_context());
    ++g_task_runs;
    while (!g_task_release) {
        std::this_thread::yield();
    }
}

TEST_F(TaskTest, TaskRunsAtOnceAndIsJoinedWhenItReturns) {
    g_task_runs = 0;
    g_task_release = false;
    NU_TASK task{};
    ASSERT_EQ(OS_Create_Task(&task, const_cast<CHAR *>("FRAMER"), counting_entry, 0, nullptr), 0);
    ASSERT_TRUE(wait_until([] { return g_task_runs == 1; }));
    EXPECT_EQ(bsp::sim::running_tasks(), 1u);
    EXPECT_FALSE(bsp::sim::join_tasks(std::chrono::milliseconds(20)));
    g_task_release = true;
    EXPECT_TRUE(bsp::sim::join_tasks(std::chrono::seconds(10)));
    EXPECT_EQ(bsp::sim::running_tasks(), 0u);
    bsp::sim::inject_fault({bsp::sim::FaultOp::TaskCreate, 1});
    EXPECT_NE(OS_Create_Task(&task, const_cast<CHAR *>("TISOCK"), counting_entry, 0, nullptr), 0);
}

using TimerTest = SimTest;

std::vector<std::pair<uint64_t, UNSIGNED>> g_fired;

void record_os_timer(UNSIGNED id) {
    EXPECT_TRUE(bsp::sim::in_timer_context());
    g_fired.emplace_back(bsp::sim::clock_ms(), id);
}

TEST_F(TimerTest, OsTimerCreatedStoppedRunsOnlyAfterReset) {
    g_fired.clear();
    NU_TIMER timer{};
    ASSERT_EQ(OS_Create_Timer(&timer, const_cast<CHAR *>("ECPS_POLLING"), record_os_timer, 7, 10,
                              10, NU_DISABLE_TIMER),
              0);
    bsp::sim::advance_clock_ms(500);
    EXPECT_TRUE(g_fired.empty());
    ASSERT_EQ(OS_Reset_Timer(&timer, record_os_timer, 10, 20, NU_ENABLE_TIMER), 0);
    bsp::sim::advance_clock_ms(450);
    // Armed at 500 ms: first expiry after 10 ticks, then every 20 ticks.
    std::vector<std::pair<uint64_t, UNSIGNED>> want = {{600, 7}, {800, 7}};
    EXPECT_EQ(g_fired, want);
    EXPECT_EQ(OS_Retrieve_Clock(), 95u);
    ASSERT_EQ(OS_Control_Timer(&timer, NU_DISABLE_TIMER), 0);
    bsp::sim::advance_clock_ms(1000);
    EXPECT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(bsp::sim::enabled_timers(), 0u);
}

std::vector<std::pair<uint64_t, UINT32>> g_service_fired;

void record_service_timer(UINT32 id) {
    g_service_fired.emplace_back(bsp::sim::clock_ms(), id);
}

TEST_F(TimerTest, ServiceTimerRestartsFromFullPeriodOnEnable) {
    g_service_fired.clear();
    UINT32 id = 0;
    ASSERT_EQ(TimerCreate(0, &id, record_service_timer, 0, 1000, 1000, 0), 0);
    EXPECT_NE(id, 0u);
    bsp::sim::advance_clock_ms(3000);
    EXPECT_TRUE(g_service_fired.empty()) << "created stopped";
    TimerEnable(id);
    bsp::sim::advance_clock_ms(900);
    TimerEnable(id);  // restarted: the expiry moves to 3900 + 1000
    bsp::sim::advance_clock_ms(1000);
    ASSERT_EQ(g_service_fired.size(), 1u);
    EXPECT_EQ(g_service_fired[0].first, 4900u);
    EXPECT_EQ(g_service_fired[0].second, id);
    TimerDisable(id);
    bsp::sim::advance_clock_ms(5000);
    EXPECT_EQ(g_service_fired.size(), 1u);
}

}  // namespace
