// Laying out a store region, and adopting one that already holds a store. A region found
// again after a restart is trusted only after its header and descriptor list check out, so
// that a damaged region is refused (and kept for inspection) instead of crashing later.
#include <cstdint>
#include <cstring>

#include "db_dev_region.h"

namespace bsp::db {

namespace {

constexpr char kStName[8] = "store";
constexpr char kStVersion[8] = "1.0";

// A region the store can name: 4-byte aligned (the pool record lies inside it), larger
// than the header space, at a non-zero base and wholly inside 32-bit addresses.
bool region_usable(const UINT32 *st_id, UINT32 base, UINT32 size) {
    return st_id != nullptr && base != 0 && base % 4 == 0 && size > ST_HEADER_SPACE &&
           range_fits_addr32(base, size);
}

void st_pool_init(MEM_POOL *pool, UINT32 addr, UINT32 size, STATUS *status) {
    *status = MEM_Create_Pool(pool, from_addr32(addr), size, kStMinAllocation);
}

// The pool space of an adopted store, as checked bounds for its links and blocks.
struct PoolSpace {
    uint64_t lo;
    uint64_t hi;
    bool holds_desc(UINT32 a) const { return a >= lo && uint64_t{a} + kDescSize <= hi; }
    bool holds_block(UINT32 a, UINT32 len) const { return a >= lo && uint64_t{a} + len <= hi; }
    bool holds_or_zero(UINT32 a) const { return a == 0 || (a >= lo && a < hi); }
};

bool header_sound(const STORE *st, UINT32 base, UINT32 size) {
    const MEM_POOL *pool = st_pool(st);
    PoolSpace space{uint64_t{base} + ST_HEADER_SPACE, uint64_t{base} + st->st_size};
    return st->st_addr == base && st->st_size > ST_HEADER_SPACE && st->st_size <= size &&
           pool->pool_addr == base + ST_HEADER_SPACE && pool->pool_size > 0 &&
           pool->pool_size <= st->st_size - ST_HEADER_SPACE &&
           pool->pool_min_allocation == kStMinAllocation &&
           pool->pool_available <= pool->pool_size && space.holds_or_zero(pool->memory_list) &&
           space.holds_or_zero(pool->memory_search) &&
           (st->st_obj_head == 0) == (st->st_obj_search == 0);
}

// One descriptor of the walk: inside the pool with its data block, its successor inside the
// pool and linked back to it, and keys ascending up to the tail.
bool desc_sound(const STORE *st, const PoolSpace &space, UINT32 node) {
    const STORE_OBJ_DESC *d = st_desc(node);
    UINT32 next = d->st_obj_next;
    if (!space.holds_block(d->st_obj_ptr, d->st_obj_len) || !space.holds_desc(next)) {
        return false;
    }
    const STORE_OBJ_DESC *n = st_desc(next);
    return n->st_obj_prev == node &&
           (next == st->st_obj_head || st_key_cmp(d->st_obj_key, n->st_obj_key) < 0);
}

bool list_sound(const STORE *st) {
    UINT32 head = st->st_obj_head;
    if (head == 0) {
        return true;
    }
    const MEM_POOL *pool = st_pool(st);
    PoolSpace space{pool->pool_addr, uint64_t{pool->pool_addr} + pool->pool_size};
    if (!space.holds_desc(head)) {
        return false;
    }
    UINT32 most = pool->pool_size / kDescSize;
    bool cursor_listed = false;
    UINT32 node = head;
    for (UINT32 count = 0; count < most; ++count) {
        if (!desc_sound(st, space, node)) {
            return false;
        }
        cursor_listed = cursor_listed || node == st->st_obj_search;
        node = st_desc(node)->st_obj_next;
        if (node == head) {
            return cursor_listed;
        }
    }
    return false;  // more descriptors than the pool could hold: the list does not close
}

}  // namespace

}  // namespace bsp::db

using namespace bsp::db;

extern "C" {

BSP_API int st_reinit(UINT32 *st_id, UINT32 st_addr, UINT32 st_size) {
    if (!region_usable(st_id, st_addr, st_size)) {
        return -1;
    }
    STORE *st = st_get(st_addr);
    std::memcpy(st->st_name, kStName, sizeof kStName);
    std::memcpy(st->st_version, kStVersion, sizeof kStVersion);
    st->st_addr = st_addr;
    st->st_size = st_size;
    st->st_obj_head = 0;
    st->st_obj_search = 0;
    std::memset(st_pool(st), 0, sizeof(STORE_POOL));
    STATUS pool_status = NU_SUCCESS;
    st_pool_init(st_pool(st), st_addr + ST_HEADER_SPACE, st_size - ST_HEADER_SPACE, &pool_status);
    if (pool_status != NU_SUCCESS) {
        // A store without a pool could hold nothing: no store is left named in the region.
        std::memset(st->st_name, 0, sizeof st->st_name);
        return -1;
    }
    *st_id = st_addr;
    return 0;
}

BSP_API int st_init(UINT32 *st_id, UINT32 st_addr, UINT32 st_size) {
    if (!region_usable(st_id, st_addr, st_size)) {
        return -1;
    }
    const STORE *st = st_get(st_addr);
    if (std::strncmp(st->st_name, kStName, sizeof kStName) != 0) {
        return st_reinit(st_id, st_addr, st_size);
    }
    if (std::strncmp(st->st_version, kStVersion, sizeof kStVersion) != 0 ||
        !header_sound(st, st_addr, st_size) || !list_sound(st)) {
        return -1;
    }
    *st_id = st_addr;
    return 0;
}

}  // extern "C"
