// The object database and the store under it. The store: the header it lays out, the regions
// it refuses or finds damaged, its object operations (results, list order, cursor moves,
// in-place replacement, pool exhaustion) and its printouts with their exact text. The API:
// creation, open modes, read/write/close/remove, ids that name no live record, OS failures
// injected in the simulated host, and a second opener waiting.
// Each test has a fresh unit with a store region at a fixed address below 4 GiB, backed by a
// file as on the unit (the shell transcript adopts it again after a restart).
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/db_dev.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using Key = std::array<UINT8, 4>;

Key k(UINT8 first) {
    return Key{first, 0, 0, 0};
}

Key key_of(const std::string &name) {
    Key key{};
    st_obj_key(name.c_str(), static_cast<UINT32>(name.size()), key.data());
    return key;
}

UINT32 addr32(const void *p) {
    return static_cast<UINT32>(reinterpret_cast<uintptr_t>(p));
}

STORE_OBJ_DESC *desc(UINT32 addr) {
    return reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{addr});
}

UINT32 open_status(const char *name, const char *mode, UINT32 *id, UINT32 db = 0) {
    return DbObjOpen(db, id, const_cast<char *>(name), const_cast<char *>(mode));
}

// Semaphores called `name`, or with `waiters` the threads suspended on them.
int semaphores_named(const char *name, bool waiters = false) {
    int n = 0;
    for (const auto &s : sim::semaphores()) {
        n += s.name == name ? (waiters ? s.waiters : 1) : 0;
    }
    return n;
}

// One store region per test at kBase.
class StoreTest : public SimTest {
  public:
    static constexpr uintptr_t kBase = 0x31000000;
    static constexpr size_t kRegionSize = 64 * 1024;

  protected:
    void SetUp() override {
        SimTest::SetUp();
        char path[] = "/tmp/bsp_store_XXXXXX";
        int fd = ::mkstemp(path);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path_ = path;
        region_ = static_cast<UINT8 *>(sim::map_file_region(path_, kRegionSize, kBase));
        ASSERT_NE(region_, nullptr) << "address 0x31000000 is taken";
    }
    void TearDown() override {
        sim::unmap_region(region_, kRegionSize);
        ::unlink(path_.c_str());
        SimTest::TearDown();
    }

    UINT32 base() const { return addr32(region_); }
    STORE *header() const { return reinterpret_cast<STORE *>(region_); }
    const MEM_POOL *pool() const { return reinterpret_cast<const MEM_POOL *>(region_ + 24); }
    Bytes snapshot() const { return {region_, region_ + kRegionSize}; }

    // Lays out a store of `size` bytes over the region and returns its id.
    UINT32 layout(UINT32 size = kRegionSize) {
        UINT32 id = 0;
        EXPECT_EQ(st_init(&id, base(), size), 0);
        return id;
    }

    // The key under the search cursor (all zero when the store is empty).
    Key cursor_key() const { return key_at(header()->st_obj_search); }

    static Key key_at(UINT32 node) {
        if (node == 0) {
            return Key{};
        }
        const UINT8 *key = desc(node)->st_obj_key;
        return {key[0], key[1], key[2], key[3]};
    }

    std::string path_;
    UINT8 *region_ = nullptr;
};

TEST(StoreKeyTest, KeyIsCrc32InLittleEndianOrderComparedFirstByteFirst) {
    Key key{};
    ASSERT_EQ(st_obj_key("123456789", 9, key.data()), 0);
    EXPECT_EQ(key, (Key{0x26, 0x39, 0xF4, 0xCB}));
    ASSERT_EQ(st_obj_key("", 0, key.data()), 0);
    EXPECT_EQ(key, (Key{0, 0, 0, 0}));
    EXPECT_EQ(st_obj_key(nullptr, 0, key.data()), 0);
    EXPECT_EQ(st_obj_key(nullptr, 3, key.data()), -1);
    EXPECT_EQ(st_obj_key("a", 1, nullptr), -1);
    Key a{1, 0, 0, 0}, b{0, 255, 255, 255};
    EXPECT_GT(st_obj_cmp(a.data(), b.data()), 0);
    EXPECT_LT(st_obj_cmp(b.data(), a.data()), 0);
    EXPECT_EQ(st_obj_cmp(a.data(), a.data()), 0);
}

