// I2C device access: SFP PHY registers on bus 1 at 0x56, and block reads and writes of any
// chip behind a 0-, 1- or 2-byte data address. Every operation opens the bus device, selects
// the chip (forced), transfers and closes, all under the semaphore `i2cdev`.
#include <bsp_ctrl/i2cdev.h>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <bsp_ctrl/platform/bsp_os.h>

static_assert(I2C_SLAVE_FORCE == 0x0706, "forced slave-address request");

extern "C" {
BSP_API sem_t i2cdev;
}

namespace bsp::i2c {

namespace {

constexpr int kSfpBus = 1;
constexpr unsigned long kSfpPhyAddr = 0x56;
constexpr UINT32 kLevelError = 0;
constexpr UINT32 kLevelWarning = 1;
constexpr size_t kPhyValueLen = 2;  // most significant byte first
constexpr unsigned kMaxAddrLen = 2;
constexpr useconds_t kBlockPauseUs = 10000;

std::atomic<int> semInitialized{0};
pthread_once_t sem_once = PTHREAD_ONCE_INIT;

// Two first callers in two threads must not both create the semaphore.
void start_semaphore() {
    pthread_once(&sem_once, [] {
        sem_init(&i2cdev, 0, 1);
        semInitialized.store(1);
    });
}

void bus_path(char (&path)[32], int bus) {
    std::snprintf(path, sizeof path, "/dev/i2c-%d", bus);
}

// The error number after a failed step; a short transfer sets none and counts as EIO, so
// that a failure is never reported as 0.
int step_error() {
    return errno != 0 ? errno : EIO;
}

// The end of a failed SFP step: semaphore back, device closed; the error number current
// after the close.
int give_up(int file) {
    int err = step_error();
    i2c_sem_post();
    if (close(file) != 0) {
        err = errno;
    }
    return err;
}

// Opens bus 1 and selects the SFP PHY under the semaphore: 0 with `*file` set, or the
// negated error number (logged, semaphore given back).
int sfp_open(int *file) {
    char path[32];
    bus_path(path, kSfpBus);
    i2c_sem_wait();
    *file = open(path, O_RDWR);
    if (*file < 0) {
        int err = errno;
        i2c_sem_post();
        log_printf(DBG_SFP_INDEX, kLevelError, "[SFP_DEV] Error 0x%x (%s) opening device %s\n", err,
                   std::strerror(err), path);
        return -err;
    }
    if (ioctl(*file, I2C_SLAVE_FORCE, kSfpPhyAddr) < 0) {
        int err = give_up(*file);
        log_printf(DBG_SFP_INDEX, kLevelError,
                   "[SFP_DEV] Error 0x%x (%s) requesting slave address 0x%x of i2c device\n", err,
                   std::strerror(err), static_cast<unsigned>(kSfpPhyAddr));
        return -err;
    }
    return 0;
}

// Closes after a complete SFP transfer: 0, or the negated error number (logged).
int sfp_close(int file) {
    if (close(file) != 0) {
        int err = errno;
        i2c_sem_post();
        log_printf(DBG_SFP_INDEX, kLevelError, "[SFP_DEV] Error 0x%x (%s) while closing device\n",
                   err, std::strerror(err));
        return -err;
    }
    i2c_sem_post();
    return 0;
}

// Sends the register number, retrying once: 0, or the negated error number (logged).
int sfp_set_register(int file, UINT8 regnum) {
    errno = 0;
    if (write(file, &regnum, 1) >= 1) {
        return 0;
    }
    int err = step_error();
    log_printf(DBG_SFP_INDEX, kLevelWarning,
               "[SFP_DEV] Warning: First try to set DATA-ADDRESS 0x%x failed (error 0x%x %s)\n",
               regnum, err, std::strerror(err));
    errno = 0;
    if (write(file, &regnum, 1) >= 1) {
        return 0;
    }
    err = give_up(file);
    log_printf(DBG_SFP_INDEX, kLevelError,
               "[SFP_DEV] Error 0x%x (%s) while setting DATA-ADDRESS 0x%x\n", err,
               std::strerror(err), regnum);
    return -err;
}

// Opens `bus` and selects `chip_addr` under the semaphore: 0 with `*file` set, -1 (open) or
// -2 (selection) with the semaphore given back.
int open_chip(int bus, int chip_addr, int *file) {
    char path[32];
    bus_path(path, bus);
    i2c_sem_wait();
    *file = open(path, O_RDWR);
    if (*file < 0) {
        i2c_sem_post();
        return -1;
    }
    if (ioctl(*file, I2C_SLAVE_FORCE, static_cast<unsigned long>(chip_addr)) < 0) {
        i2c_sem_post();
        close(*file);
        return -2;
    }
    return 0;
}

void close_chip(int file) {
    if (close(file) != 0) {
        perror("Close returned: \n");
    }
    i2c_sem_post();
}

// Puts the data address in front of a block: none, the low byte, or high then low byte.
void put_data_addr(UINT8 *out, unsigned addr_len, unsigned addr) {
    if (addr_len == 1) {
        out[0] = static_cast<UINT8>(addr);
    } else if (addr_len == kMaxAddrLen) {
        out[0] = static_cast<UINT8>(addr >> 8);
        out[1] = static_cast<UINT8>(addr);
    }
}

}  // namespace

}  // namespace bsp::i2c

