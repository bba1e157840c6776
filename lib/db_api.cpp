// The database API: a fixed table of two databases, each a store driven through a table of
// device operations and guarded by OS semaphores. The exported functions only forward.
#include <cstring>

#include "common/immortal.h"
#include "db_api_records.h"

namespace bsp::db {

namespace {

DB db_ctrl[kDbCount];

// Whether objects are open; false as well when the open list cannot be locked (its
// semaphore is gone), in which case `lockable` is cleared.
bool has_open_objects(DB *db, bool *lockable) {
    bool open = false;
    *lockable = with_sem(&db->db_obj_opened_sem, [&] { open = db->db_obj_opened_list != nullptr; });
    return open;
}

void set_device_operations(DB *db) {
    db->db_init = st_init;
    db->db_reinit = st_reinit;
    db->db_obj_key = st_obj_key;
    db->db_obj_cmp = st_obj_cmp;
    db->db_put_obj = st_put_obj;
    db->db_del_obj = st_del_obj;
    db->db_set_obj = st_set_obj;
    db->db_get_obj = st_get_obj;
}

// Undoes a created database's semaphores; it is no longer created afterwards.
void db_drop(DB *db) {
    db->db_magic = 0;
    OS_Delete_Semaphore(&db->db_sem);
    OS_Delete_Semaphore(&db->db_obj_opened_sem);
}

// The semaphores and the store of a database record being created; false leaves none.
bool db_attach(DB *db) {
    if (OS_Create_Semaphore(&db->db_sem, db->db_sem_name, 1, NU_PRIORITY) != NU_SUCCESS) {
        return false;
    }
    db->db_obj_opened_list = nullptr;
    std::strcpy(db->db_obj_opened_sem_name, "DB_OBJ_SEM");
    if (OS_Create_Semaphore(&db->db_obj_opened_sem, db->db_obj_opened_sem_name, 1, NU_PRIORITY) !=
        NU_SUCCESS) {
        OS_Delete_Semaphore(&db->db_sem);
        return false;
    }
    if (db->db_init(&db->db_dev_id, db->db_dev_base, db->db_dev_size) != 0) {
        db_drop(db);
        return false;
    }
    return true;
}

UINT32 db_create(UINT32 db_id, UINT32 db_base, UINT32 db_size) {
    std::unique_lock life(lifecycle_lock());
    DB *db = db_get(db_id);
    if (db == nullptr) {
        return kDbFail;
    }
    if (db->db_magic == kDbMagic) {
        // Created again: only once no object is open, or its holders would be stranded.
        bool lockable = false;
        if (has_open_objects(db, &lockable)) {
            return kDbFail;
        }
        db_drop(db);
    }
    db->db_id = db_id;
    db->db_dev_id = 0;
    db->db_dev_base = db_base;
    db->db_dev_size = db_size;
    set_device_operations(db);
    std::strcpy(db->db_sem_name, "DB_SEM");
    if (!db_attach(db)) {
        return kDbFail;
    }
    db->db_magic = kDbMagic;
    return kDbOk;
}

UINT32 db_delete(UINT32 db_id) {
    std::unique_lock life(lifecycle_lock());
    DB *db = db_live(db_id);
    bool lockable = false;
    if (db == nullptr || has_open_objects(db, &lockable) || !lockable) {
        return kDbFail;
    }
    if (OS_Delete_Semaphore(&db->db_sem) != NU_SUCCESS) {
        return kDbFail;
    }
    db->db_magic = 0;
    return OS_Delete_Semaphore(&db->db_obj_opened_sem) == NU_SUCCESS ? kDbOk : kDbFail;
}

}  // namespace

DB *db_get(UINT32 db_id) {
    return db_id < kDbCount ? &db_ctrl[db_id] : nullptr;
}

DB *db_live(UINT32 db_id) {
    DB *db = db_get(db_id);
    return db != nullptr && db->db_magic == kDbMagic ? db : nullptr;
}

WriterFirstLock &lifecycle_lock() {
    return immortal<WriterFirstLock, struct LifecycleTag>();
}

}  // namespace bsp::db

using namespace bsp::db;

extern "C" {

BSP_API UINT32 DbInstall(void) {
    return kDbOk;
}

BSP_API UINT32 DbUninstall(void) {
    return kDbOk;
}

BSP_API UINT32 DbCreate(UINT32 dbId, UINT32 dbBase, UINT32 dbSize) {
    return db_create(dbId, dbBase, dbSize);
}

BSP_API UINT32 DbDelete(UINT32 dbId) {
    return db_delete(dbId);
}

BSP_API UINT32 DbObjOpen(UINT32 dbId, UINT32 *objId, char *objName, char *objOpenMode) {
    return obj_open(dbId, objId, objName, objOpenMode);
}

BSP_API UINT32 DbObjClose(UINT32 objId) {
    return obj_close(objId);
}

BSP_API UINT32 DbObjRemove(UINT32 objId) {
    return obj_remove(objId);
}

BSP_API UINT32 DbObjRead(UINT32 objId, void *objData, UINT32 objSize) {
    return obj_read(objId, objData, objSize);
}

BSP_API UINT32 DbObjWrite(UINT32 objId, const void *objData, UINT32 objSize) {
    return obj_write(objId, objData, objSize);
}

}  // extern "C"
