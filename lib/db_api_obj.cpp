// Open objects: the per-database list of open-object records, their ids, and the object
// operations (open, close, remove, read, write).
//
// An object id names a live record of the open list: the database in its lowest bit, a
// serial above it. Every use looks the id up in the list under "DB_OBJ_SEM", so a closed or
// forged id is refused without touching memory that may have been freed.
#include <cstdlib>
#include <cstring>
#include <new>

#include "db_api_records.h"

namespace bsp::db {

namespace {

// Open modes, compared in this order over at most 2 characters.
struct OpenMode {
    const char *text;
    UINT32 flags;
};
constexpr OpenMode kOpenModes[] = {{"r", 1}, {"w+", 8}, {"r+", 4}, {"w", 2}};
constexpr UINT32 kFlagsRead = 0xD;
constexpr UINT32 kFlagsWrite = 0xE;
constexpr UINT32 kFlagsMustExist = 0x5;
constexpr UINT32 kFlagsEmpty = 0xA;

UINT32 mode_flags(const char *mode) {
    for (const OpenMode &m : kOpenModes) {
        if (std::strncmp(mode, m.text, 2) == 0) {
            return m.flags;
        }
    }
    return 0;
}

// --- the open list (callers hold DB_OBJ_SEM) ---

void obj_place_on_opened_list(DB *db, OBJ *obj) {
    OBJ *first = db->db_obj_opened_list;
    if (first == nullptr) {
        obj->obj_opened_next = obj->obj_opened_prev = obj;
        db->db_obj_opened_list = obj;
        return;
    }
    obj->obj_opened_prev = first->obj_opened_prev;
    obj->obj_opened_next = first;
    first->obj_opened_prev->obj_opened_next = obj;
    first->obj_opened_prev = obj;
}

void obj_remove_from_opened_list(DB *db, OBJ *obj) {
    if (obj->obj_opened_next == obj) {
        db->db_obj_opened_list = nullptr;
        return;
    }
    obj->obj_opened_prev->obj_opened_next = obj->obj_opened_next;
    obj->obj_opened_next->obj_opened_prev = obj->obj_opened_prev;
    if (db->db_obj_opened_list == obj) {
        db->db_obj_opened_list = obj->obj_opened_next;
    }
}

template <typename Match>
OBJ *find_on_opened_list(DB *db, Match &&match) {
    OBJ *first = db->db_obj_opened_list;
    OBJ *obj = first;
    do {
        if (obj != nullptr && match(obj)) {
            return obj;
        }
        obj = obj ? obj->obj_opened_next : nullptr;
    } while (obj != first);
    return nullptr;
}

OBJ *obj_search_in_opened_list(DB *db, const UINT8 *key) {
    return find_on_opened_list(db, [&](OBJ *o) { return db->db_obj_cmp(key, o->obj_key) == 0; });
}

OBJ *obj_by_handle(DB *db, UINT32 handle) {
    return find_on_opened_list(db, [&](OBJ *o) { return o->obj_handle == handle; });
}

// A fresh id for database `db`, not held by any open record.
UINT32 new_handle(DB *db) {
    UINT32 handle = 0;
    do {
        db->db_next_handle = (db->db_next_handle + 1) & 0x7FFFFFFF;
        handle = db->db_next_handle << 1 | db->db_id;
    } while (db->db_next_handle == 0 || obj_by_handle(db, handle) != nullptr);
    return handle;
}

OBJ *obj_create(DB *db, const UINT8 *key) {
    void *mem = std::calloc(1, sizeof(OBJ));
    if (mem == nullptr) {
        return nullptr;
    }
    OBJ *obj = new (mem) OBJ{};
    obj->db = db;
    std::memcpy(obj->obj_key, key, sizeof obj->obj_key);
    std::strcpy(obj->obj_sem_name, "OBJ_SEM");
    if (OS_Create_Semaphore(&obj->obj_sem, obj->obj_sem_name, 1, NU_PRIORITY) != NU_SUCCESS) {
        obj->~OBJ();
        std::free(mem);
        return nullptr;
    }
    obj->obj_magic = kObjMagic;
    obj->obj_handle = new_handle(db);
    obj_place_on_opened_list(db, obj);
    return obj;
}

// One user leaves; the last one unlists and frees the record. Returns the users left.
UINT32 obj_leave(DB *db, OBJ *obj) {
    UINT32 left = --obj->obj_users;
    if (left == 0) {
        obj_remove_from_opened_list(db, obj);
        OS_Delete_Semaphore(&obj->obj_sem);
        obj->obj_magic = 0;
        obj->~OBJ();
        std::free(obj);
    }
    return left;
}

// The record of a name with one more user, created on the first open; none on failure.
OBJ *obj_enter(DB *db, const UINT8 *key) {
    OBJ *obj = nullptr;
    bool ok = with_sem(&db->db_obj_opened_sem, [&] {
        obj = obj_search_in_opened_list(db, key);
        if (obj == nullptr) {
            obj = obj_create(db, key);
        }
        if (obj != nullptr) {
            ++obj->obj_users;
        }
    });
    return ok ? obj : nullptr;
}

// Gives the object up: its semaphore goes to the next opener and this user leaves.
// `others` tells whether users remain. False on a semaphore failure or an unknown id.
bool obj_release(DB *db, UINT32 handle, bool *others) {
    bool done = false;
    bool ok = with_sem(&db->db_obj_opened_sem, [&] {
        OBJ *obj = obj_by_handle(db, handle);
        if (obj != nullptr && obj->obj_magic == kObjMagic &&
            OS_Release_Semaphore(&obj->obj_sem) == NU_SUCCESS) {
            *others = obj_leave(db, obj) != 0;
            done = true;
        }
    });
    return ok && done;
}

// What an operation needs of a live record, copied under DB_OBJ_SEM.
struct ObjView {
    DB *db = nullptr;
    STORE_OBJ_KEY key{};
    UINT32 flags = 0;
    UINT32 users = 0;
};

bool obj_get(UINT32 handle, ObjView *view) {
    DB *db = db_live(handle & 1);
    if (db == nullptr) {
        return false;
    }
    bool found = false;
    bool ok = with_sem(&db->db_obj_opened_sem, [&] {
        const OBJ *obj = obj_by_handle(db, handle);
        if (obj != nullptr && obj->obj_magic == kObjMagic) {
            view->db = db;
            std::memcpy(view->key, obj->obj_key, sizeof view->key);
            view->flags = obj->obj_flags.load(std::memory_order_relaxed);
            view->users = obj->obj_users;
            found = true;
        }
    });
    return ok && found;
}

// The store work of an open: the existence test or the emptying. Returns the device status.
int obj_prepare(DB *db, const UINT8 *key, UINT32 flags) {
    int status = 1;
    bool ok = true;
    if (flags & kFlagsMustExist) {
        ok =
            with_sem(&db->db_sem, [&] { status = db->db_get_obj(db->db_dev_id, key, nullptr, 0); });
    } else if (flags & kFlagsEmpty) {
        ok = with_sem(&db->db_sem, [&] {
            db->db_del_obj(db->db_dev_id, key);
            status = db->db_put_obj(db->db_dev_id, key, nullptr, 0);
        });
    }
    return ok ? status : 1;
}

// One store call for the holder of a live id whose mode allows it, under DB_SEM.
template <typename Call>
UINT32 obj_store_call(UINT32 obj_id, UINT32 allowed, bool args_ok, Call &&call) {
    std::shared_lock life(lifecycle_lock());
    ObjView v;
    if (!args_ok || !obj_get(obj_id, &v) || !(v.flags & allowed)) {
        return kDbFail;
    }
    int status = 1;
    bool ok = with_sem(&v.db->db_sem, [&] { status = call(v.db, v.key); });
    return ok && status == 0 ? kDbOk : kDbFail;
}

}  // namespace

UINT32 obj_open(UINT32 db_id, UINT32 *obj_id, const char *obj_name, const char *obj_open_mode) {
    if (obj_id == nullptr || obj_name == nullptr || obj_open_mode == nullptr) {
        return kDbFail;
    }
    std::shared_lock life(lifecycle_lock());
    DB *db = db_live(db_id);
    if (db == nullptr) {
        return kDbFail;
    }
    STORE_OBJ_KEY key;
    db->db_obj_key(obj_name, static_cast<UINT32>(std::strlen(obj_name)), key);
    OBJ *obj = obj_enter(db, key);
    if (obj == nullptr) {
        return kDbFail;
    }
    // The record lives while this opener counts among its users, and the database as well
    // (it is not deleted while objects are open), so the wait for the holder runs unlocked.
    UINT32 handle = obj->obj_handle;
    bool others = false;
    life.unlock();
    bool obtained = OS_Obtain_Semaphore(&obj->obj_sem, NU_SUSPEND) == NU_SUCCESS;
    life.lock();
    if (!obtained) {
        with_sem(&db->db_obj_opened_sem, [&] { obj_leave(db, obj); });
        return kDbFail;
    }
    UINT32 flags = mode_flags(obj_open_mode);
    obj->obj_flags.store(flags, std::memory_order_relaxed);
    if (obj_prepare(db, key, flags) != 0) {
        obj_release(db, handle, &others);
        return kDbFail;
    }
    *obj_id = handle;
    return kDbOk;
}

UINT32 obj_close(UINT32 obj_id) {
    std::shared_lock life(lifecycle_lock());
    DB *db = db_live(obj_id & 1);
    bool others = false;
    return db != nullptr && obj_release(db, obj_id, &others) ? kDbOk : kDbFail;
}

UINT32 obj_remove(UINT32 obj_id) {
    std::shared_lock life(lifecycle_lock());
    ObjView v;
    if (!obj_get(obj_id, &v) || v.users != 1) {
        return kDbFail;
    }
    DB *db = v.db;
    int status = 1;
    if (!with_sem(&db->db_sem, [&] { status = db->db_del_obj(db->db_dev_id, v.key); })) {
        return kDbFail;
    }
    bool others = false;
    bool released = obj_release(db, obj_id, &others);
    return status == 0 && released && !others ? kDbOk : kDbFail;
}

UINT32 obj_read(UINT32 obj_id, void *obj_data, UINT32 obj_size) {
    return obj_store_call(obj_id, kFlagsRead, obj_data != nullptr || obj_size == 0,
                          [&](DB *db, const UINT8 *key) {
                              return db->db_get_obj(db->db_dev_id, key, obj_data, obj_size);
                          });
}

UINT32 obj_write(UINT32 obj_id, const void *obj_data, UINT32 obj_size) {
    return obj_store_call(obj_id, kFlagsWrite, obj_data != nullptr || obj_size == 0,
                          [&](DB *db, const UINT8 *key) {
                              return db->db_set_obj(db->db_dev_id, key, obj_data, obj_size);
                          });
}

}  // namespace bsp::db