using namespace bsp::i2c;

extern "C" {

BSP_API int i2c_read_sfp_phy(int phyad, UINT8 regnum, UINT16 *val) {
    (void)phyad;
    if (val == nullptr) {
        return -EFAULT;
    }
    int file = -1;
    int rc = sfp_open(&file);
    if (rc != 0) {
        return rc;
    }
    rc = sfp_set_register(file, regnum);
    if (rc != 0) {
        return rc;
    }
    UINT8 bytes[kPhyValueLen];
    errno = 0;
    if (read(file, bytes, kPhyValueLen) != static_cast<ssize_t>(kPhyValueLen)) {
        int err = give_up(file);
        log_printf(DBG_SFP_INDEX, kLevelError, "[SFP_DEV] Error 0x%x (%s) while reading SFP PHY\n",
                   err, std::strerror(err));
        return -err;
    }
    *val = static_cast<UINT16>((bytes[0] << 8) | bytes[1]);
    return sfp_close(file);
}

BSP_API int i2c_write_sfp_phy(int phyad, UINT8 regnum, UINT16 val) {
    (void)phyad;
    int file = -1;
    int rc = sfp_open(&file);
    if (rc != 0) {
        return rc;
    }
    const UINT8 msg[3] = {regnum, static_cast<UINT8>(val >> 8), static_cast<UINT8>(val)};
    errno = 0;
    if (write(file, msg, sizeof msg) != static_cast<ssize_t>(sizeof msg)) {
        int err = give_up(file);
        log_printf(DBG_SFP_INDEX, kLevelError,
                   "[SFP_DEV] Error 0x%x (%s) while writing SFP MONITOR\n", err,
                   std::strerror(err));
        return -err;
    }
    return sfp_close(file);
}

BSP_API int i2c_read_buf(int bus, int chip_addr, UINT16 data_addr, UINT8 data_addr_len,
                         UINT8 *data_buff, UINT16 buf_len, UINT16 block_len) {
    if (data_buff == nullptr && buf_len > 0) {
        return -1;
    }
    unsigned block = block_len != 0 ? block_len : buf_len;
    unsigned addr_len = std::min<unsigned>(data_addr_len, kMaxAddrLen);
    int file = -1;
    int rc = open_chip(bus, chip_addr, &file);
    if (rc != 0) {
        return rc;
    }
    unsigned done = 0;
    while (done < buf_len) {
        UINT8 addr[kMaxAddrLen];
        put_data_addr(addr, addr_len, data_addr + done);
        if (addr_len > 0 && write(file, addr, addr_len) != static_cast<ssize_t>(addr_len)) {
            i2c_sem_post();
            close(file);
            return -3;
        }
        unsigned count = std::min(buf_len - done, block);
        if (read(file, data_buff + done, count) != static_cast<ssize_t>(count)) {
            i2c_sem_post();
            close(file);
            return static_cast<int>(done);
        }
        done += count;
    }
    close_chip(file);
    return static_cast<int>(done);
}

BSP_API int i2c_write_buf(int bus, int chip_addr, UINT16 data_addr, UINT8 data_addr_len,
                          UINT8 *data_buff, UINT16 buf_len, UINT16 block_len) {
    if (data_buff == nullptr) {
        return -1;  // even a length of 0 writes one byte
    }
    unsigned length = buf_len != 0 ? buf_len : 1;
    unsigned block = block_len != 0 ? block_len : length;
    unsigned addr_len = std::min<unsigned>(data_addr_len, kMaxAddrLen);
    auto *xfer = static_cast<UINT8 *>(std::calloc(addr_len + block, 1));
    if (xfer == nullptr) {
        return -1;
    }
    int file = -1;
    int rc = open_chip(bus, chip_addr, &file);
    if (rc != 0) {
        std::free(xfer);
        return rc;
    }
    unsigned written = 0;
    while (written < length) {
        unsigned count = std::min(length - written, block);
        std::memcpy(xfer + addr_len, data_buff + written, count);
        put_data_addr(xfer, addr_len, data_addr + written);
        if (write(file, xfer, addr_len + count) != static_cast<ssize_t>(addr_len + count)) {
            i2c_sem_post();
            std::free(xfer);
            close(file);
            return static_cast<int>(written);
        }
        written += count;
        usleep(kBlockPauseUs);
    }
    close_chip(file);
    std::free(xfer);
    return static_cast<int>(written);
}

BSP_API UINT8 i2c_read_reg(int bus, int chip_addr, UINT8 data_addr, UINT8 data_addr_len) {
    UINT8 value = 0;
    i2c_read_buf(bus, chip_addr, data_addr, data_addr_len, &value, 1, 1);
    return value;
}

BSP_API int i2c_write_reg(int bus, int chip_addr, UINT8 data_addr, UINT8 data_addr_len,
                          UINT8 value) {
    i2c_write_buf(bus, chip_addr, data_addr, data_addr_len, &value, 1, 1);
    return 0;
}

BSP_API int i2c_sem_wait(void) {
    start_semaphore();
    while (sem_wait(&i2cdev) != 0 && errno == EINTR) {
    }
    return 0;
}

BSP_API int i2c_sem_post(void) {
    start_semaphore();
    sem_post(&i2cdev);
    return 0;
}

}  // extern "C"
