// The store's object operations: results, list order, cursor moves, in-place replacement
// and pool exhaustion.
#include <zlib.h>

#include <algorithm>
#include <map>
#include <random>

#include "db_fixture.h"
#include "support/capture.h"

namespace bsp::test {
namespace {

Key k(UINT8 first) {
    return Key{first, 0, 0, 0};
}

class StoreObjectsTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        id_ = layout();
    }
    int put(UINT8 first, const std::string &data = "d") {
        return st_put_obj(id_, k(first).data(), data.data(), static_cast<UINT32>(data.size()));
    }
    int get(UINT8 first) { return st_get_obj(id_, k(first).data(), nullptr, 0); }
    UINT32 data_ptr(UINT8 first) {
        EXPECT_EQ(get(first), 0);
        UINT32 node = header()->st_obj_search;
        return reinterpret_cast<const STORE_OBJ_DESC *>(uintptr_t{node})->st_obj_ptr;
    }
    UINT32 id_ = 0;
};

TEST(StoreKeyTest, KeyIsCrc32InLittleEndianOrder) {
    Key key{};
    ASSERT_EQ(st_obj_key("123456789", 9, key.data()), 0);
    EXPECT_EQ(key, (Key{0x26, 0x39, 0xF4, 0xCB}));
    ASSERT_EQ(st_obj_key("", 0, key.data()), 0);
    EXPECT_EQ(key, (Key{0, 0, 0, 0}));
    EXPECT_EQ(st_obj_key(nullptr, 0, key.data()), 0);
    EXPECT_EQ(st_obj_key(nullptr, 3, key.data()), -1);
    EXPECT_EQ(st_obj_key("a", 1, nullptr), -1);
}

TEST(StoreKeyTest, CompareIsBytewiseFirstByteMostSignificant) {
    Key a{1, 0, 0, 0}, b{0, 255, 255, 255};
    EXPECT_GT(st_obj_cmp(a.data(), b.data()), 0);
    EXPECT_LT(st_obj_cmp(b.data(), a.data()), 0);
    EXPECT_EQ(st_obj_cmp(a.data(), a.data()), 0);
}