TEST_F(StoreTest, InitOnZeroRegionLaysOutEmptyStore) {
    std::memset(region_ + 56, 0xAA, 200);
    UINT32 id = 0;
    EXPECT_EQ(st_init(nullptr, base(), 4096) + st_reinit(nullptr, base(), 4096), -2);
    EXPECT_EQ(region_[0], 0);
    EXPECT_EQ(st_init(&id, base(), 260), -1);  // no room for a pool: no store named
    EXPECT_EQ(region_[0], 0);
    EXPECT_EQ(id, 0u);
    ASSERT_EQ(st_init(&id, base(), 4096), 0);
    EXPECT_EQ(id, base());
    // Name, version, address and size; the pool's address, size, minimum allocation and
    // free bytes; then (after the pool's list) the list head and the search cursor.
    EXPECT_EQ(hex(region_, 40),
              "73 74 6f 72 65 00 00 00 31 2e 30 00 00 00 00 00 00 00 00 31 00 10 00 00 "
              "00 01 00 31 00 0f 00 00 10 00 00 00 f0 0e 00 00");
    EXPECT_EQ(hex(region_ + 48, 8), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(Bytes(region_ + 56, region_ + 256), Bytes(200, 0xAA));
}

TEST_F(StoreTest, InitAdoptsStoreWithObjectsWhenGivenAtLeastItsSizeAndReinitEmptiesIt) {
    UINT32 id = layout(32 * 1024);
    ASSERT_EQ(st_put_obj(id, key_of("alpha").data(), "one", 3), 0);
    ASSERT_EQ(st_put_obj(id, key_of("beta").data(), "two!", 4), 0);
    auto before = snapshot();
    UINT32 again = 0;
    ASSERT_EQ(st_init(&again, base(), kRegionSize), 0);
    EXPECT_EQ(again, id);
    EXPECT_EQ(snapshot(), before);
    char buf[8] = {};
    ASSERT_EQ(st_get_obj(id, key_of("beta").data(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "two!");
    EXPECT_EQ(header()->st_size, 32u * 1024);
    std::string moved(500, 'r');  // the adopted pool goes on serving
    ASSERT_EQ(st_set_obj(id, key_of("alpha").data(), moved.data(), 500), 0);
    UINT32 available = pool()->pool_available;
    ASSERT_EQ(st_reinit(&again, base(), kRegionSize), 0);
    EXPECT_EQ(again, base());
    EXPECT_EQ(header()->st_obj_head, 0u);
    EXPECT_GT(pool()->pool_available, available);
    EXPECT_EQ(st_get_obj(id, key_of("beta").data(), nullptr, 0), 1);
}

// A region at an offset from the test region (-1: address 0) and of a size.
class UnusableRegionTest : public StoreTest,
                           public ::testing::WithParamInterface<std::pair<int64_t, UINT32>> {};

TEST_P(UnusableRegionTest, InitAndReinitRefuseWithoutWriting) {
    auto [offset, size] = GetParam();
    UINT32 at = offset < 0 ? 0 : base() + static_cast<UINT32>(offset);
    UINT32 id = 5;
    EXPECT_EQ(st_init(&id, at, size), -1);
    EXPECT_EQ(st_reinit(&id, at, size), -1);
    EXPECT_EQ(DbCreate(0, at, size), 1u);
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(snapshot(), Bytes(kRegionSize, 0));
}

INSTANTIATE_TEST_SUITE_P(Regions, UnusableRegionTest,
                         ::testing::Values(std::pair{0, 256}, std::pair{0, 0}, std::pair{-1, 4096},
                                           std::pair{2, 4096} /* unaligned */,
                                           std::pair{0, 0xFFFFFFFF} /* beyond 4 GiB */));

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

class DamagedStoreTest : public StoreTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedStoreTest, IsRefusedAndLeftUntouched) {
    UINT32 id = layout();
    for (UINT8 first : {0x10, 0x20, 0x30}) {
        ASSERT_EQ(st_put_obj(id, k(first).data(), "data", 4), 0);
    }
    STORE_OBJ_DESC *first = desc(header()->st_obj_head);
    GetParam().apply({header(), first, desc(first->st_obj_next), desc(first->st_obj_prev)});
    auto before = snapshot();
    id = 9;
    EXPECT_EQ(st_init(&id, base(), kRegionSize), -1);
    EXPECT_EQ(id, 9u);
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(open_status("x", "w", &id), 1u);
    ASSERT_EQ(st_reinit(&id, base(), kRegionSize), 0);  // wiping stays possible
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
    // `size` bytes over a buffer of '#' where a get copies up to `copied` of them.
    std::string read(UINT8 first, size_t size, size_t copied) {
        std::string got(size, '#');
        EXPECT_EQ(st_get_obj(id_, k(first).data(), got.data(), static_cast<UINT32>(copied)), 0);
        return got;
    }
    UINT32 data_ptr(UINT8 first) {
        EXPECT_EQ(get(first), 0);
        return desc(header()->st_obj_search)->st_obj_ptr;
    }
    UINT32 id_ = 0;
};

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
    EXPECT_EQ(st_put_obj(id_, key.data(), "a", 1), 1);   // stored already: kept
    EXPECT_EQ(st_set_obj(id_, k(2).data(), "a", 1), 1);  // not stored
    EXPECT_EQ(st_del_obj(id_, k(2).data()), 1);
    EXPECT_EQ(st_set_obj(id_, key.data(), nullptr, 2), -1);
    EXPECT_EQ(st_set_obj(id_, key.data(), nullptr, 0), 0);
    EXPECT_EQ(st_get_obj(id_, key.data(), nullptr, 2), -1);
    EXPECT_EQ(st_del_obj(id_, nullptr), -1);
}

// A search between two keys stops on the smaller neighbour, beyond either end of the list on
// the head; a put rests on the object put; a delete moves the cursor (and the head) to the
// successor, and the last one empties the list and gives all its blocks back to the pool.
TEST_F(StoreObjectsTest, SearchPutAndDeleteMoveTheCursorAsDocumented) {
    UINT32 available = pool()->pool_available;
    for (UINT8 first : {10, 20, 30, 40}) {
        ASSERT_EQ(put(first, std::string(100, 'x')), 0);
    }
    struct Step {
        char op;  // get, put, delete
        UINT8 key;
        int result;
        UINT8 cursor;
        UINT8 head;
    };
    for (Step s : {Step{'g', 30, 0, 30, 10}, Step{'g', 25, 1, 20, 10}, Step{'g', 35, 1, 30, 10},
                   Step{'g', 5, 1, 10, 10}, Step{'g', 40, 0, 40, 10}, Step{'g', 99, 1, 10, 10},
                   Step{'g', 20, 0, 20, 10}, Step{'g', 1, 1, 10, 10}, Step{'p', 9, 0, 9, 9},
                   Step{'p', 35, 0, 35, 9}, Step{'d', 9, 0, 10, 10}, Step{'d', 40, 0, 10, 10},
                   Step{'d', 20, 0, 30, 10}, Step{'d', 35, 0, 10, 10}, Step{'d', 10, 0, 30, 30},
                   Step{'d', 30, 0, 0, 0}}) {
        int r = s.op == 'g'   ? get(s.key)
                : s.op == 'p' ? put(s.key)
                              : st_del_obj(id_, k(s.key).data());
        EXPECT_EQ(r, s.result) << s.op << int{s.key};
        EXPECT_EQ(cursor_key(), k(s.cursor)) << s.op << int{s.key};
        EXPECT_EQ(key_at(header()->st_obj_head), k(s.head)) << s.op << int{s.key};
    }
    EXPECT_EQ(header()->st_obj_search, 0u);
    EXPECT_EQ(pool()->pool_available, available);
}

struct Replace {
    UINT32 from;
    UINT32 to;
    bool moves;
};

class ReplaceTest : public StoreObjectsTest, public ::testing::WithParamInterface<Replace> {};

// A get copies the smaller of buffer and object: a larger buffer keeps its tail, a smaller
// one gets what fits.
TEST_P(ReplaceTest, KeepsOrMovesTheBlock) {
    const Replace &r = GetParam();
    ASSERT_EQ(put(1, std::string(r.from, 'a')), 0);
    UINT32 before = data_ptr(1);
    std::string next(r.to, 'b');
    ASSERT_EQ(st_set_obj(id_, k(1).data(), next.data(), r.to), 0);
    EXPECT_EQ(data_ptr(1) != before, r.moves);
    EXPECT_EQ(read(1, r.to + 4, r.to + 4), next + "####");
    EXPECT_EQ(read(1, r.to, r.to / 2),
              next.substr(0, r.to / 2) + std::string(r.to - r.to / 2, '#'));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReplaceTest,
                         ::testing::Values(Replace{10, 16, false}, Replace{10, 17, true},
                                           Replace{40, 40, false}, Replace{40, 20, true},
                                           Replace{0, 16, false}, Replace{16, 0, false},
                                           Replace{17, 3, true}));

TEST_F(StoreObjectsTest, PoolExhaustionLeavesNothingBehind) {
    ASSERT_EQ(put(1, std::string(40, 'a')), 0);
    UINT32 available = pool()->pool_available;
    sim::inject_fault({sim::FaultOp::PoolAllocate, 2, EIO, -1, ""});  // no room for the descriptor
    EXPECT_EQ(put(2, "abc"), -2);
    EXPECT_EQ(pool()->pool_available, available);
    EXPECT_EQ(get(2), 1);
    EXPECT_EQ(desc(header()->st_obj_head)->st_obj_next, header()->st_obj_head) << "one listed";
    // no room to move: the old contents stay
    sim::inject_fault({sim::FaultOp::PoolAllocate, 1, EIO, -1, ""});
    EXPECT_EQ(st_set_obj(id_, k(1).data(), std::string(80, 'b').data(), 80), -2);
    EXPECT_EQ(read(1, 41, 41), std::string(40, 'a') + "#");
    EXPECT_EQ(put(2, std::string(kRegionSize, 'x')), -2);
    int n = 2;
    while (put(static_cast<UINT8>(n), std::string(1000, 'x')) == 0) {
        ++n;
    }
    EXPECT_GT(n, 50);
    for (int first = 1; first < n; ++first) {
        EXPECT_EQ(get(static_cast<UINT8>(first)), 0) << first;
    }
}

// Damage done after adoption (a stray write through the region) is found by the walks:
// refused with -1, never followed out of the pool.
TEST_F(StoreObjectsTest, LinksDamagedLaterAreRefusedNotFollowed) {
    for (UINT8 first : {10, 20, 30, 40}) {
        ASSERT_EQ(put(first), 0);
    }
    ASSERT_EQ(get(10), 0);
    STORE_OBJ_DESC *head = desc(header()->st_obj_head);
    UINT32 saved = head->st_obj_next;
    head->st_obj_next = 0x10;
    EXPECT_EQ(get(30), -1);
    EXPECT_EQ(put(35), -1);
    EXPECT_EQ(st_del_obj(id_, k(10).data()), -1);
    EXPECT_EQ(cursor_key(), k(10)) << "nothing moved";
    head->st_obj_next = saved;
    header()->st_obj_search = 0x10;  // a cursor outside the pool
    EXPECT_EQ(get(30), -1);
    header()->st_obj_search = addr32(head);
    UINT32 third = desc(saved)->st_obj_next;
    desc(saved)->st_obj_next = saved;  // a loop that never comes back to the head
    {
        StdoutCapture quiet;
        EXPECT_EQ(st_dump(id_), -1);
    }
    EXPECT_EQ(get(40), -1);
    desc(saved)->st_obj_next = third;
    EXPECT_EQ(get(30), 0);
    desc(header()->st_obj_search)->st_obj_len = 0xFFFFFF00;
    char buf[4];
    EXPECT_EQ(st_get_obj(id_, k(30).data(), buf, 4), -1);
    EXPECT_EQ(st_set_obj(id_, k(30).data(), "abc", 3), -1);
}

// What a printout writes to standard output (captured apart from the test's own output).
std::string printed(int (*print)(UINT32), UINT32 id) {
    StdoutCapture out;
    int rc = print(id);
    return out.text() + (rc != 0 ? "<result " + std::to_string(rc) + ">" : "");
}

const std::string kRule(78, '-');

// Info shows the header and the pool's free bytes; dump the objects in key order, 16 bytes
// a line.
TEST_F(StoreTest, InfoShowsTheHeaderAndDumpTheObjectsInKeyOrder) {
    EXPECT_EQ(printed(st_info, 0) + printed(st_dump, 0), "<result -1><result -1>");
    UINT32 id = layout(4096);
    const std::string titles =
        "name      version    address      size     avail                              \n";
    EXPECT_EQ(printed(st_info, id), kRule + "\n" + titles + kRule + "\n" +
                                        "store     1.0       00000031      4096      3824  \n" +
                                        kRule + "\n");
    const std::string head =
        kRule +
        "\nkey       attr    size  obj hex                           obj ascii           \n" +
        kRule + "\n";
    EXPECT_EQ(printed(st_dump, id), head + kRule + "\n");
    for (const auto &[key, data] : std::vector<std::pair<Key, std::string>>{
             {{0x20, 0, 0, 0}, "0123456789:;<=>?"},
             {{0x10, 0, 0, 0}, "A\nB"},
             {{0x0a, 0x0b, 0x0c, 0x0d}, ""},
             {{0x01, 0x02, 0x03, 0x04}, "ABCDEFGHIJKLMNOPQRST"},
             {{0xff, 0, 0, 0}, std::string("\x80\xff\x7f\x20", 4)}}) {  // outside ASCII: dots
        ASSERT_EQ(st_put_obj(id, key.data(), data.data(), static_cast<UINT32>(data.size())), 0);
    }
    EXPECT_EQ(
        printed(st_dump, id),
        head +
            "01020304  0000      20  4142434445464748494a4b4c4d4e4f50  ABCDEFGHIJKLMNOP    \n"
            "                        51525354                          QRST                \n"
            "0a0b0c0d  0000       0\n"
            "10000000  0000       3  410a42                            A.B                 \n"
            "20000000  0000      16  303132333435363738393a3b3c3d3e3f  0123456789:;<=>?    \n"
            "ff000000  0000       4  80ff7f20                          ...                 \n" +
            kRule + "\n");
    char row[64];
    std::snprintf(row, sizeof row, "      4096  %8lu  \n",
                  static_cast<unsigned long>(pool()->pool_available));
    EXPECT_LT(pool()->pool_available, 3824u - 43u);
    EXPECT_NE(printed(st_info, id).find(row), std::string::npos);
}

// Database 0 created over the region; every test leaves with it deleted.
class DbTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
    }
    void TearDown() override {
        DbDelete(0);
        StoreTest::TearDown();
    }

    // Opens an object that must open, and returns its id.
    static UINT32 open(const char *name, const char *mode) {
        UINT32 id = 0;
        EXPECT_EQ(open_status(name, mode, &id), 0u) << name << " " << mode;
        return id;
    }

    // Writes a whole object through open "w", write, close.
    static void put(const char *name, const std::string &data) {
        UINT32 id = open(name, "w");
        EXPECT_EQ(DbObjWrite(id, data.data(), static_cast<UINT32>(data.size())), 0u);
        EXPECT_EQ(DbObjClose(id), 0u);
    }

    // Reads up to `size` bytes of an object, trailing NULs dropped.
    static std::string get(const char *name, size_t size = 64) {
        UINT32 id = open(name, "r");
        std::string out(size, '\0');
        EXPECT_EQ(DbObjRead(id, out.data(), static_cast<UINT32>(size)), 0u);
        EXPECT_EQ(DbObjClose(id), 0u);
        return out.substr(0, out.find_last_not_of('\0') + 1);
    }

    // Database 0 can be deleted (no object stays open) and is created again.
    void expect_nothing_open() {
        EXPECT_EQ(DbDelete(0), 0u) << "no object stays open";
        ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
        EXPECT_EQ(semaphores_named("DB_SEM"), 1);
    }
};

