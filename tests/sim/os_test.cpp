// The OS service layer as the library relies on it: semaphores, tasks and both timer
// families under the manual clock; memory pools with first fit, exact availability and
// refusal of corrupt bookkeeping, in regions below 4 GiB.
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using bsp::test::SimTest;
using bsp::test::wait_until;

using OsTest = SimTest;

TEST_F(OsTest, SecondObtainerWaitsUntilRelease) {
    NU_SEMAPHORE sem{};
    ASSERT_EQ(OS_Create_Semaphore(&sem, const_cast<CHAR *>("T_SEM"), 1, NU_PRIORITY), 0);
    ASSERT_EQ(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
    EXPECT_NE(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0) << "fails at once when taken";
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

TEST_F(OsTest, DeleteWakesWaiterWithFailure) {
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

std::vector<std::pair<uint64_t, UNSIGNED>> g_fired;

void record_os_timer(UNSIGNED id) {
    EXPECT_TRUE(bsp::sim::in_timer_context());
    g_fired.emplace_back(bsp::sim::clock_ms(), id);
}

TEST_F(OsTest, OsTimerCreatedStoppedRunsOnlyAfterReset) {
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

TEST_F(OsTest, ServiceTimerRestartsFromFullPeriodOnEnable) {
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

using PoolTest = bsp::test::SimTest;

constexpr UNSIGNED kHeader = sizeof(MEM_HEADER);

TEST_F(PoolTest, AllocationsComeFirstFitAndAvailabilityIsExact) {
    auto *region = static_cast<uint8_t *>(bsp::sim::map_low_region(4096));
    ASSERT_NE(region, nullptr);
    // The record names itself by a 32-bit address in every block header: it lies low too.
    MEM_POOL &pool = *reinterpret_cast<MEM_POOL *>(region + 2048);
    ASSERT_EQ(MEM_Create_Pool(&pool, region, 1024, 16), 0);
    EXPECT_EQ(pool.pool_available, 1024 - kHeader);
    void *a = nullptr;
    void *b = nullptr;
    void *c = nullptr;
    ASSERT_EQ(MEM_Allocate(&pool, &a, 0), 0) << "a 0-byte request is served";
    ASSERT_EQ(MEM_Allocate(&pool, &b, 100), 0);
    EXPECT_EQ(static_cast<char *>(b) - static_cast<char *>(a), 16 + kHeader)
        << "every block holds at least the minimum allocation";
    EXPECT_EQ(pool.pool_available, 1024 - 3 * kHeader - 16 - 100);
    ASSERT_EQ(MEM_Deallocate(&pool, a), 0);
    ASSERT_EQ(MEM_Allocate(&pool, &c, 8), 0);
    EXPECT_EQ(c, a) << "first fit reuses the first free block";
    ASSERT_EQ(MEM_Deallocate(&pool, b), 0);
    ASSERT_EQ(MEM_Deallocate(&pool, c), 0);
    EXPECT_EQ(pool.pool_available, 1024 - kHeader) << "free neighbours merge back into one";
    bsp::sim::unmap_region(region, 4096);
}

TEST_F(PoolTest, ExhaustionAndStrayPointersAreRefused) {
    auto *region = static_cast<uint8_t *>(bsp::sim::map_low_region(4096));
    MEM_POOL &pool = *reinterpret_cast<MEM_POOL *>(region + 3072);
    ASSERT_EQ(MEM_Create_Pool(&pool, region, 256, 16), 0);
    void *big = nullptr;
    EXPECT_NE(MEM_Allocate(&pool, &big, 256), 0);
    ASSERT_EQ(MEM_Allocate(&pool, &big, 256 - kHeader), 0);
    void *more = nullptr;
    EXPECT_NE(MEM_Allocate(&pool, &more, 0), 0);
    EXPECT_EQ(pool.pool_available, 0u);
    EXPECT_NE(MEM_Deallocate(&pool, static_cast<char *>(big) + 4), 0);
    EXPECT_NE(MEM_Deallocate(&pool, region + 2048), 0);
    if constexpr (sizeof(void *) > 4) {
        MEM_POOL high{};
        EXPECT_NE(MEM_Create_Pool(&high, region, 256, 16), 0) << "a record above 4 GiB is refused";
    }
    EXPECT_EQ(MEM_Deallocate(&pool, big), 0);
    EXPECT_NE(MEM_Deallocate(&pool, big), 0) << "double free refused";
    bsp::sim::inject_fault({bsp::sim::FaultOp::PoolAllocate, 1});
    EXPECT_NE(MEM_Allocate(&pool, &more, 4), 0);
    bsp::sim::unmap_region(region, 4096);
}

TEST_F(PoolTest, CorruptBookkeepingIsRefusedNotFollowed) {
    auto *region = static_cast<uint8_t *>(bsp::sim::map_low_region(4096));
    MEM_POOL &pool = *reinterpret_cast<MEM_POOL *>(region + 3072);
    ASSERT_EQ(MEM_Create_Pool(&pool, region, 1024, 16), 0);
    void *a = nullptr;
    ASSERT_EQ(MEM_Allocate(&pool, &a, 32), 0);
    auto *taken = reinterpret_cast<MEM_HEADER *>(region);
    auto *rest = reinterpret_cast<MEM_HEADER *>(region + kHeader + 32);
    const UINT32 rest_addr = static_cast<UINT32>(reinterpret_cast<uintptr_t>(rest));
    void *b = nullptr;
    rest->memory_next = 0x7FFFFFF0;  // a link out of the pool
    EXPECT_NE(MEM_Allocate(&pool, &b, 8), 0);
    rest->memory_next = rest_addr;  // a loop
    EXPECT_NE(MEM_Allocate(&pool, &b, 8), 0);
    rest->memory_next = 0;
    taken->memory_next = 0x7FFFFFF0;
    EXPECT_NE(MEM_Deallocate(&pool, a), 0);
    taken->memory_next = rest_addr;
    pool.memory_list += 4;  // a record that does not start the chain
    EXPECT_NE(MEM_Allocate(&pool, &b, 8), 0);
    pool.memory_list -= 4;
    EXPECT_EQ(MEM_Allocate(&pool, &b, 8), 0) << "sound again once repaired";
    EXPECT_EQ(MEM_Deallocate(&pool, a), 0);
    bsp::sim::unmap_region(region, 4096);
}

TEST_F(PoolTest, RegionsBelowFourGigabytes) {
    void *p = bsp::sim::map_low_region(1 << 20);
    ASSERT_NE(p, nullptr);
    EXPECT_LE(uint64_t{reinterpret_cast<uintptr_t>(p)} + (1 << 20), uint64_t{1} << 32);
    bsp::sim::unmap_region(p, 1 << 20);
    // A database over an address that names no mapped memory is told before the crash (the
    // store's name is read first, so only the last digit may differ).
    auto base = static_cast<UINT32>(reinterpret_cast<uintptr_t>(p));
    char digits[8];
    std::snprintf(digits, sizeof digits, "%07x", base >> 4);
    EXPECT_DEATH(DbCreate(0, base, 4096),
                 std::string("bsp_sim: address 0x") + digits + "[0-9a-f] names no mapped memory");
}

}  // namespace
