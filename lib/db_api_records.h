// Internal records of the database API: the two databases with their store operations and
// semaphores, and the open-object records shared by all openers of a name.
#ifndef BSP_LIB_DB_API_RECORDS_H
#define BSP_LIB_DB_API_RECORDS_H

#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/db_dev.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>

#include "common/writer_first_lock.h"

namespace bsp::db {

constexpr UINT32 kDbOk = 0;
constexpr UINT32 kDbFail = 1;
constexpr UINT32 kDbMagic = 0x44420000;
constexpr UINT32 kObjMagic = 0x4F424A00;
constexpr UINT32 kDbCount = 2;

struct DB;

// One per open name, from its first opener until its last user leaves.
struct OBJ {
    UINT32 obj_magic;
    UINT32 obj_status;
    UINT32 obj_users;               // openers holding or waiting; under DB_OBJ_SEM
    std::atomic<UINT32> obj_flags;  // open mode of the current holder
    STORE_OBJ_KEY obj_key;
    NU_SEMAPHORE obj_sem;  // held by the current holder
    char obj_sem_name[8];
    OBJ *obj_opened_next;
    OBJ *obj_opened_prev;
    DB *db;
    UINT32 obj_handle;  // the object id handed out
};

struct DB {
    UINT32 db_id;
    UINT32 db_magic;
    UINT32 db_dev_id;
    UINT32 db_dev_base;
    UINT32 db_dev_size;
    int (*db_init)(UINT32 *, UINT32, UINT32);
    int (*db_reinit)(UINT32 *, UINT32, UINT32);
    int (*db_obj_key)(const CHAR *, UINT32, UINT8 *);
    int (*db_obj_cmp)(const UINT8 *, const UINT8 *);
    int (*db_put_obj)(UINT32, const UINT8 *, const void *, UINT32);
    int (*db_del_obj)(UINT32, const UINT8 *);
    int (*db_set_obj)(UINT32, const UINT8 *, const void *, UINT32);
    int (*db_get_obj)(UINT32, const UINT8 *, void *, UINT32);
    NU_SEMAPHORE db_sem;
    char db_sem_name[8];
    OBJ *db_obj_opened_list;
    NU_SEMAPHORE db_obj_opened_sem;
    char db_obj_opened_sem_name[12];
    UINT32 db_next_handle;  // serial of the next object id; under DB_OBJ_SEM
};

// The record of database `db_id`, or none for ids above 1.
DB *db_get(UINT32 db_id);

// The record of a created database, or none.
DB *db_live(UINT32 db_id);

// Held exclusively by DbCreate and DbDelete while they rewrite a database record, and shared
// by every object call while it reads one, except while an opener waits for the holder of
// its object (the opener then counts among the object's users, so the record stays).
WriterFirstLock &lifecycle_lock();

// Object operations behind the exported functions.
UINT32 obj_open(UINT32 db_id, UINT32 *obj_id, const char *obj_name, const char *obj_open_mode);
UINT32 obj_close(UINT32 obj_id);
UINT32 obj_remove(UINT32 obj_id);
UINT32 obj_read(UINT32 obj_id, void *obj_data, UINT32 obj_size);
UINT32 obj_write(UINT32 obj_id, const void *obj_data, UINT32 obj_size);

// Runs `work` while holding `sem`; false (work not run, or the release failed) on any
// semaphore failure.
template <typename Work>
bool with_sem(NU_SEMAPHORE *sem, Work &&work) {
    if (OS_Obtain_Semaphore(sem, NU_SUSPEND) != NU_SUCCESS) {
        return false;
    }
    work();
    return OS_Release_Semaphore(sem) == NU_SUCCESS;
}

}  // namespace bsp::db

#endif