struct ModeCase {
    const char *mode;
    bool accepted;      // on a stored object
    bool read = false;  // what the handle then allows
    bool write = false;
};

class OpenModeTest : public DbTest, public ::testing::WithParamInterface<ModeCase> {};

// "w" empties a stored object (a read then copies nothing), "r" keeps it, and a write replaces
// the whole object.
TEST_P(OpenModeTest, ModeStringIsComparedOverTwoCharactersAndRulesReadAndWrite) {
    const ModeCase &c = GetParam();
    put("obj", "abcdef");
    UINT32 id = 1234;
    EXPECT_EQ(open_status("obj", c.mode, &id), c.accepted ? 0u : 1u);
    if (c.accepted) {
        char buf[4] = {'-', '-', '-', '-'};
        EXPECT_EQ(DbObjRead(id, buf, sizeof buf), c.read ? 0u : 1u);
        EXPECT_EQ(std::string(buf, 4), c.read && c.mode[0] == 'r' ? "abcd" : "----");
        EXPECT_EQ(DbObjWrite(id, "xyz", 3), c.write ? 0u : 1u);
        EXPECT_EQ(DbObjClose(id), 0u);
    } else {
        EXPECT_EQ(id, 1234u);
    }
    EXPECT_EQ(get("obj"), c.write ? "xyz" : "abcdef");
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0) << "no handle stays listed";
    EXPECT_TRUE(sim::held_semaphores().empty());
    expect_nothing_open();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OpenModeTest,
    ::testing::Values(ModeCase{"r", true, true, false}, ModeCase{"w", true, false, true},
                      ModeCase{"r+", true, true, true}, ModeCase{"w+", true, true, true},
                      ModeCase{"r+b", true, true, true}, ModeCase{"w+x", true, true, true},
                      ModeCase{"rb", false}, ModeCase{"wb", false}, ModeCase{"a", false},
                      ModeCase{"", false}, ModeCase{"+", false}, ModeCase{"R", false}));

