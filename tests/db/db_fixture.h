// Fixtures of the object database tests: a fresh unit with a store region at a fixed address
// below 4 GiB, backed by a file so that it can be mapped again after a simulated restart.
#ifndef BSP_TESTS_DB_DB_FIXTURE_H
#define BSP_TESTS_DB_DB_FIXTURE_H

#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/db_dev.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

using Key = std::array<UINT8, 4>;

// Makes the nth next call of an OS service fail.
inline void fail_nth(sim::FaultOp op, unsigned nth) {
    sim::inject_fault({op, nth, EIO, -1, ""});
}

inline Key key_of(const std::string &name) {
    Key k{};
    st_obj_key(name.c_str(), static_cast<UINT32>(name.size()), k.data());
    return k;
}

inline UINT32 addr32(const void *p) {
    return static_cast<UINT32>(reinterpret_cast<uintptr_t>(p));
}

inline STORE_OBJ_DESC *desc(UINT32 addr) {
    return reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{addr});
}

inline UINT32 open_status(const char *name, const char *mode, UINT32 *id, UINT32 db = 0) {
    return DbObjOpen(db, id, const_cast<char *>(name), const_cast<char *>(mode));
}

// One store region per test at kBase; restart() maps it again as a new process would.
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

    // The process's view of the region goes, the unit resets, the region is mapped again.
    void restart() {
        sim::unmap_region(region_, kRegionSize);
        sim::reset_unit();
        region_ = static_cast<UINT8 *>(sim::map_file_region(path_, kRegionSize, kBase));
        ASSERT_NE(region_, nullptr);
    }

    UINT32 base() const { return addr32(region_); }
    STORE *header() const { return reinterpret_cast<STORE *>(region_); }
    const MEM_POOL *pool() const { return reinterpret_cast<const MEM_POOL *>(region_ + 24); }

    // Lays out a store of `size` bytes over the region and returns its id.
    UINT32 layout(UINT32 size = kRegionSize) {
        UINT32 id = 0;
        EXPECT_EQ(st_init(&id, base(), size), 0);
        return id;
    }

    // The keys of the list from the head, in list order.
    std::vector<Key> listed_keys() const {
        std::vector<Key> keys;
        UINT32 head = header()->st_obj_head;
        for (UINT32 node = head; node != 0 && keys.size() < 10000;) {
            keys.push_back(key_at(node));
            node = desc(node)->st_obj_next;
            node = node == head ? 0 : node;
        }
        return keys;
    }

    // The key under the search cursor (all zero when the store is empty).
    Key cursor_key() const { return key_at(header()->st_obj_search); }

    static Key key_at(UINT32 node) {
        if (node == 0) {
            return Key{};
        }
        const UINT8 *k = desc(node)->st_obj_key;
        return {k[0], k[1], k[2], k[3]};
    }

    std::vector<UINT8> snapshot() const { return {region_, region_ + kRegionSize}; }

    std::string path_;
    UINT8 *region_ = nullptr;
};

// Database 0 created over the region; every test leaves with both databases deleted.
class DbTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
    }
    void TearDown() override {
        DbDelete(0);
        DbDelete(1);
        StoreTest::TearDown();
    }

    // Opens an object that must open, and returns its id.
    static UINT32 open(const char *name, const char *mode, UINT32 db = 0) {
        UINT32 id = 0;
        EXPECT_EQ(open_status(name, mode, &id, db), 0u) << name << " " << mode;
        return id;
    }

    // Writes a whole object through open "w", write, close.
    static void put(const char *name, const std::string &data, UINT32 db = 0) {
        UINT32 id = open(name, "w", db);
        EXPECT_EQ(DbObjWrite(id, data.data(), static_cast<UINT32>(data.size())), 0u);
        EXPECT_EQ(DbObjClose(id), 0u);
    }

    // Reads up to `size` bytes of an object, trailing NULs dropped.
    static std::string get(const char *name, size_t size = 64, UINT32 db = 0) {
        UINT32 id = open(name, "r", db);
        std::string out(size, '\0');
        EXPECT_EQ(DbObjRead(id, out.data(), static_cast<UINT32>(size)), 0u);
        EXPECT_EQ(DbObjClose(id), 0u);
        return out.substr(0, out.find_last_not_of('\0') + 1);
    }

    // Database 0 can be deleted (no object stays open) and is created again.
    void expect_nothing_open() {
        EXPECT_EQ(DbDelete(0), 0u) << "no object stays open";
        ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
    }
};

}  // namespace bsp::test

#endif
