// Fixtures of the object database tests: a fresh unit with store regions below 4 GiB.
#ifndef BSP_TESTS_DB_DB_FIXTURE_H
#define BSP_TESTS_DB_DB_FIXTURE_H

#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/db_dev.h>
#include <sys/mman.h>

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

// A zero-filled anonymous region at a fixed address (released by the destructor).
class FixedRegion {
  public:
    FixedRegion(uintptr_t address, size_t size) : size_(size) {
        void *p = ::mmap(reinterpret_cast<void *>(address), size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        base_ = p == MAP_FAILED || reinterpret_cast<uintptr_t>(p) != address
                    ? nullptr
                    : static_cast<UINT8 *>(p);
    }
    ~FixedRegion() {
        if (base_ != nullptr) {
            ::munmap(base_, size_);
        }
    }
    FixedRegion(const FixedRegion &) = delete;
    FixedRegion &operator=(const FixedRegion &) = delete;
    UINT8 *base() const { return base_; }

  private:
    UINT8 *base_;
    size_t size_;
};

inline UINT32 open_status(const char *name, const char *mode, UINT32 *id, UINT32 db = 0) {
    return DbObjOpen(db, id, const_cast<char *>(name), const_cast<char *>(mode));
}

// Opens an object that must open, and returns its id.
inline UINT32 db_open(const char *name, const char *mode, UINT32 db = 0) {
    UINT32 id = 0;
    EXPECT_EQ(open_status(name, mode, &id, db), 0u) << name << " " << mode;
    return id;
}

// Writes a whole object through open "w", write, close.
inline void db_put(const char *name, const std::string &data, UINT32 db = 0) {
    UINT32 id = db_open(name, "w", db);
    EXPECT_EQ(DbObjWrite(id, data.data(), static_cast<UINT32>(data.size())), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
}

// Reads up to `size` bytes of an object, trailing NULs dropped.
inline std::string db_get(const char *name, size_t size = 64, UINT32 db = 0) {
    UINT32 id = db_open(name, "r", db);
    std::string out(size, '\0');
    EXPECT_EQ(DbObjRead(id, out.data(), static_cast<UINT32>(size)), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    return out.substr(0, out.find_last_not_of('\0') + 1);
}

// One store region below 4 GiB per test.
class StoreTest : public SimTest {
  public:
    static constexpr size_t kRegionSize = 64 * 1024;

  protected:
    void SetUp() override {
        SimTest::SetUp();
        region_ = static_cast<UINT8 *>(sim::map_low_region(kRegionSize));
        ASSERT_NE(region_, nullptr);
    }
    void TearDown() override {
        sim::unmap_region(region_, kRegionSize);
        SimTest::TearDown();
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
        UINT32 node = head;
        while (node != 0 && keys.size() < 10000) {
            auto *d = reinterpret_cast<const STORE_OBJ_DESC *>(uintptr_t{node});
            keys.push_back(
                {d->st_obj_key[0], d->st_obj_key[1], d->st_obj_key[2], d->st_obj_key[3]});
            node = d->st_obj_next;
            if (node == head) {
                break;
            }
        }
        return keys;
    }

    // The key under the search cursor (all zero when the store is empty).
    Key cursor_key() const {
        UINT32 c = header()->st_obj_search;
        if (c == 0) {
            return Key{};
        }
        auto *d = reinterpret_cast<const STORE_OBJ_DESC *>(uintptr_t{c});
        return {d->st_obj_key[0], d->st_obj_key[1], d->st_obj_key[2], d->st_obj_key[3]};
    }

    std::vector<UINT8> snapshot() const { return {region_, region_ + kRegionSize}; }

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

    static UINT32 open(const char *name, const char *mode, UINT32 db = 0) {
        return db_open(name, mode, db);
    }
    static void put(const char *name, const std::string &data, UINT32 db = 0) {
        db_put(name, data, db);
    }
    static std::string get(const char *name, size_t size = 64, UINT32 db = 0) {
        return db_get(name, size, db);
    }

    // Database 0 can be deleted (no object stays open) and is created again.
    void expect_nothing_open() {
        EXPECT_EQ(DbDelete(0), 0u) << "no object stays open";
        ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
    }
};

}  // namespace bsp::test

#endif
