// Flash access over the MTD character device: reads and writes at a flash offset, sector
// erase, and the geometry of a flash with uniform sectors. Diagnostics go to the debug log at
// level 1; every function returns 0 on success and 1 on failure.
#include <bsp_ctrl/flash_api.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-user.h>  // needs the ioctl macros above

#include <cerrno>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include <bsp_ctrl/platform/bsp_os.h>

#include "common/immortal.h"
#include "common/writer_first_lock.h"

static_assert(MEMGETINFO == 0x80204D01, "MTD geometry request");
static_assert(MEMGETREGIONCOUNT == 0x80044D07, "MTD erase-region count request");
static_assert(MEMERASE == 0x40084D02, "MTD erase request");

namespace bsp::flash {

namespace {

constexpr const char *kDevicePath = "/dev/mtd0";
constexpr UINT32 kFlashBase = 0;
constexpr UINT32 kLevel = 1;

char flash_sem_name[] = "s_flash";

// -1 while the device is not open (before FlashCreate and after FlashDelete).
int flash = -1;

// Held exclusively by FlashCreate and FlashDelete, shared by every other function for its
// whole run: the descriptor is never closed (and its number reused) under a transfer.
bsp::WriterFirstLock &device_lock() {
    return bsp::immortal<bsp::WriterFirstLock, struct DeviceLockTag>();
}
NU_SEMAPHORE flash_sem;
mtd_info_t flash_info;

// The common first step: a closed device fails with the function's own message.
bool device_closed(const char *fn) {
    if (flash == -1) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s failed: %s\n", fn, std::strerror(EBADF));
        return true;
    }
    return false;
}

// NULL out-pointers and buffers are refused with the function's own failure message.
bool bad_pointer(const char *fn, bool bad) {
    if (bad) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s failed: %s\n", fn, std::strerror(EFAULT));
    }
    return bad;
}

UINT32 sector_count() {
    return flash_info.erasesize != 0 ? flash_info.size / flash_info.erasesize : 0;
}

// True when the flash has uniform sectors (no erase regions).
bool uniform_sectors(const char *fn) {
    int count = 0;
    if (ioctl(flash, MEMGETREGIONCOUNT, &count) == -1) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s MEMGETREGIONCOUNT failed: %s\n", fn,
                   std::strerror(errno));
        return false;
    }
    if (count != 0) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s failed: %d flash regions\n", fn, count);
        return false;
    }
    return true;
}

bool obtain(const char *fn) {
    if (OS_Obtain_Semaphore(&flash_sem, NU_SUSPEND) != NU_SUCCESS) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s OS_Obtain_Semaphore failed\n", fn);
        return false;
    }
    return true;
}

bool release(const char *fn) {
    if (OS_Release_Semaphore(&flash_sem) != NU_SUCCESS) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s OS_Release_Semaphore failed\n", fn);
        return false;
    }
    return true;
}

// FlashGetSectorInfo's work, for callers that hold the device lock already.
UINT32 sector_info(UINT32 sectorNumber, UINT32 *sectorBase, UINT32 *sectorSize) {
    const char *fn = "FlashGetSectorInfo";
    if (device_closed(fn) || bad_pointer(fn, sectorBase == nullptr || sectorSize == nullptr) ||
        !uniform_sectors(fn)) {
        return 1;
    }
    if (sectorNumber >= sector_count()) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashGetSectorInfo failed: Invalid sector number\n");
        return 1;
    }
    *sectorSize = flash_info.erasesize;
    *sectorBase = sectorNumber * flash_info.erasesize;
    return 0;
}

// Seek and transfer under the semaphore, shared by FlashRead and FlashWrite.
UINT32 transfer(const char *fn, UINT32 address, void *buf, UINT32 size, bool to_flash) {
    if (device_closed(fn) || bad_pointer(fn, buf == nullptr && size > 0)) {
        return 1;
    }
    if (address > flash_info.size) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s failed: Invalid address\n", fn);
        return 1;
    }
    if (!obtain(fn)) {
        return 1;
    }
    if (lseek(flash, static_cast<off_t>(address), SEEK_SET) != static_cast<off_t>(address)) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s lseek failed: %s\n", fn, std::strerror(errno));
        release(fn);
        return 1;
    }
    errno = 0;  // a short transfer sets none
    ssize_t rc = to_flash ? write(flash, buf, size) : read(flash, buf, size);
    if (rc < 0 || static_cast<size_t>(rc) < size) {
        log_printf(DBG_FLASH_INDEX, kLevel, "%s %s failed: %s\n", fn, to_flash ? "write" : "read",
                   std::strerror(errno));
        release(fn);
        return 1;
    }
    return release(fn) ? 0 : 1;
}

}  // namespace

}  // namespace bsp::flash

using namespace bsp::flash;

