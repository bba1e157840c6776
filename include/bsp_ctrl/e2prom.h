/** @file
 * Inventory EEPROM: a 16384-byte serial EEPROM on I2C bus 1, found on its first access at
 * 0x57 or 0x53 and reached directly through /dev/i2c-1 or, when a kernel driver owns it,
 * through that driver's sysfs file; and its layout of a header, areas and data items with
 * byte-sum check bytes.
 *
 * Device access: results are byte counts (0 when the device could not be opened or selected)
 * and diagnostics are printed on standard output and standard error. Writes pause 10 ms after
 * each chunk of at most 64 bytes that does not cross a 64-byte page boundary.
 *
 * Layout: results are 0 or one of the layout result codes below.
 *
 * @par Threads and locks
 * Every device access runs under the semaphore `e2prom`; any thread may call the device
 * access functions. The layout functions share one header buffer without a lock: one caller
 * at a time.
 */
#ifndef BSP_CTRL_E2PROM_H
#define BSP_CTRL_E2PROM_H

#include <semaphore.h>

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/* ---- device access ---- */

/** Serialises every opening of the EEPROM device; started on first use. */
BSP_API extern sem_t e2prom;

/** Probes 0x57, then 0x53 on bus 1 and settles the address and the access method (direct,
 * or through the kernel driver when an address is busy).
 * @return 0 when settled, -1 otherwise (the default address 0x53 stays; later accesses probe
 * again).
 */
BSP_API INT e2prom_i2c_addr_find(void);

/** Reads `length` bytes at `address` into `data_buff`; the range is cut at 0x4000 (nothing
 * above 0x3FFF).
 * @return the number of bytes read; 0 for a NULL buffer.
 */
BSP_API INT e2prom_read(UINT16 address, UINT8 *data_buff, UINT16 length);

/** Writes `length` bytes of `data_buff` at `address`, cut at 0x4000. Takes at least 10 ms
 * per chunk.
 * @return the number of bytes written; 0 for a NULL buffer.
 */
BSP_API INT e2prom_write(UINT16 address, UINT8 *data_buff, UINT16 length);

/** Writes 0xFF over all 16384 bytes (about 2.6 s).
 * @return 0 when all were written, -1 otherwise.
 */
BSP_API INT e2prom_reset(void);

/* ---- layout ---- */

/** @file
 * @par Result codes of the layout functions
 * - 0: success
 * - -1: e2prom_init: the EEPROM already has a header (byte 0 is 0x00)
 * - -2: no EEPROM header (byte 0 is not 0x00)
 * - -3: no terminator among the area entries before offset 64
 * - -4: EEPROM header check byte wrong
 * - -5: EEPROM header full
 * - -6: e2prom_area_init: area id already present (or 0), or an area header already there
 * - -7: area id not in the EEPROM header, or the area has no area header
 * - -8: no terminator among the data entries before area offset 256
 * - -9: area header check byte wrong
 * - -10: area header full
 * - -11: the new area would end beyond 0x3E00
 * - -12: data id not in the area header
 * - -13: a read of the EEPROM returned fewer bytes than asked, or a write stored fewer
 *   (-EACCES); also a NULL buffer argument
 * - -14: data check byte wrong, or a data entry of stored size 0 (corrupt)
 * - -15: the data does not fit (another size than the existing item, or beyond the area)
 */

/** Area entry of the EEPROM header (9 bytes on the device, big-endian). */
typedef struct e2prom_header_entry_s {
    UINT8 id;
    UINT32 size;
    UINT32 address;
} e2prom_header_entry_t;

/** Data entry of an area header (6 bytes on the device, big-endian). */
typedef struct data_area_header_entry_s {
    UINT16 id;
    UINT16 size;    /**< data length + 1 (the check byte) */
    UINT16 address; /**< offset from the area's first byte */
} data_area_header_entry_t;

/** Formats an unformatted EEPROM (byte 0 not 0x00): writes the empty header.
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_init(void);

/** Reads the 64-byte header into `header` and verifies its check byte.
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_header_read(UINT8 *header);

/** Writes the header's length through its terminator (6 for an empty header).
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_get_header_size(UINT16 *header_size);

/** Creates area `area_id` (1..255) of `size` bytes behind the last area, with its header.
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_area_init(UINT8 area_id, UINT16 size);

/** Reads the 256-byte area header of `area_id` into `area_header` and verifies both check
 * bytes on the way.
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_area_header_read(UINT8 area_id, UINT8 *area_header);

/** Writes the area header's length through its terminator (6 for an empty area).
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_get_area_header_size(UINT8 area_id, UINT16 *area_header_size);

/** Writes data item `data_id` (1..65535) of `size` bytes with its check byte: a new item goes
 * behind the last one; an existing item must have the same size and is overwritten.
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_data_write(UINT8 area_id, UINT16 data_id, UINT16 size, UINT8 *data);

/** Reads data item `data_id` into `data` (room for its length, see e2prom_get_data_size)
 * and verifies its check byte.
 * @return 0 or a layout result code: on -14 the bytes read stay in `data`; an entry of
 * stored size 0 is refused with -14 and nothing is written to `data`.
 */
BSP_API INT e2prom_data_read(UINT8 area_id, UINT16 data_id, UINT8 *data);

/** Writes the length of data item `data_id`.
 * @return 0 or a layout result code.
 */
BSP_API INT e2prom_get_data_size(UINT8 area_id, UINT16 data_id, UINT16 *data_size);

BSP_EXTERN_C_END

#endif
