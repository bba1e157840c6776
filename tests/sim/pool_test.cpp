// Memory pools: first fit, exact availability, and adoption of a pool found again in a
// region mapped at the same address.
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/sim_fixture.h"

namespace {

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

TEST_F(PoolTest, PoolInsideRemappedFileRegionIsComplete) {
    char dir[] = "/tmp/bsp-pool-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/region";
    constexpr uintptr_t kAddress = 0x31000000;
    constexpr size_t kSize = 64 * 1024;
    auto *base = static_cast<uint8_t *>(bsp::sim::map_file_region(path, kSize, kAddress));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(base), kAddress);
    auto *pool = reinterpret_cast<MEM_POOL *>(base);  // the record lives in the region too
    ASSERT_EQ(MEM_Create_Pool(pool, base + 64, kSize - 64, 16), 0);
    void *kept = nullptr;
    void *freed = nullptr;
    ASSERT_EQ(MEM_Allocate(pool, &kept, 40), 0);
    ASSERT_EQ(MEM_Allocate(pool, &freed, 40), 0);
    std::memcpy(kept, "survives a restart", 19);
    ASSERT_EQ(MEM_Deallocate(pool, freed), 0);
    UINT32 available = pool->pool_available;
    bsp::sim::unmap_region(base, kSize);

    base = static_cast<uint8_t *>(bsp::sim::map_file_region(path, kSize, kAddress));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(base), kAddress);
    pool = reinterpret_cast<MEM_POOL *>(base);
    EXPECT_EQ(pool->pool_available, available);
    EXPECT_STREQ(static_cast<char *>(kept), "survives a restart");
    void *again = nullptr;
    ASSERT_EQ(MEM_Allocate(pool, &again, 40), 0);
    EXPECT_EQ(again, freed);
    EXPECT_EQ(MEM_Deallocate(pool, kept), 0);
    bsp::sim::unmap_region(base, kSize);
    unlink(path.c_str());
    rmdir(dir);
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