extern "C" {

BSP_API UINT32 FlashInstall(void) {
    log_printf(DBG_FLASH_INDEX, kLevel,
               "FlashInstall succeeded: mtd flash driver already installed\n");
    return 0;
}

BSP_API UINT32 FlashUninstall(void) {
    log_printf(DBG_FLASH_INDEX, kLevel,
               "FlashUninstall failed: mtd flash driver remains installed\n");
    return 1;
}

BSP_API UINT32 FlashCreate(void) {
    std::unique_lock device(device_lock());
    if (OS_Create_Semaphore(&flash_sem, flash_sem_name, 1, NU_PRIORITY) != NU_SUCCESS) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashCreate OS_Create_Semaphore failed\n");
        return 1;
    }
    flash = open(kDevicePath, O_RDWR);
    if (flash == -1) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashCreate open failed: %s\n", std::strerror(errno));
        OS_Delete_Semaphore(&flash_sem);
        return 1;
    }
    if (ioctl(flash, MEMGETINFO, &flash_info) == -1) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashCreate MEMGETINFO failed: %s\n",
                   std::strerror(errno));
        OS_Delete_Semaphore(&flash_sem);
        close(flash);
        flash = -1;
        return 1;
    }
    return 0;
}

BSP_API UINT32 FlashDelete(void) {
    std::unique_lock device(device_lock());
    if (device_closed("FlashDelete")) {
        return 1;
    }
    // The descriptor is gone after close, failed or not: never use its number again.
    int rc = close(flash);
    flash = -1;
    if (rc != 0) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashDelete close failed: %s\n", std::strerror(errno));
        OS_Delete_Semaphore(&flash_sem);
        return 1;
    }
    if (OS_Delete_Semaphore(&flash_sem) != NU_SUCCESS) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashDelete OS_Delete_Semaphore failed\n");
        return 1;
    }
    return 0;
}

BSP_API UINT32 FlashRead(UINT32 flashAddress, void *ramAddress, UINT32 dataSize) {
    std::shared_lock device(device_lock());
    return transfer("FlashRead", flashAddress, ramAddress, dataSize, false);
}

BSP_API UINT32 FlashWrite(void *ramAddress, UINT32 flashAddress, UINT32 dataSize) {
    std::shared_lock device(device_lock());
    return transfer("FlashWrite", flashAddress, ramAddress, dataSize, true);
}

BSP_API UINT32 FlashReset(void) {
    log_printf(DBG_FLASH_INDEX, kLevel, "FlashReset function is not implemented\n");
    return 0;
}

BSP_API UINT32 FlashEraseChip(void) {
    log_printf(DBG_FLASH_INDEX, kLevel,
               "FlashEraseChip function is not implemented (too dangerous!)\n");
    return 1;
}

BSP_API UINT32 FlashEraseSector(UINT32 sectorNumber) {
    std::shared_lock device(device_lock());
    const char *fn = "FlashEraseSector";
    if (device_closed(fn)) {
        return 1;
    }
    UINT32 start = 0;
    UINT32 length = 0;
    if (sector_info(sectorNumber, &start, &length) == 1) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashEraseSector call to FlashGetSectorInfo failed\n");
        return 1;
    }
    if (!obtain(fn)) {
        return 1;
    }
    erase_info_t erase = {start, length};
    if (ioctl(flash, MEMERASE, &erase) == -1) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashEraseSector MEMERASE failed: %s\n",
                   std::strerror(errno));
        release(fn);
        return 1;
    }
    return release(fn) ? 0 : 1;
}

BSP_API UINT32 FlashGetInfo(UINT32 *flashBase, UINT32 *flashSize, UINT32 *flashSectors) {
    std::shared_lock device(device_lock());
    const char *fn = "FlashGetInfo";
    if (device_closed(fn) ||
        bad_pointer(fn, flashBase == nullptr || flashSize == nullptr || flashSectors == nullptr)) {
        return 1;
    }
    *flashSize = flash_info.size;
    if (!uniform_sectors(fn)) {
        return 1;
    }
    *flashSectors = sector_count();
    *flashBase = kFlashBase;
    return 0;
}

BSP_API UINT32 FlashGetSectorInfo(UINT32 sectorNumber, UINT32 *sectorBase, UINT32 *sectorSize) {
    std::shared_lock device(device_lock());
    return sector_info(sectorNumber, sectorBase, sectorSize);
}

BSP_API UINT32 FlashRetrieveInfo(UINT32 sysAddress, UINT32 *flashAddress, UINT32 *sectorNumber) {
    std::shared_lock device(device_lock());
    const char *fn = "FlashRetrieveInfo";
    if (device_closed(fn) || bad_pointer(fn, flashAddress == nullptr || sectorNumber == nullptr)) {
        return 1;
    }
    *flashAddress = sysAddress - kFlashBase;
    if (!uniform_sectors(fn)) {
        return 1;
    }
    if (*flashAddress >= flash_info.size || flash_info.erasesize == 0) {
        log_printf(DBG_FLASH_INDEX, kLevel, "FlashRetrieveInfo failed: Invalid address\n");
        return 1;
    }
    *sectorNumber = *flashAddress / flash_info.erasesize;
    return 0;
}

}  // extern "C"