// Null arguments, a missing name opened for reading, ids that name no live record and a
// database not created are refused, with no handle made and no byte of the region changed.
TEST_F(DbTest, RefusedCallsChangeNothing) {
    auto before = snapshot();
    UINT32 id = 0;
    EXPECT_EQ(open_status("missing", "r", &id), 1u);
    EXPECT_EQ(open_status("missing", "r+", &id), 1u);
    EXPECT_EQ(open_status("a", "w", nullptr), 1u);
    EXPECT_EQ(open_status(nullptr, "w", &id), 1u);
    EXPECT_EQ(open_status("a", nullptr, &id), 1u);
    EXPECT_EQ(open_status("a", "w", &id, 1), 1u);
    EXPECT_EQ(DbDelete(1), 1u);
    EXPECT_EQ(DbCreate(2, base(), kRegionSize), 1u);  // only ids 0 and 1 exist
    EXPECT_EQ(DbDelete(2), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    EXPECT_EQ(snapshot(), before);  // only the cursor might move, and the store is empty
    UINT32 closed = open("obj", "w+");
    ASSERT_EQ(DbObjClose(closed), 0u);
    UINT32 live = open("other", "w+");
    char buf[4];
    for (UINT32 bad :
         {closed, 0u, 1u, 0xFFFFFFFFu, live ^ 2u, live + 2u, addr32(&buf) /* any address */}) {
        EXPECT_EQ(DbObjClose(bad), 1u) << bad;
        EXPECT_EQ(DbObjRead(bad, buf, 4), 1u) << bad;
        EXPECT_EQ(DbObjWrite(bad, buf, 4), 1u) << bad;
        EXPECT_EQ(DbObjRemove(bad), 1u) << bad;
    }
    EXPECT_EQ(DbObjRead(live, nullptr, 4), 1u);
    EXPECT_EQ(DbObjWrite(live, nullptr, 4), 1u);
    EXPECT_EQ(DbObjRead(live, nullptr, 0), 0u);
    EXPECT_EQ(DbObjWrite(live, nullptr, 0), 0u);
    EXPECT_EQ(DbObjClose(live), 0u);
    ASSERT_EQ(DbDelete(0), 0u);
    EXPECT_EQ(open_status("a", "w", &id), 1u);
    EXPECT_EQ(DbDelete(0), 1u);
}

TEST_F(DbTest, RemoveDeletesTheObjectAndFreesTheHandleEvenWhenNoLongerStored) {
    put("gone", "x");
    UINT32 id = open("gone", "r");
    EXPECT_EQ(DbObjRemove(id), 0u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    UINT32 again = 0;
    EXPECT_EQ(open_status("gone", "r", &again), 1u);
    EXPECT_EQ(DbObjClose(id), 1u);
    id = open("obj", "w");
    ASSERT_EQ(st_del_obj(base(), key_of("obj").data()), 0);
    EXPECT_EQ(DbObjRemove(id), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    expect_nothing_open();
}

// A create makes DB_SEM and DB_OBJ_SEM; between calls an opener holds only its object's
// semaphore; a read failing on DB_SEM returns 1 and the next one succeeds. (The fault matrix
// fails every semaphore call of a create, open, write and close in turn.)
TEST_F(DbTest, SemaphoresAndAReadFailingOnOne) {
    EXPECT_EQ(DbInstall() + DbUninstall(), 0u);
    EXPECT_EQ(semaphores_named("DB_SEM") + semaphores_named("DB_OBJ_SEM"), 2);
    put("obj", "abc");
    UINT32 id = open("obj", "r");
    auto held = sim::held_semaphores();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].name, "OBJ_SEM");
    // a read obtains DB_OBJ_SEM (the id), then DB_SEM
    sim::inject_fault({sim::FaultOp::SemObtain, 2, EIO, -1, ""});
    char buf[4];
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 1u);
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    expect_nothing_open();
}

