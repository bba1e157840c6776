// Memory pools whose record and block bookkeeping live inside caller memory, linked by
// 32-bit absolute addresses: a pool found again at the same address is complete.
//
// Layout: the pool memory [pool_addr, pool_addr + pool_size) is a chain of blocks in
// address order, each a MEM_HEADER followed by its data. memory_next/memory_prev link
// neighbours (0 at the ends), memory_free is 1 for a free block, memory_pool holds the
// address of the pool record. A block's data size runs to the next header or the pool end.
// pool_available is the sum of the data sizes of the free blocks. Allocation is first fit;
// memory_search marks where the search may start: no block before it is free, so starting
// there finds the same block as starting from the first one, and filling a pool costs O(1)
// per allocation instead of a walk over every block already taken.
#include <bsp_ctrl/platform/bsp_os.h>

#include <cstdint>

#include "bsp_host/refusal.h"

namespace bsp::host {

namespace {

constexpr uint32_t kHeader = sizeof(MEM_HEADER);
constexpr uint32_t kAlign = 4;
constexpr STATUS kNoMemory = -32;
constexpr STATUS kInvalid = -1;

bool fits32(const void *p) {
    return reinterpret_cast<uintptr_t>(p) <= UINT32_MAX;
}
uint32_t addr(const void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
MEM_HEADER *header_at(uint32_t a) {
    return reinterpret_cast<MEM_HEADER *>(static_cast<uintptr_t>(a));
}

uint32_t round_up(uint32_t n) {
    return (n + kAlign - 1) & ~(kAlign - 1);
}

uint32_t data_size(const MEM_POOL *pool, uint32_t block) {
    uint32_t end = header_at(block)->memory_next ? header_at(block)->memory_next
                                                 : pool->pool_addr + pool->pool_size;
    return end - block - kHeader;
}

// Splits `block` after `size` data bytes when the rest can hold a header and a minimum block.
void split(MEM_POOL *pool, uint32_t block, uint32_t size) {
    MEM_HEADER *h = header_at(block);
    uint32_t have = data_size(pool, block);
    if (have < size + kHeader + pool->pool_min_allocation) {
        return;
    }
    uint32_t rest = block + kHeader + size;
    MEM_HEADER *r = header_at(rest);
    r->memory_next = h->memory_next;
    r->memory_prev = block;
    r->memory_free = 1;
    r->memory_pool = addr(pool);
    if (h->memory_next) {
        header_at(h->memory_next)->memory_prev = rest;
    }
    h->memory_next = rest;
    pool->pool_available -= kHeader;
}

// Joins `block` with the free block after it.
void merge_next(MEM_POOL *pool, uint32_t block) {
    MEM_HEADER *h = header_at(block);
    uint32_t next = h->memory_next;
    if (next == 0 || !header_at(next)->memory_free) {
        return;
    }
    h->memory_next = header_at(next)->memory_next;
    if (h->memory_next) {
        header_at(h->memory_next)->memory_prev = block;
    }
    pool->pool_available += kHeader;
}

// Whether a header may start at `a`: aligned and inside the pool memory.
bool header_inside(const MEM_POOL *pool, uint32_t a) {
    return a % kAlign == 0 && a >= pool->pool_addr &&
           uint64_t{a} + kHeader <= uint64_t{pool->pool_addr} + pool->pool_size;
}

// Whether `block` starts a block of the chain (a stray pointer is refused, not trusted): it
// names this pool and its neighbours link back to it.
bool is_block(const MEM_POOL *pool, uint32_t block) {
    const MEM_HEADER *h = header_at(block);
    if (h->memory_pool != addr(pool)) {
        return false;
    }
    bool prev_ok = h->memory_prev == 0 ? block == pool->memory_list
                                       : header_inside(pool, h->memory_prev) &&
                                             header_at(h->memory_prev)->memory_next == block;
    bool next_ok = h->memory_next == 0 || (header_inside(pool, h->memory_next) &&
                                           header_at(h->memory_next)->memory_prev == block);
    return prev_ok && next_ok;
}

// Whether the record names sound pool memory: aligned, in 32-bit space, the chain at its start.
bool record_sound(const MEM_POOL *pool) {
    return pool->pool_addr % kAlign == 0 && pool->pool_size >= kHeader &&
           uint64_t{pool->pool_addr} + pool->pool_size <= uint64_t{UINT32_MAX} + 1 &&
           pool->memory_list == pool->pool_addr;
}

// Whether a block of the chain may be followed: inside the pool, its successor after it.
// Memory that survived a restart (or was overwritten) is checked, never trusted; ascending
// links also bound every walk.
bool link_sound(const MEM_POOL *pool, uint32_t b) {
    uint32_t next = header_at(b)->memory_next;
    return header_inside(pool, b) &&
           (next == 0 || (header_inside(pool, next) && next >= b + kHeader));
}

// Where the first-fit search starts (a search mark from elsewhere is not trusted).
uint32_t search_start(const MEM_POOL *pool) {
    return header_inside(pool, pool->memory_search) ? pool->memory_search : pool->memory_list;
}

}  // namespace

}  // namespace bsp::host

using namespace bsp::host;

extern "C" {

STATUS MEM_Create_Pool(MEM_POOL *pool, void *start, UNSIGNED size, UNSIGNED min_allocation) {
    uintptr_t s = reinterpret_cast<uintptr_t>(start);
    if (pool == nullptr || start == nullptr || !fits32(pool) || s % kAlign != 0 ||
        s + size - 1 > UINT32_MAX || size < 2 * kHeader || refused(ServiceCall::PoolCreate)) {
        return kInvalid;
    }
    uint32_t usable = size & ~(kAlign - 1);
    pool->pool_addr = addr(start);
    pool->pool_size = usable;
    pool->pool_min_allocation = round_up(min_allocation ? min_allocation : kAlign);
    pool->pool_available = usable - kHeader;
    pool->memory_list = addr(start);
    pool->memory_search = addr(start);
    MEM_HEADER *h = header_at(pool->memory_list);
    h->memory_next = 0;
    h->memory_prev = 0;
    h->memory_free = 1;
    h->memory_pool = addr(pool);
    return NU_SUCCESS;
}

STATUS MEM_Allocate(MEM_POOL *pool, void **block, UNSIGNED size) {
    if (pool == nullptr || block == nullptr || size > pool->pool_size || !record_sound(pool)) {
        return kInvalid;
    }
    if (refused(ServiceCall::PoolAllocate)) {
        return kNoMemory;
    }
    uint32_t want = round_up(size < pool->pool_min_allocation ? pool->pool_min_allocation : size);
    for (uint32_t b = search_start(pool); b != 0; b = header_at(b)->memory_next) {
        if (!link_sound(pool, b)) {
            return kInvalid;
        }
        MEM_HEADER *h = header_at(b);
        if (!h->memory_free || data_size(pool, b) < want) {
            continue;
        }
        split(pool, b, want);
        h->memory_free = 0;
        pool->pool_available -= data_size(pool, b);
        if (pool->memory_search == b && h->memory_next != 0) {
            pool->memory_search = h->memory_next;
        }
        *block = reinterpret_cast<void *>(static_cast<uintptr_t>(b + kHeader));
        return NU_SUCCESS;
    }
    return kNoMemory;
}

STATUS MEM_Deallocate(MEM_POOL *pool, void *block) {
    uintptr_t p = reinterpret_cast<uintptr_t>(block);
    if (pool == nullptr || !record_sound(pool) || p < uintptr_t{pool->pool_addr} + kHeader ||
        p >= uintptr_t{pool->pool_addr} + pool->pool_size) {
        return kInvalid;
    }
    uint32_t b = static_cast<uint32_t>(p) - kHeader;
    // Merging rewrites the links around the block: each must be sound before any is changed.
    if (!header_inside(pool, b) || !is_block(pool, b) || header_at(b)->memory_free ||
        !link_sound(pool, b) ||
        (header_at(b)->memory_next != 0 && !link_sound(pool, header_at(b)->memory_next))) {
        return kInvalid;
    }
    MEM_HEADER *h = header_at(b);
    // The merges below follow the block's link and its successor's: both are checked first.
    if (!link_sound(pool, b) || (h->memory_next != 0 && !link_sound(pool, h->memory_next))) {
        return kInvalid;
    }
    h->memory_free = 1;
    pool->pool_available += data_size(pool, b);
    merge_next(pool, b);
    uint32_t free_block = b;
    if (h->memory_prev && header_at(h->memory_prev)->memory_free) {
        free_block = h->memory_prev;
        merge_next(pool, free_block);
    }
    if (pool->memory_search >= free_block) {
        pool->memory_search = free_block;
    }
    return NU_SUCCESS;
}

}  // extern "C"