TEST_F(StoreObjectsTest, PutOfExistingKeyReturns1AndKeepsData) {
    ASSERT_EQ(put(1, "first"), 0);
    EXPECT_EQ(put(1, "second"), 1);
    char buf[16] = {};
    ASSERT_EQ(st_get_obj(id_, k(1).data(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "first");
}

TEST_F(StoreObjectsTest, NamesWithSameCrcNameSameObject) {
    ASSERT_EQ(crc32(0, reinterpret_cast<const Bytef *>("plumless"), 8),
              crc32(0, reinterpret_cast<const Bytef *>("buckeroo"), 8));
    EXPECT_EQ(key_of("plumless"), key_of("buckeroo"));
    ASSERT_EQ(st_put_obj(id_, key_of("plumless").data(), "a", 1), 0);
    EXPECT_EQ(st_put_obj(id_, key_of("buckeroo").data(), "b", 1), 1);
}

TEST_F(StoreObjectsTest, StoreIdZeroAndNullArgumentsAreRefused) {
    Key key = k(1);
    char buf[4];
    EXPECT_EQ(st_put_obj(0, key.data(), "a", 1), -1);
    EXPECT_EQ(st_del_obj(0, key.data()), -1);
    EXPECT_EQ(st_set_obj(0, key.data(), "a", 1), -1);
    EXPECT_EQ(st_get_obj(0, key.data(), buf, 4), -1);
    EXPECT_EQ(st_put_obj(id_, nullptr, "a", 1), -1);
    EXPECT_EQ(st_put_obj(id_, key.data(), nullptr, 1), -1);
    ASSERT_EQ(st_put_obj(id_, key.data(), nullptr, 0), 0);
    EXPECT_EQ(st_set_obj(id_, key.data(), nullptr, 2), -1);
    EXPECT_EQ(st_get_obj(id_, key.data(), nullptr, 2), -1);
    EXPECT_EQ(st_del_obj(id_, nullptr), -1);
}

TEST_F(StoreObjectsTest, MissingKeyReturns1) {
    ASSERT_EQ(put(1), 0);
    EXPECT_EQ(st_del_obj(id_, k(2).data()), 1);
    EXPECT_EQ(st_set_obj(id_, k(2).data(), "x", 1), 1);
    EXPECT_EQ(get(2), 1);
}

struct PutOrder {
    const char *what;
    std::vector<UINT8> keys;
};

class PutOrderTest : public StoreObjectsTest, public ::testing::WithParamInterface<PutOrder> {};

// After every put the list from the head is ascending (a smaller key becomes the head).
TEST_P(PutOrderTest, ListIsAscendingAndCursorOnLastPut) {
    std::vector<Key> want;
    for (UINT8 first : GetParam().keys) {
        ASSERT_EQ(put(first), 0);
        EXPECT_EQ(cursor_key(), k(first));
        want.insert(std::upper_bound(want.begin(), want.end(), k(first)), k(first));
        EXPECT_EQ(listed_keys(), want);
    }
    auto *head = reinterpret_cast<const STORE_OBJ_DESC *>(uintptr_t{header()->st_obj_head});
    auto *tail = reinterpret_cast<const STORE_OBJ_DESC *>(uintptr_t{head->st_obj_prev});
    EXPECT_EQ(tail->st_obj_key[0], want.back()[0]);
    EXPECT_EQ(tail->st_obj_next, header()->st_obj_head);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, PutOrderTest,
    ::testing::Values(PutOrder{"Single", {7}}, PutOrder{"Ascending", {1, 2, 3, 4, 5}},
                      PutOrder{"Descending", {5, 4, 3, 2, 1}},
                      PutOrder{"Between", {10, 30, 20, 40, 25, 5, 35}},
                      PutOrder{"Zigzag", {50, 10, 90, 20, 80, 30, 70, 40, 60}}),
    [](const auto &p) { return std::string(p.param.what); });

TEST_F(StoreObjectsTest, SearchMovesTheCursorAsDocumented) {
    for (UINT8 first : {10, 20, 30, 40}) {
        ASSERT_EQ(put(first), 0);
    }
    // Between two keys the cursor stops on the smaller neighbour; beyond either end of the
    // list it ends on the head.
    struct Step {
        UINT8 key;
        int found;
        UINT8 cursor;
    };
    for (Step s : {Step{30, 0, 30}, Step{25, 1, 20}, Step{35, 1, 30}, Step{5, 1, 10},
                   Step{40, 0, 40}, Step{99, 1, 10}, Step{20, 0, 20}, Step{1, 1, 10}}) {
        EXPECT_EQ(get(s.key), s.found) << int{s.key};
        EXPECT_EQ(cursor_key(), k(s.cursor)) << int{s.key};
    }
}

TEST_F(StoreObjectsTest, ZeroLengthObjectCanBePutReadAndReplaced) {
    ASSERT_EQ(put(1, ""), 0);
    char buf[4] = {'x', 'x', 'x', 'x'};
    ASSERT_EQ(st_get_obj(id_, k(1).data(), buf, sizeof buf), 0);
    EXPECT_EQ(buf[0], 'x');
    ASSERT_EQ(st_set_obj(id_, k(1).data(), "abc", 3), 0);
    ASSERT_EQ(st_get_obj(id_, k(1).data(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf, 3), "abc");
    ASSERT_EQ(st_set_obj(id_, k(1).data(), nullptr, 0), 0);
}

struct Replace {
    UINT32 from;
    UINT32 to;
    bool moves;
};

class ReplaceTest : public StoreObjectsTest, public ::testing::WithParamInterface<Replace> {};

TEST_P(ReplaceTest, KeepsOrMovesTheBlock) {
    const Replace &r = GetParam();
    ASSERT_EQ(put(1, std::string(r.from, 'a')), 0);
    UINT32 before = data_ptr(1);
    std::string next(r.to, 'b');
    ASSERT_EQ(st_set_obj(id_, k(1).data(), next.data(), r.to), 0);
    EXPECT_EQ(data_ptr(1) != before, r.moves);
    std::string got(r.to + 4, '\0');
    ASSERT_EQ(st_get_obj(id_, k(1).data(), got.data(), static_cast<UINT32>(got.size())), 0);
    EXPECT_EQ(got, next + std::string(4, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReplaceTest,
                         ::testing::Values(Replace{10, 16, false}, Replace{10, 17, true},
                                           Replace{40, 40, false}, Replace{40, 20, true},
                                           Replace{0, 16, false}, Replace{16, 0, false},
                                           Replace{17, 3, true}));

TEST_F(StoreObjectsTest, GetCopiesTheSmallerOfBufferAndObject) {
    ASSERT_EQ(put(1, "abcdef"), 0);
    char small[3] = {'-', '-', '-'};
    ASSERT_EQ(st_get_obj(id_, k(1).data(), small, 2), 0);
    EXPECT_EQ(std::string(small, 3), "ab-");
    std::string big(10, '-');
    ASSERT_EQ(st_get_obj(id_, k(1).data(), big.data(), 10), 0);
    EXPECT_EQ(big, "abcdef----");
}

TEST_F(StoreObjectsTest, DeletingTheOnlyObjectEmptiesTheList) {
    UINT32 available = pool()->pool_available;
    ASSERT_EQ(put(1, std::string(100, 'x')), 0);
    ASSERT_EQ(st_del_obj(id_, k(1).data()), 0);
    EXPECT_EQ(header()->st_obj_head, 0u);
    EXPECT_EQ(header()->st_obj_search, 0u);
    EXPECT_EQ(pool()->pool_available, available);
}

TEST_F(StoreObjectsTest, DeletingTheHeadOrCursorMovesThemToTheSuccessor) {
    for (UINT8 first : {10, 20, 30}) {
        ASSERT_EQ(put(first), 0);
    }
    ASSERT_EQ(st_del_obj(id_, k(10).data()), 0);  // head and cursor
    EXPECT_EQ(listed_keys(), (std::vector<Key>{k(20), k(30)}));
    EXPECT_EQ(cursor_key(), k(20));
    ASSERT_EQ(st_del_obj(id_, k(30).data()), 0);  // the tail: its successor is the head
    EXPECT_EQ(cursor_key(), k(20));
    EXPECT_EQ(listed_keys(), (std::vector<Key>{k(20)}));
}

TEST_F(StoreObjectsTest, PutWithoutRoomForDescriptorLeavesNothingBehind) {
    ASSERT_EQ(put(1), 0);
    UINT32 available = pool()->pool_available;
    fail_nth(sim::FaultOp::PoolAllocate, 2);
    EXPECT_EQ(put(2, "abc"), -2);
    EXPECT_EQ(pool()->pool_available, available);
    EXPECT_EQ(listed_keys(), std::vector<Key>{k(1)});
}

TEST_F(StoreObjectsTest, PutIntoFullPoolReturnsMinus2) {
    EXPECT_EQ(put(1, std::string(kRegionSize, 'x')), -2);
    int n = 0;
    while (put(static_cast<UINT8>(n + 1), std::string(1000, 'x')) == 0) {
        ++n;
    }
    EXPECT_GT(n, 50);
    EXPECT_EQ(static_cast<int>(listed_keys().size()), n);
}

TEST_F(StoreObjectsTest, FailedMoveKeepsTheOldContents) {
    ASSERT_EQ(put(1, std::string(40, 'a')), 0);
    fail_nth(sim::FaultOp::PoolAllocate, 1);
    EXPECT_EQ(st_set_obj(id_, k(1).data(), std::string(80, 'b').data(), 80), -2);
    std::string got(80, '\0');
    ASSERT_EQ(st_get_obj(id_, k(1).data(), got.data(), 80), 0);
    EXPECT_EQ(got, std::string(40, 'a') + std::string(40, '\0'));
}

TEST_F(StoreObjectsTest, FreedSpaceIsReusedFirstFit) {
    for (UINT8 first : {1, 2, 3}) {
        ASSERT_EQ(put(first, std::string(100, 'x')), 0);
    }
    UINT32 freed = data_ptr(1);
    ASSERT_EQ(st_del_obj(id_, k(1).data()), 0);
    ASSERT_EQ(put(4, std::string(100, 'y')), 0);
    EXPECT_EQ(data_ptr(4), freed);
}

// Damage done after adoption (a stray write through the region) is found by the walks:
// refused with -1, never followed out of the pool.
TEST_F(StoreObjectsTest, LinksDamagedLaterAreRefusedNotFollowed) {
    for (UINT8 first : {10, 20, 30, 40}) {
        ASSERT_EQ(put(first), 0);
    }
    ASSERT_EQ(get(10), 0);
    auto *head = reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{header()->st_obj_head});
    UINT32 saved = head->st_obj_next;
    head->st_obj_next = 0x10;
    EXPECT_EQ(get(30), -1);
    EXPECT_EQ(put(35), -1);
    EXPECT_EQ(st_del_obj(id_, k(10).data()), -1);
    EXPECT_EQ(cursor_key(), k(10)) << "nothing moved";
    head->st_obj_next = saved;
    auto *second = reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{saved});
    UINT32 third = second->st_obj_next;
    second->st_obj_next = saved;  // a loop that never comes back to the head
    {
        StdoutCapture quiet;
        EXPECT_EQ(st_dump(id_), -1);
    }
    EXPECT_EQ(get(40), -1);
    second->st_obj_next = third;
    EXPECT_EQ(get(30), 0);
    auto *tail = reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{header()->st_obj_search});
    tail->st_obj_len = 0xFFFFFF00;
    char buf[4];
    EXPECT_EQ(st_get_obj(id_, k(30).data(), buf, 4), -1);
    EXPECT_EQ(st_set_obj(id_, k(30).data(), "abc", 3), -1);
}

// Random puts, replacements and deletes against a model: the list stays sorted, every object
// reads back, and the pool returns to its start when everything is deleted.
TEST_F(StoreObjectsTest, RandomOperationsMatchAModel) {
    UINT32 available = pool()->pool_available;
    std::mt19937 rng(1234);
    std::map<Key, std::string> model;
    for (int i = 0; i < 3000; ++i) {
        Key key{static_cast<UINT8>(rng() % 64), static_cast<UINT8>(rng() % 4), 0, 0};
        std::string data(rng() % 40, static_cast<char>('a' + rng() % 26));
        UINT32 n = static_cast<UINT32>(data.size());
        switch (rng() % 3) {
            case 0:
                ASSERT_EQ(st_put_obj(id_, key.data(), data.data(), n), model.count(key) ? 1 : 0);
                model.emplace(key, data);
                break;
            case 1:
                ASSERT_EQ(st_set_obj(id_, key.data(), data.data(), n), model.count(key) ? 0 : 1);
                if (model.count(key)) {
                    model[key] = data;
                }
                break;
            default:
                ASSERT_EQ(st_del_obj(id_, key.data()), model.erase(key) ? 0 : 1);
        }
    }
    std::vector<Key> keys;
    for (auto &[key, data] : model) {
        keys.push_back(key);
        std::string got(data.size() + 1, '#');
        ASSERT_EQ(st_get_obj(id_, key.data(), got.data(), static_cast<UINT32>(got.size())), 0);
        EXPECT_EQ(got, data + "#");
    }
    EXPECT_EQ(listed_keys(), keys);
    UINT32 again = 0;
    ASSERT_EQ(st_init(&again, base(), kRegionSize), 0);  // the region still checks out
    for (auto &[key, data] : model) {
        ASSERT_EQ(st_del_obj(id_, key.data()), 0);
    }
    EXPECT_EQ(pool()->pool_available, available);
}

}  // namespace
}  // namespace bsp::test
