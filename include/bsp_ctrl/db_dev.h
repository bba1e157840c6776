/** @file
 * The store: small objects of raw bytes, each addressed by a 4-byte key, kept inside one
 * memory region that the caller hands over. Everything the store knows lives in the region
 * (a header, a memory pool, a descriptor and a data block per object), linked by 32-bit
 * absolute addresses, so a region that survives a restart at the same address is adopted
 * with every object.
 *
 * A store is named by its store id, the region's base address; 0 names no store.
 *
 * @par Threads and locks
 * The store takes no lock: the caller serialises every call on one store, reads included (a
 * search moves the store's cursor, which lives in the region).
 */
#ifndef BSP_CTRL_DB_DEV_H
#define BSP_CTRL_DB_DEV_H

#include <bsp_ctrl/bsp_types.h>

#include <bsp_ctrl/platform/bsp_os.h>

BSP_EXTERN_C_BEGIN

/** Space of the store header at the start of the region; the pool space follows it.
 *
 * Region layout. Every field is in the processor's byte order; the records are packed.
 * @verbatim
  offset  width  field
       0      8  st_name        "store", NUL-padded
       8      8  st_version     "1.0", NUL-padded
      16      4  st_addr        the region's base address
      20      4  st_size        the region's size, header included
      24     24  st_pool        the pool record over the pool space
      48      4  st_obj_head    descriptor with the smallest key, 0 when empty
      52      4  st_obj_search  the search cursor, 0 when empty
      56    200  (not used)
     256   rest  pool space: descriptors and data blocks
   @endverbatim
 */
#define ST_HEADER_SPACE 256u

typedef UINT8 STORE_OBJ_KEY[4];
typedef UINT8 STORE_OBJ_ATTR[2];

/** The store header at the start of the region (layout at ST_HEADER_SPACE). */
typedef struct STORE_STRUCT {
    CHAR st_name[8];
    CHAR st_version[8];
    UINT32 st_addr;
    UINT32 st_size;
    STORE_POOL st_pool;
    UINT32 st_obj_head;
    UINT32 st_obj_search;
} __attribute__((packed)) STORE;

/** One per object, 22 bytes from the pool; the list is circular, ascending by key compared
 * byte by byte (first byte most significant). */
typedef struct STORE_OBJ_DESC_STRUCT {
    STORE_OBJ_KEY st_obj_key;
    UINT32 st_obj_ptr; /**< data block */
    UINT32 st_obj_len; /**< data length, may be 0 */
    STORE_OBJ_ATTR st_obj_attr;
    UINT32 st_obj_next;
    UINT32 st_obj_prev;
} __attribute__((packed)) STORE_OBJ_DESC;

/** @file
 * @par Results of the object operations
 * - 0: done;
 * - 1: duplicate key (put) or no object with this key (delete, set, get);
 * - -1: store id 0, a null argument, or a store found damaged (a link or data block outside
 *   its pool space; nothing is changed);
 * - -2: the pool has no block of the needed size.
 */

/** Adopts the store already laid out in the region, or lays out an empty one over a region
 * that holds none. A region is adopted only after its header and its descriptor list check
 * out (base address, a size within `st_size`, the pool inside the region, every link and
 * data block inside the pool space, links consistent, keys ascending).
 * @return 0 with *st_id = st_addr; -1, writing nothing at all, for a null st_id, a region of
 * 256 bytes or less, a region at address 0 or beyond 32-bit addresses, a store of another
 * version, or a store that fails the checks (st_reinit remains the explicit way to wipe it).
 */
BSP_API int st_init(UINT32 *st_id, UINT32 st_addr, UINT32 st_size);

/** Lays out an empty store over the region, whatever it held. Bytes 56..255 are not touched.
 * @return 0 with *st_id = st_addr; -1, writing nothing, for the regions st_init refuses.
 */
BSP_API int st_reinit(UINT32 *st_id, UINT32 st_addr, UINT32 st_size);

/** Adds an object of `size` bytes copied from `data` (null allowed when size is 0); leaves
 * the cursor on it.
 * @return an object operation result: 1 when the key exists (nothing changes); -2 leaves
 * nothing behind.
 */
BSP_API int st_put_obj(UINT32 st_id, const UINT8 *key, const void *data, UINT32 size);

/** Removes the object and gives its blocks back to the pool.
 * @return an object operation result.
 */
BSP_API int st_del_obj(UINT32 st_id, const UINT8 *key);

/** Replaces the object's contents with `size` bytes of `data`. The data stays in its block
 * when the length is unchanged or both lengths fit the pool's minimum allocation; otherwise
 * it moves to a new block.
 * @return an object operation result; on -2 the object keeps its old contents.
 */
BSP_API int st_set_obj(UINT32 st_id, const UINT8 *key, const void *data, UINT32 size);

/** Copies min(size, stored length) bytes of the object into `data`; size 0 only tests that
 * the object exists.
 * @return an object operation result.
 */
BSP_API int st_get_obj(UINT32 st_id, const UINT8 *key, void *data, UINT32 size);

/** Writes the key of a name: the CRC-32 of its `len` bytes in the processor's byte order.
 * @return 0; -1 for a null key or a null name with a non-zero length.
 */
BSP_API int st_obj_key(const CHAR *st_obj_name, UINT32 st_obj_name_len, UINT8 *key);

/** Byte-wise comparison of two 4-byte keys.
 * @return < 0, 0 or > 0 as key1 sorts before, with or after key2.
 */
BSP_API int st_obj_cmp(const UINT8 *key1, const UINT8 *key2);

/** Prints the store's header as a table on standard output.
 * @return 0; -1 for store id 0.
 */
BSP_API int st_info(UINT32 st_id);

/** Prints every object (key, attribute, length, contents in hex and as text) in key order
 * on standard output.
 * @return 0; -1 for store id 0 (nothing printed) or a store found damaged (the listing stops
 * at the damage).
 */
BSP_API int st_dump(UINT32 st_id);

BSP_EXTERN_C_END

#endif
