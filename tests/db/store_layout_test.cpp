// Laying out a store region and adopting one: the header bytes, and the refusal of regions
// that are unusable or damaged (left untouched, nothing crashes).
#include "db_fixture.h"

namespace bsp::test {
namespace {

UINT32 word_at(const UINT8 *p) {
    UINT32 v;
    std::memcpy(&v, p, 4);
    return v;
}

STORE_OBJ_DESC *desc(UINT32 addr) {
    return reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{addr});
}

TEST_F(StoreTest, InitOnZeroRegionLaysOutEmptyStore) {
    std::memset(region_ + 56, 0xAA, 200);
    UINT32 id = 0;
    ASSERT_EQ(st_init(&id, base(), 4096), 0);
    EXPECT_EQ(id, base());
    EXPECT_EQ(0, std::memcmp(region_,
                             "store\0\0\0"
                             "1.0\0\0\0\0\0",
                             16));
    EXPECT_EQ(word_at(region_ + 16), base());
    EXPECT_EQ(word_at(region_ + 20), 4096u);
    EXPECT_EQ(word_at(region_ + 24), base() + 256);  // pool_addr
    EXPECT_EQ(word_at(region_ + 28), 4096u - 256);   // pool_size
    EXPECT_EQ(word_at(region_ + 32), 16u);           // pool_min_allocation
    EXPECT_GT(word_at(region_ + 36), 0u);            // pool_available
    EXPECT_LE(word_at(region_ + 36), 4096u - 256);
    EXPECT_EQ(word_at(region_ + 48), 0u);  // st_obj_head
    EXPECT_EQ(word_at(region_ + 52), 0u);  // st_obj_search
    for (int i = 56; i < 256; ++i) {
        ASSERT_EQ(region_[i], 0xAA) << "byte " << i;
    }
}

TEST_F(StoreTest, InitAdoptsStoreWithObjectsWhenGivenAtLeastItsSize) {
    UINT32 id = layout(32 * 1024);
    Key a = key_of("alpha"), b = key_of("beta");
    ASSERT_EQ(st_put_obj(id, a.data(), "one", 3), 0);
    ASSERT_EQ(st_put_obj(id, b.data(), "two!", 4), 0);
    auto before = snapshot();
    UINT32 again = 0;
    ASSERT_EQ(st_init(&again, base(), kRegionSize), 0);
    EXPECT_EQ(again, id);
    EXPECT_EQ(snapshot(), before);
    char buf[8] = {};
    ASSERT_EQ(st_get_obj(id, b.data(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "two!");
    EXPECT_EQ(header()->st_size, 32u * 1024);
}

TEST_F(StoreTest, ReinitEmptiesStoreWithObjects) {
    UINT32 id = layout();
    ASSERT_EQ(st_put_obj(id, key_of("a").data(), "x", 1), 0);
    UINT32 available = pool()->pool_available;
    UINT32 again = 0;
    ASSERT_EQ(st_reinit(&again, base(), kRegionSize), 0);
    EXPECT_EQ(again, base());
    EXPECT_EQ(header()->st_obj_head, 0u);
    EXPECT_EQ(header()->st_obj_search, 0u);
    EXPECT_GT(pool()->pool_available, available);
    EXPECT_EQ(st_get_obj(id, key_of("a").data(), nullptr, 0), 1);
}

struct UnusableRegion {
    const char *what;
    bool null_id;
    int64_t base_offset;  // from the test region; -1: address 0
    UINT32 size;
};

class UnusableRegionTest : public StoreTest,
                           public ::testing::WithParamInterface<UnusableRegion> {};

TEST_P(UnusableRegionTest, InitAndReinitRefuseWithoutWriting) {
    const UnusableRegion &r = GetParam();
    UINT32 at = r.base_offset < 0 ? 0 : base() + static_cast<UINT32>(r.base_offset);
    UINT32 id = 5;
    UINT32 *id_ptr = r.null_id ? nullptr : &id;
    auto before = snapshot();
    EXPECT_EQ(st_init(id_ptr, at, r.size), -1);
    EXPECT_EQ(st_reinit(id_ptr, at, r.size), -1);
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(snapshot(), before);
    if (!r.null_id) {
        EXPECT_EQ(DbCreate(0, at, r.size), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Regions, UnusableRegionTest,
                         ::testing::Values(UnusableRegion{"NullId", true, 0, 4096},
                                           UnusableRegion{"Size256", false, 0, 256},
                                           UnusableRegion{"Size0", false, 0, 0},
                                           UnusableRegion{"AddressZero", false, -1, 4096},
                                           UnusableRegion{"Unaligned", false, 2, 4096},
                                           UnusableRegion{"Beyond4GiB", false, 0, 0xFFFFFFFF}),
                         [](const auto &p) { return std::string(p.param.what); });

TEST_F(StoreTest, RegionTooSmallForAPoolIsRefused) {
    UINT32 id = 0;
    EXPECT_EQ(st_init(&id, base(), 260), -1);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(st_init(&id, base(), 1024), 0);
    EXPECT_EQ(id, base());
}

// A store of three objects (keys 10.., 20.., 30..) with one kind of damage done to it.
struct Parts {
    STORE *st;
    STORE_OBJ_DESC *first, *mid, *last;
};

using P = const Parts &;

struct Damage {
    const char *what;
    void (*apply)(P d);
};

class DamagedStoreTest : public StoreTest, public ::testing::WithParamInterface<Damage> {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        UINT32 id = layout();
        for (UINT8 k : {0x10, 0x20, 0x30}) {
            Key key{k, 0, 0, 0};
            ASSERT_EQ(st_put_obj(id, key.data(), "data", 4), 0);
        }
        STORE_OBJ_DESC *first = desc(header()->st_obj_head);
        GetParam().apply({header(), first, desc(first->st_obj_next), desc(first->st_obj_prev)});
    }
};

TEST_P(DamagedStoreTest, IsRefusedAndLeftUntouched) {
    auto before = snapshot();
    UINT32 id = 9;
    EXPECT_EQ(st_init(&id, base(), kRegionSize), -1);
    EXPECT_EQ(id, 9u);
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
    EXPECT_EQ(snapshot(), before);
    UINT32 dummy = 0;
    EXPECT_EQ(DbObjOpen(0, &dummy, const_cast<char *>("x"), const_cast<char *>("w")), 1u);
    // Wiping stays possible.
    ASSERT_EQ(st_reinit(&id, base(), kRegionSize), 0);
    EXPECT_EQ(header()->st_obj_head, 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Damages, DamagedStoreTest, ::testing::Values(
    Damage{"OtherVersion", [](P d) { std::memcpy(d.st->st_version, "2.0", 3); }},
    Damage{"AddressNotBase", [](P d) { d.st->st_addr += 4096; }},
    Damage{"SizeBeyondRegion", [](P d) { d.st->st_size = StoreTest::kRegionSize + 4096; }},
    Damage{"SizeWithinHeader", [](P d) { d.st->st_size = 200; }},
    Damage{"PoolElsewhere", [](P d) { d.st->st_pool.pool_addr += 4; }},
    Damage{"PoolBeyondStore", [](P d) { d.st->st_pool.pool_size = d.st->st_size; }},
    Damage{"MinAllocationChanged", [](P d) { d.st->st_pool.pool_min_allocation = 4096; }},
    Damage{"PoolListInHeader", [](P d) { d.st->st_pool.memory_list = d.st->st_addr + 8; }},
    Damage{"HeadInHeader", [](P d) { d.st->st_obj_head = d.st->st_addr + 100; }},
    Damage{"HeadWithoutCursor", [](P d) { d.st->st_obj_search = 0; }},
    Damage{"CursorNotListed", [](P d) { d.st->st_obj_search = d.first->st_obj_ptr; }},
    Damage{"NextOutsidePool", [](P d) { d.mid->st_obj_next = 0x10; }},
    Damage{"NextAtPoolEnd", [](P d) { d.mid->st_obj_next = d.st->st_addr + d.st->st_size - 10; }},
    Damage{"LinksDisagree", [](P d) { d.last->st_obj_prev = addr32(d.first); }},
    Damage{"KeysNotAscending", [](P d) { d.first->st_obj_key[0] = 0x40; }},
    Damage{"DuplicateKeys", [](P d) { d.mid->st_obj_key[0] = 0x30; }},
    Damage{"DataOutsidePool", [](P d) { d.mid->st_obj_ptr = d.st->st_addr + 16; }},
    Damage{"DataBeyondPool", [](P d) { d.last->st_obj_len = 0xFFFFFFF0; }},
    // first <-> last skipping mid, while mid still points into the list
    Damage{"SingleLinkedToOther", [](P d) { d.first->st_obj_next = addr32(d.last); }}),
    [](const auto &p) { return std::string(p.param.what); });
// clang-format on

}  // namespace
}  // namespace bsp::test
