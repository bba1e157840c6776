// Internal view of a store region, shared by the store's sources: the header and descriptors
// reached from 32-bit addresses, and the sorted descriptor list with its search cursor.
#ifndef BSP_LIB_DB_DEV_REGION_H
#define BSP_LIB_DB_DEV_REGION_H

#include <bsp_ctrl/db_dev.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/addr32.h"

namespace bsp::db {

static_assert(sizeof(STORE) == 56, "the store header is 56 packed bytes");
static_assert(offsetof(STORE, st_pool) == 24 && offsetof(STORE, st_obj_head) == 48);
static_assert(offsetof(STORE, st_obj_search) == 52);
static_assert(sizeof(STORE_OBJ_DESC) == 22, "a descriptor is 22 packed bytes");
static_assert(offsetof(STORE_OBJ_DESC, st_obj_attr) == 12);
static_assert(offsetof(STORE_OBJ_DESC, st_obj_next) == 14);

constexpr UINT32 kStMinAllocation = 16;
constexpr UINT32 kDescSize = sizeof(STORE_OBJ_DESC);

// Store id to header: the id itself, or none for 0.
inline STORE *st_get(UINT32 st_id) {
    return st_id ? from_addr32<STORE>(st_id) : nullptr;
}

inline STORE_OBJ_DESC *st_desc(UINT32 addr) {
    return from_addr32<STORE_OBJ_DESC>(addr);
}

// The pool record inside the header. Regions are 4-byte aligned, so the record is too.
inline MEM_POOL *st_pool(STORE *st) {
    return reinterpret_cast<MEM_POOL *>(reinterpret_cast<char *>(st) + offsetof(STORE, st_pool));
}
inline const MEM_POOL *st_pool(const STORE *st) {
    return reinterpret_cast<const MEM_POOL *>(reinterpret_cast<const char *>(st) +
                                              offsetof(STORE, st_pool));
}

inline int st_key_cmp(const UINT8 *k1, const UINT8 *k2) {
    return std::memcmp(k1, k2, 4);
}

// The pool space of a store. Every descriptor an operation follows and every data block it
// touches must lie inside it, and no walk takes more steps than the pool could hold
// descriptors: data written through a damaged descriptor, or a damaged pool handing out a
// block twice, then stays a damaged store (refused with -1) instead of a wild access.
struct PoolSpace {
    explicit PoolSpace(const STORE *st)
        : lo(st_pool(st)->pool_addr),
          hi(lo + st_pool(st)->pool_size),
          max_steps(st_pool(st)->pool_size / kDescSize + 2) {}

    bool holds_desc(UINT32 a) const { return a >= lo && uint64_t{a} + kDescSize <= hi; }
    bool holds_block(UINT32 a, UINT32 len) const { return a >= lo && uint64_t{a} + len <= hi; }

    uint64_t lo;
    uint64_t hi;
    UINT32 max_steps;
};

// The list operations return false, changing nothing, for a store found damaged.

// Cursor search: walks from the cursor towards the key and leaves the cursor where it
// stopped. *found is the descriptor's address, or 0 when the key is not stored.
bool st_obj_search_in_list(STORE *st, const UINT8 *key, UINT32 *found);

// Links `node` in key order and leaves the cursor on it.
bool st_obj_insert_in_list(STORE *st, UINT32 node);

// Unlinks `node`; the head and the cursor move to its successor when they were on it.
bool st_obj_remove_from_list(STORE *st, UINT32 node);

}  // namespace bsp::db

#endif
