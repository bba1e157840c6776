/** @file
 * The object database: named objects of raw bytes with file-like handles, kept in a store
 * (db_dev.h) over a memory region. Two databases, ids 0 and 1.
 *
 * Every function returns 0 on success and 1 on any failure (store and OS failures are not
 * told apart). One opener at a time holds an object: a second DbObjOpen of the same name
 * waits until the holder closes or removes it, so a thread must not open a name it already
 * holds. All openers of a name get the same object id; an id is valid from a successful open
 * until its close or remove.
 *
 * @par Threads and locks
 * Any thread may call any function. Semaphores ("DB_SEM" around every store call,
 * "DB_OBJ_SEM" around the open-object list, one "OBJ_SEM" per open object held from open to
 * close) are taken in this order only: "OBJ_SEM" before "DB_SEM"; "DB_OBJ_SEM" is never held
 * while waiting for another.
 */
#ifndef BSP_CTRL_DB_API_H
#define BSP_CTRL_DB_API_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Do nothing; return 0. */
/** @{ */
BSP_API UINT32 DbInstall(void);
BSP_API UINT32 DbUninstall(void);
/** @} */

/** Creates database dbId (0 or 1) over the region [dbBase, dbBase + dbSize), which must lie
 * below 4 GiB and be 4-byte aligned: a region holding a sound store is adopted with every
 * object, a region holding none is laid out empty.
 * @return 0; 1 for another id, a region of 256 bytes or less, a damaged store (left
 * untouched), a database that still has open objects, or a semaphore failure (nothing is
 * left created).
 */
BSP_API UINT32 DbCreate(UINT32 dbId, UINT32 dbBase, UINT32 dbSize);

/** Deletes the database's semaphores; the region and its objects stay.
 * @return 0; 1 when the database was not created or still has open objects.
 */
BSP_API UINT32 DbDelete(UINT32 dbId);

/** Opens the object `objName` (NUL-terminated) of database dbId and writes its id to
 * *objId. Waits while another opener holds the name.
 * @param objOpenMode "r" read, must exist; "r+" read and write, must exist; "w" write,
 * emptied (created if missing); "w+" read and write, emptied; a mode beginning with "r+" or
 * "w+" counts as that mode.
 * @return 0; 1 on failure (unknown mode, missing object, ...): nothing stays open and *objId
 * is not written.
 */
BSP_API UINT32 DbObjOpen(UINT32 dbId, UINT32 *objId, char *objName, char *objOpenMode);

/** Closes the object; the next waiting opener then holds it. The stored object stays.
 * @return 0, or 1.
 */
BSP_API UINT32 DbObjClose(UINT32 objId);

/** Deletes the object from the store and closes it.
 * @return 0; 1, with nothing done, while another opener waits for the object; 1 (the handle
 * closed anyway) when the object was no longer stored.
 */
BSP_API UINT32 DbObjRemove(UINT32 objId);

/** Copies min(objSize, stored length) bytes of the object into objData; the number copied
 * is not told.
 * @return 0; 1 on a handle opened with "w".
 */
BSP_API UINT32 DbObjRead(UINT32 objId, void *objData, UINT32 objSize);

/** Replaces the whole object with objSize bytes of objData.
 * @return 0; 1 on a handle opened with "r", or when the store has no room (the object then
 * keeps its contents).
 */
BSP_API UINT32 DbObjWrite(UINT32 objId, const void *objData, UINT32 objSize);

BSP_EXTERN_C_END

#endif
