// Inventory EEPROM device access: the probe on bus 1, and byte-range reads and writes either
// straight over /dev/i2c-1 (two address bytes before the data) or through the sysfs file of
// the kernel's EEPROM driver when that driver owns the chip.
#include <bsp_ctrl/e2prom.h>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static_assert(I2C_SLAVE == 0x0703, "slave-address request of the I2C character device");
static_assert(I2C_SMBUS == 0x0720, "SMBus request of the I2C character device");

extern "C" {
BSP_API sem_t e2prom;
}

namespace bsp::e2prom {

namespace {

constexpr int kBus = 1;
constexpr UINT8 e2prom_addrs[2] = {0x57, 0x53};
constexpr UINT8 kDefaultAddr = 0x53;

constexpr unsigned kDeviceSize = 0x4000;
constexpr unsigned kPageSize = 64;  // a write never crosses a page boundary
constexpr unsigned kReadChunk = 64;
constexpr unsigned kAddrBytes = 2;  // most significant first
constexpr useconds_t kWritePauseUs = 10000;

// Access method settled by the probe.
enum Probed : int { kNotProbed = 0, kDirect = 1, kDriver = 2 };

// The probe runs unlocked against concurrent readers of these, hence atomics; the address is
// published before the method that makes it valid.
std::atomic<UINT8> E2PROM_ADDR{kDefaultAddr};
std::atomic<int> e2romProbed{kNotProbed};
std::atomic<int> semInitialized{0};
pthread_once_t sem_once = PTHREAD_ONCE_INIT;

// Two first callers in two threads must not both initialise the semaphore.
void start_semaphore() {
    pthread_once(&sem_once, [] {
        sem_init(&::e2prom, 0, 1);
        semInitialized.store(1);
    });
}

void sem_lock() {
    while (sem_wait(&::e2prom) != 0 && errno == EINTR) {
    }
}

void sem_unlock() {
    sem_post(&::e2prom);
}

void bus_path(char (&path)[32]) {
    std::snprintf(path, sizeof path, "/dev/i2c-%d", kBus);
}

void driver_path(char (&path)[64]) {
    std::snprintf(path, sizeof path, "/sys/bus/i2c/devices/%d-00%x/eeprom", kBus,
                  static_cast<unsigned>(E2PROM_ADDR.load()));
}

int i2c_smbus_access(int file, char read_write, UINT8 command, int size,
                     union i2c_smbus_data *data) {
    struct i2c_smbus_ioctl_data args;
    args.read_write = static_cast<UINT8>(read_write);
    args.command = command;
    args.size = static_cast<UINT32>(size);
    args.data = data;
    return ioctl(file, I2C_SMBUS, &args);
}

int i2c_smbus_read_byte(int file) {
    union i2c_smbus_data data;
    if (i2c_smbus_access(file, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data) != 0) {
        return -1;
    }
    return data.byte;
}

// Selects each candidate in turn; true when one answered (address and method settled).
// `*busy` receives the last candidate claimed by a kernel driver; -1 when a selection failed
// otherwise (the message is printed).
int scan_candidates(int file, UINT8 *busy) {
    for (UINT8 addr : e2prom_addrs) {
        if (ioctl(file, I2C_SLAVE, static_cast<unsigned long>(addr)) < 0) {
            if (errno == EBUSY) {
                std::printf("Addr: 0x%02x is busy\n", addr);
                *busy = addr;
                continue;
            }
            std::fprintf(stderr, "Error: Could not set address to 0x%02x: %s\n", addr,
                         std::strerror(errno));
            return -1;
        }
        if (i2c_smbus_read_byte(file) < 0) {
            continue;
        }
        std::printf("Found eeprom on bus /dev/i2c-%d, addr: 0x%02x\n", kBus, addr);
        E2PROM_ADDR.store(addr);
        e2romProbed.store(kDirect);
        return 1;
    }
    return 0;
}

void close_if_open(int file) {
    if (file >= 0) {
        close(file);
    }
}

// The range that stays inside the device.
UINT16 clamp_length(UINT16 address, UINT16 length) {
    if (address >= kDeviceSize) {
        return 0;
    }
    return static_cast<UINT16>(std::min<unsigned>(length, kDeviceSize - address));
}

// Length of the chunk at `at`: at most `remaining`, ending at or before the next page boundary.
unsigned write_chunk_length(unsigned at, unsigned remaining) {
    return std::min(remaining, kPageSize - at % kPageSize);
}

// Writes page-bounded chunks, each with its address bytes in front when `with_address`, and
// pauses after every chunk. False after a short write (reported); `*written` counts the bytes
// of the complete chunks.
bool write_chunks(int file, UINT16 address, const UINT8 *data, UINT16 length, bool with_address,
                  INT *written) {
    UINT8 buf[kAddrBytes + kPageSize];
    const unsigned head = with_address ? kAddrBytes : 0;
    while (*written < length) {
        unsigned at = address + static_cast<unsigned>(*written);
        unsigned n = write_chunk_length(at, length - static_cast<unsigned>(*written));
        buf[0] = static_cast<UINT8>(at >> 8);
        buf[1] = static_cast<UINT8>(at);
        std::memcpy(buf + kAddrBytes, data + *written, n);
        ssize_t rc = write(file, buf + kAddrBytes - head, n + head);
        if (rc != static_cast<ssize_t>(n + head)) {
            std::printf("Error writing EEPROM: write returned %d, instead of %d\n",
                        static_cast<int>(rc), static_cast<int>(n + head));
            return false;
        }
        *written += static_cast<INT>(n);
        usleep(kWritePauseUs);
    }
    return true;
}

// Reads chunks of at most 64 bytes; on the direct bus the chip's address pointer is set
// before each one. False after a failure (reported).
bool read_chunks(int file, UINT16 address, UINT8 *data, UINT16 length, bool with_address,
                 INT *done) {
    while (*done < length) {
        unsigned at = address + static_cast<unsigned>(*done);
        if (with_address) {
            const UINT8 pos[kAddrBytes] = {static_cast<UINT8>(at >> 8), static_cast<UINT8>(at)};
            if (write(file, pos, kAddrBytes) != static_cast<ssize_t>(kAddrBytes)) {
                std::printf("Error setting position to byte %lu\n", static_cast<unsigned long>(at));
                return false;
            }
        }
        unsigned n = std::min(length - static_cast<unsigned>(*done), kReadChunk);
        ssize_t rc = read(file, data + *done, n);
        if (rc != static_cast<ssize_t>(n)) {
            std::printf("Error reading from EEPROM: fread returned %d, instead of %d\n",
                        static_cast<int>(rc), static_cast<int>(n));
            return false;
        }
        *done += static_cast<INT>(n);
    }
    return true;
}

// Opens the device of the settled method under the semaphore: the bus device with the chip
// selected, or the driver's file positioned at `address`. -1 when that failed (reported,
// semaphore given back).
int open_device(UINT16 address, bool for_write) {
    if (e2romProbed.load() == kDirect) {
        char path[32];
        bus_path(path);
        sem_lock();
        int file = open(path, O_RDWR);
        if (file < 0) {
            std::printf("Error opening %s\n", path);
            sem_unlock();
            return -1;
        }
        if (ioctl(file, I2C_SLAVE, static_cast<unsigned long>(E2PROM_ADDR.load())) < 0) {
            std::printf("Error requesting slave address 0x%x of device\n",
                        static_cast<unsigned>(E2PROM_ADDR.load()));
            sem_unlock();
            close(file);
            return -1;
        }
        return file;
    }
    char path[64];
    driver_path(path);
    sem_lock();
    int file = open(path, for_write ? O_RDWR : O_RDONLY);
    if (file < 0) {
        std::printf("Error opening %s\n", path);
        sem_unlock();
        return -1;
    }
    if (lseek(file, address, SEEK_SET) != static_cast<off_t>(address)) {
        std::printf("Error setting position to byte %d\n", static_cast<int>(address));
        sem_unlock();
        close(file);
        return -1;
    }
    return file;
}

// Closes after a complete transfer and gives the semaphore back; returns `count`.
INT close_device(int file, INT count, const char *what) {
    if (close(file) != 0) {
        std::printf("%s", what);
        std::fflush(stdout);
        perror("Close returned: \n");
    }
    sem_unlock();
    return count;
}

// Closes after a failed chunk; returns the bytes transferred before it.
INT abort_device(int file, INT count) {
    sem_unlock();
    close(file);
    return count;
}

// The steps before every read or write: probe when still needed, cut the range, start the
// semaphore. False when there is nothing to transfer.
bool prepare_access(UINT16 address, UINT16 *length) {
    if (e2romProbed.load() == kNotProbed) {
        e2prom_i2c_addr_find();
    }
    *length = clamp_length(address, *length);
    start_semaphore();
    return e2romProbed.load() != kNotProbed;
}

}  // namespace

}  // namespace bsp::e2prom

