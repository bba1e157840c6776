/** @file
 * Flash access: raw reads, writes and sector erases of the board's flash through the MTD
 * character device /dev/mtd0, and its geometry (uniform sectors only; the flash base
 * address is 0, so a system address equals its flash offset).
 *
 * Every function returns 0 on success and 1 on failure; failures are logged through the
 * debug log (module DBG_FLASH_INDEX, level 1). FlashCreate opens the device before any other
 * call; after FlashDelete every call fails as before the first FlashCreate.
 *
 * @par Threads and locks
 * Reads, writes and erases are serialised by the OS semaphore "s_flash"; the geometry
 * queries take no lock.
 */
#ifndef BSP_CTRL_FLASH_API_H
#define BSP_CTRL_FLASH_API_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Logs that the MTD driver is already installed.
 * @return 0.
 */
BSP_API UINT32 FlashInstall(void);

/** Logs that the MTD driver stays installed.
 * @return 1.
 */
BSP_API UINT32 FlashUninstall(void);

/** Creates "s_flash", opens /dev/mtd0 read-write and reads its geometry.
 * @return 0, or 1.
 */
BSP_API UINT32 FlashCreate(void);

/** Closes the device and deletes the semaphore, once the calls in progress have returned
 * (calls made meanwhile wait; afterwards they fail).
 * @return 0, or 1.
 */
BSP_API UINT32 FlashDelete(void);

/** Reads `dataSize` bytes at `flashAddress` into `ramAddress`.
 * @return 0; 1 for a NULL buffer with a non-zero size, for a read that ends beyond the
 * flash, or a failed read.
 */
BSP_API UINT32 FlashRead(UINT32 flashAddress, void *ramAddress, UINT32 dataSize);

/** Writes `dataSize` bytes of `ramAddress` at `flashAddress` (note the argument order). NOR
 * flash: a write only clears bits, so the caller erases the sectors it writes first.
 * @return 0, or 1.
 */
BSP_API UINT32 FlashWrite(void *ramAddress, UINT32 flashAddress, UINT32 dataSize);

/** Not implemented: logs so.
 * @return 0.
 */
BSP_API UINT32 FlashReset(void);

/** Refused (too dangerous): logs so without erasing anything.
 * @return 1.
 */
BSP_API UINT32 FlashEraseChip(void);

/** Erases sector `sectorNumber` (every byte becomes 0xFF).
 * @return 0, or 1.
 */
BSP_API UINT32 FlashEraseSector(UINT32 sectorNumber);

/** Base address (0), total size in bytes and number of sectors.
 * @return 0, or 1.
 */
BSP_API UINT32 FlashGetInfo(UINT32 *flashBase, UINT32 *flashSize, UINT32 *flashSectors);

/** Offset and size of sector `sectorNumber`.
 * @return 0, or 1.
 */
BSP_API UINT32 FlashGetSectorInfo(UINT32 sectorNumber, UINT32 *sectorBase, UINT32 *sectorSize);

/** Flash offset and sector number of the system address `sysAddress`.
 * @return 0, or 1.
 */
BSP_API UINT32 FlashRetrieveInfo(UINT32 sysAddress, UINT32 *flashAddress, UINT32 *sectorNumber);

BSP_EXTERN_C_END

#endif