// The second opener waits until the first closes, then its own mode applies ("w": emptied,
// write-only). While it waits, a remove and a delete of the database are refused at once.
TEST_F(DbTest, SecondOpenerWaitsUntilTheFirstCloses) {
    put("shared", "first");
    UINT32 first = open("shared", "r+");
    std::atomic<bool> opened{false};
    UINT32 second = 0;
    std::thread t([&] {
        EXPECT_EQ(open_status("shared", "w", &second), 0u);
        opened = true;
    });
    ASSERT_TRUE(wait_until([] { return semaphores_named("OBJ_SEM", true) == 1; }));
    EXPECT_FALSE(opened);
    EXPECT_EQ(DbObjRemove(first), 1u);
    EXPECT_EQ(DbDelete(0), 1u);
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
    ASSERT_EQ(DbObjWrite(first, "by first", 8), 0u);  // still usable
    ASSERT_EQ(DbObjClose(first), 0u);
    t.join();
    EXPECT_EQ(second, first);
    char buf[8];
    EXPECT_EQ(DbObjRead(second, buf, sizeof buf), 1u);
    EXPECT_EQ(DbObjWrite(second, "second", 6), 0u);
    EXPECT_EQ(DbObjClose(second), 0u);
    EXPECT_EQ(get("shared"), "second");
    expect_nothing_open();
}

}  // namespace
}  // namespace bsp::test