using namespace bsp::e2prom;

extern "C" {

BSP_API INT e2prom_i2c_addr_find(void) {
    start_semaphore();
    UINT8 busy = 0;
    char path[32];
    bus_path(path);
    sem_lock();
    int file = open(path, O_RDWR);
    if (scan_candidates(file, &busy) < 0) {
        close_if_open(file);
        sem_unlock();
        return -1;
    }
    sem_unlock();
    if (e2romProbed.load() != kNotProbed) {
        close_if_open(file);
        return 0;
    }
    if (busy != 0) {
        std::printf("Found BUSY device at addr 0x%02x, assume using I2C_client driver\n", busy);
        E2PROM_ADDR.store(busy);
        e2romProbed.store(kDriver);
        close_if_open(file);
        return 0;
    }
    std::fprintf(stderr, "Could not probe e2prom at addr 0x%02x or 0x%02x, use default 0x%02x\n",
                 e2prom_addrs[0], e2prom_addrs[1], static_cast<unsigned>(E2PROM_ADDR.load()));
    close_if_open(file);
    return -1;
}

BSP_API INT e2prom_read(UINT16 address, UINT8 *data_buff, UINT16 length) {
    if (!prepare_access(address, &length) || (data_buff == nullptr && length > 0)) {
        return 0;
    }
    int file = open_device(address, false);
    if (file < 0) {
        return 0;
    }
    INT done = 0;
    bool direct = e2romProbed.load() == kDirect;
    if (!read_chunks(file, address, data_buff, length, direct, &done)) {
        return abort_device(file, done);
    }
    return close_device(file, done,
                        direct ? "Error while closing device" : "Error while closing file");
}

BSP_API INT e2prom_write(UINT16 address, UINT8 *data_buff, UINT16 length) {
    if (!prepare_access(address, &length) || (data_buff == nullptr && length > 0)) {
        return 0;
    }
    int file = open_device(address, true);
    if (file < 0) {
        return 0;
    }
    INT written = 0;
    bool direct = e2romProbed.load() == kDirect;
    if (!write_chunks(file, address, data_buff, length, direct, &written)) {
        return abort_device(file, written);
    }
    return close_device(file, written, "Error while closing file");
}

BSP_API INT e2prom_reset(void) {
    auto *buffer = static_cast<UINT8 *>(std::malloc(kDeviceSize));
    if (buffer == nullptr) {
        return -1;
    }
    std::memset(buffer, 0xFF, kDeviceSize);
    INT written = e2prom_write(0, buffer, static_cast<UINT16>(kDeviceSize));
    std::free(buffer);
    return written == static_cast<INT>(kDeviceSize) ? 0 : -1;
}

}  // extern "C"
