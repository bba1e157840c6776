// The store's object operations: put, delete, replace and read objects by key, over the
// region's own memory pool; and the key of a name (CRC-32).
#include <zlib.h>

#include <cstring>

#include "db_dev_region.h"

namespace bsp::db {

namespace {

constexpr int kStDone = 0;
constexpr int kStKeyClash = 1;  // put: key exists; delete, set, get: key missing
constexpr int kStNoStore = -1;
constexpr int kStNoSpace = -2;
constexpr int kStDamaged = -1;  // a store whose links or blocks leave its pool space

void *st_malloc(MEM_POOL *pool, UINT32 size) {
    void *block = nullptr;
    if (MEM_Allocate(pool, &block, size) != NU_SUCCESS) {
        return nullptr;
    }
    return block;
}

void st_free(MEM_POOL *pool, UINT32 block) {
    MEM_Deallocate(pool, from_addr32(block));
}

// A new block of `size` bytes; the old one goes back only once the new one is taken.
void *st_realloc(MEM_POOL *pool, UINT32 old, UINT32 size) {
    void *block = st_malloc(pool, size);
    if (block != nullptr && old != 0) {
        st_free(pool, old);
    }
    return block;
}

// Arguments every object operation checks first: a store, a key, and data behind a size.
bool args_usable(UINT32 st_id, const UINT8 *key, const void *data, UINT32 size) {
    return st_id != 0 && key != nullptr && (data != nullptr || size == 0);
}

// Checks the arguments and searches for the key: kStDone with the descriptor in *node
// (its data block inside the pool space), kStKeyClash when the key is not stored, kStNoStore
// for unusable arguments, kStDamaged for a store whose links or blocks leave its pool.
int st_find(UINT32 st_id, const UINT8 *key, const void *data, UINT32 size, STORE **st,
            UINT32 *node) {
    if (!args_usable(st_id, key, data, size)) {
        return kStNoStore;
    }
    *st = st_get(st_id);
    if (!st_obj_search_in_list(*st, key, node)) {
        return kStDamaged;
    }
    if (*node == 0) {
        return kStKeyClash;
    }
    const STORE_OBJ_DESC *d = st_desc(*node);
    return PoolSpace(*st).holds_block(d->st_obj_ptr, d->st_obj_len) ? kStDone : kStDamaged;
}

void copy_in(UINT32 block, const void *data, UINT32 size) {
    if (size != 0) {
        std::memmove(from_addr32(block), data, size);
    }
}

}  // namespace

}  // namespace bsp::db

using namespace bsp::db;

extern "C" {

BSP_API int st_put_obj(UINT32 st_id, const UINT8 *key, const void *data, UINT32 size) {
    STORE *st = nullptr;
    UINT32 found = 0;
    int status = st_find(st_id, key, data, size, &st, &found);
    if (status != kStKeyClash) {
        return status == kStDone ? kStKeyClash : status;
    }
    void *block = st_malloc(st_pool(st), size);
    if (block == nullptr) {
        return kStNoSpace;
    }
    copy_in(bsp::to_addr32(block), data, size);
    void *node = st_malloc(st_pool(st), kDescSize);
    if (node == nullptr) {
        st_free(st_pool(st), bsp::to_addr32(block));
        return kStNoSpace;
    }
    STORE_OBJ_DESC *d = static_cast<STORE_OBJ_DESC *>(node);
    std::memcpy(d->st_obj_key, key, sizeof d->st_obj_key);
    std::memset(d->st_obj_attr, 0, sizeof d->st_obj_attr);
    d->st_obj_ptr = bsp::to_addr32(block);
    d->st_obj_len = size;
    if (!st_obj_insert_in_list(st, bsp::to_addr32(node))) {
        st_free(st_pool(st), bsp::to_addr32(node));
        st_free(st_pool(st), bsp::to_addr32(block));
        return kStDamaged;
    }
    return kStDone;
}

BSP_API int st_del_obj(UINT32 st_id, const UINT8 *key) {
    STORE *st = nullptr;
    UINT32 node = 0;
    int status = st_find(st_id, key, nullptr, 0, &st, &node);
    if (status != kStDone) {
        return status;
    }
    if (!st_obj_remove_from_list(st, node)) {
        return kStDamaged;
    }
    st_free(st_pool(st), st_desc(node)->st_obj_ptr);
    st_free(st_pool(st), node);
    return kStDone;
}

BSP_API int st_set_obj(UINT32 st_id, const UINT8 *key, const void *data, UINT32 size) {
    STORE *st = nullptr;
    UINT32 node = 0;
    int status = st_find(st_id, key, data, size, &st, &node);
    if (status != kStDone) {
        return status;
    }
    STORE_OBJ_DESC *d = st_desc(node);
    UINT32 block = d->st_obj_ptr;
    UINT32 min = st_pool(st)->pool_min_allocation;
    if (size != d->st_obj_len && (d->st_obj_len > min || size > min)) {
        void *moved = st_realloc(st_pool(st), block, size);
        if (moved == nullptr) {
            return kStNoSpace;
        }
        block = bsp::to_addr32(moved);
    } else if (!PoolSpace(st).holds_block(block, size)) {
        return kStDamaged;
    }
    d->st_obj_ptr = block;
    d->st_obj_len = size;
    copy_in(block, data, size);
    return kStDone;
}

BSP_API int st_get_obj(UINT32 st_id, const UINT8 *key, void *data, UINT32 size) {
    STORE *st = nullptr;
    UINT32 node = 0;
    int status = st_find(st_id, key, data, size, &st, &node);
    if (status != kStDone) {
        return status;
    }
    const STORE_OBJ_DESC *d = st_desc(node);
    UINT32 n = size < d->st_obj_len ? size : d->st_obj_len;
    if (n != 0) {
        std::memcpy(data, bsp::from_addr32(d->st_obj_ptr), n);
    }
    return kStDone;
}

BSP_API int st_obj_key(const CHAR *st_obj_name, UINT32 st_obj_name_len, UINT8 *key) {
    if (key == nullptr || (st_obj_name == nullptr && st_obj_name_len != 0)) {
        return kStNoStore;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    if (st_obj_name_len != 0) {
        crc = crc32(crc, reinterpret_cast<const Bytef *>(st_obj_name), st_obj_name_len);
    }
    UINT32 value = static_cast<UINT32>(crc);
    std::memcpy(key, &value, sizeof value);
    return kStDone;
}

BSP_API int st_obj_cmp(const UINT8 *key1, const UINT8 *key2) {
    return st_key_cmp(key1, key2);
}

}  // extern "C"
