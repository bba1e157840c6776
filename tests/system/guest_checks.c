/* The library against the kernel's own drivers on the emulated board. One program, one
 * group of checks per argument; each check prints "PASS: ..." or "FAIL: ...", each
 * throughput figure "RATE: ...". The host side counts the lines and checks the backing files
 * of the EEPROMs and the flash after power-off.
 *
 * The board: /dev/i2c-1 with two 16 KiB EEPROMs, 0x57 (raw) and 0x53 (bound to the at24
 * driver), both preloaded by the host with a pattern of their own; /dev/mtd0, a 2 MiB NOR
 * flash of 4 KiB sectors. Where the emulated board differs from real hardware, the check
 * says so. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/i2cdev.h>

enum { kEepromSize = 0x4000, kFlashSize = 2 << 20, kSector = 4096 };

static int failed;

static void check(int ok, const char *what) {
    printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    fflush(stdout);
    failed |= !ok;
}

static double now_s(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void rate(const char *what, double bytes, double lib_s, double raw_s) {
    printf("RATE: %-12s library %8.1f KiB/s  raw %8.1f KiB/s  (%.0f %%)\n", what,
           bytes / 1024 / lib_s, bytes / 1024 / raw_s, 100.0 * raw_s / lib_s);
    fflush(stdout);
}

/* The host preloads EEPROM `salt` (7 for 0x57, 13 for 0x53) with byte i = i * salt + 3. */
static int has_pattern(const unsigned char *b, unsigned at, unsigned n, unsigned salt) {
    for (unsigned i = 0; i < n; i++) {
        if (b[i] != (unsigned char)((at + i) * salt + 3)) {
            return 0;
        }
    }
    return 1;
}

static void fill(unsigned char *b, unsigned n, unsigned seed) {
    for (unsigned i = 0; i < n; i++) {
        b[i] = (unsigned char)(i * 31 + seed);
    }
}

/* The raw path: 64-byte reads behind two address bytes on /dev/i2c-1. */
static int raw_eeprom_read(int addr, unsigned char *b, unsigned n) {
    int fd = open("/dev/i2c-1", O_RDWR);
    int ok = fd >= 0 && ioctl(fd, I2C_SLAVE, addr) == 0;
    for (unsigned at = 0; ok && at < n; at += 64) {
        unsigned char a[2] = {(unsigned char)(at >> 8), (unsigned char)at};
        ok = write(fd, a, 2) == 2 && read(fd, b + at, 64) == 64;
    }
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

static void eeprom_direct(void) {
    static unsigned char b[kEepromSize], raw[kEepromSize];
    check(e2prom_i2c_addr_find() == 0, "EEPROM probe settles");
    check(e2prom_read(0x1230, b, 16) == 16 && has_pattern(b, 0x1230, 16, 7),
          "EEPROM probe picks 0x57 on the bus directly (its pattern read back)");
    double t0 = now_s();
    int got = e2prom_read(0, b, kEepromSize);
    double t1 = now_s();
    int raw_ok = raw_eeprom_read(0x57, raw, kEepromSize);
    double t2 = now_s();
    check(got == kEepromSize && raw_ok && memcmp(b, raw, kEepromSize) == 0,
          "e2prom_read of the whole chip equals the raw bus read");
    rate("EEPROM read", kEepromSize, t1 - t0, t2 - t1);
    t0 = now_s();
    check(e2prom_reset() == 0, "e2prom_reset clears the chip");
    double took = now_s() - t0;
    printf("  e2prom_reset took %.2f s for %d pages\n", took, kEepromSize / 64);
    check(took >= 0.010 * kEepromSize / 64,
          "e2prom_reset pauses at least 10 ms per chunk "
          "(the emulated chip has no write-busy period: the pause is the library's alone)");
    check(
        e2prom_read(0, b, kEepromSize) == kEepromSize && b[0] == 0xff && b[kEepromSize - 1] == 0xff,
        "the chip reads 0xFF after e2prom_reset");
    unsigned char item[20], back[20];
    fill(item, sizeof item, 0x40);
    check(e2prom_init() == 0, "e2prom_init formats the cleared chip");
    check(e2prom_area_init(3, 0x400) == 0, "e2prom_area_init creates area 3 of 1 KiB");
    check(e2prom_data_write(3, 0x1234, sizeof item, item) == 0,
          "e2prom_data_write puts item 0x1234");
    check(e2prom_data_read(3, 0x1234, back) == 0 && memcmp(item, back, sizeof item) == 0,
          "e2prom_data_read gets item 0x1234 back with its check byte");
}

static void eeprom_sysfs(void) {
    unsigned char b[100], w[100];
    double t0 = now_s();
    int found = e2prom_i2c_addr_find();
    double took = now_s() - t0;
    check(found == 0, "EEPROM probe settles with only the driver-bound chip");
    /* The emulated bus answers an absent address by timing out, not with ENXIO at once. */
    printf("  probe took %.2f s (the emulated board NAKs the absent 0x57 by timing out)\n", took);
    check(e2prom_read(0x1230, b, 16) == 16 && has_pattern(b, 0x1230, 16, 13),
          "EEPROM falls back to the at24 sysfs file of 0x53 (its pattern read back)");
    fill(w, sizeof w, 0x5a);
    check(e2prom_write(0x0fe2, w, sizeof w) == (int)sizeof w,
          "e2prom_write of 100 bytes across a page");
    check(e2prom_read(0x0fe2, b, sizeof b) == (int)sizeof b && memcmp(b, w, sizeof w) == 0,
          "e2prom_read gets them back through the driver");
}

static void i2c_forced(void) {
    unsigned char w[32], b[32];
    fill(w, sizeof w, 0x11);
    check(i2c_write_buf(1, 0x53, 0x0100, 2, w, sizeof w, 16) == (int)sizeof w,
          "i2c_write_buf reaches the driver-owned 0x53 (I2C_SLAVE_FORCE)");
    check(i2c_read_buf(1, 0x53, 0x0100, 2, b, sizeof b, 8) == (int)sizeof b &&
              memcmp(b, w, sizeof w) == 0,
          "i2c_read_buf reads the blocks back");
    int fd = open("/sys/bus/i2c/devices/1-0053/eeprom", O_RDONLY);
    memset(b, 0, sizeof b);
    check(fd >= 0 && pread(fd, b, sizeof b, 0x0100) == (ssize_t)sizeof b &&
              memcmp(b, w, sizeof w) == 0,
          "the at24 driver's file shows the same bytes");
    if (fd >= 0) {
        close(fd);
    }
    i2c_write_reg(1, 0x53, 0x40, 2, 0x77);
    check(i2c_read_reg(1, 0x53, 0x40, 2) == 0x77, "i2c_write_reg then i2c_read_reg at 0x0040");
    check(i2c_read_reg(1, 0x53, 0x41, 2) == (unsigned char)(0x41 * 13 + 3),
          "i2c_read_reg of an untouched register gives the preloaded byte");
}

static int mtd_raw(int write_, unsigned char *b, unsigned at, unsigned n) {
    int fd = open("/dev/mtd0", O_RDWR);
    ssize_t done = fd < 0 ? -1 : write_ ? pwrite(fd, b, n, at) : pread(fd, b, n, at);
    if (fd >= 0) {
        close(fd);
    }
    return done == (ssize_t)n;
}

static int erase_sectors(unsigned first, unsigned count) {
    int ok = 1;
    for (unsigned s = first; s < first + count; s++) {
        ok &= FlashEraseSector(s) == 0;
    }
    return ok;
}

static void flash(void) {
    static unsigned char w[64 * 1024], b[64 * 1024];
    UINT32 base = 1, size = 0, sectors = 0, sbase = 0, ssize = 0;
    check(FlashCreate() == 0, "FlashCreate opens /dev/mtd0");
    check(FlashGetInfo(&base, &size, &sectors) == 0 && base == 0 && size == kFlashSize &&
              sectors == kFlashSize / kSector,
          "FlashGetInfo: the real geometry, 512 sectors of 4 KiB");
    check(FlashGetSectorInfo(5, &sbase, &ssize) == 0 && sbase == 5 * kSector && ssize == kSector,
          "FlashGetSectorInfo(5): 0x5000, 4 KiB");
    fill(w, 1000, 0x21);
    check(erase_sectors(3, 1) && FlashWrite(w, 0x3000, 1000) == 0 &&
              FlashRead(0x3000, b, 1000) == 0 && memcmp(b, w, 1000) == 0,
          "erase, write and read round trip at 0x3000");
    unsigned char clear = 0x0f;
    check(
        FlashWrite(&clear, 0x3000, 1) == 0 && FlashRead(0x3000, b, 1) == 0 && b[0] == (w[0] & 0x0f),
        "a write over written bytes only clears bits (NOR)");
    check(FlashRead(0x3000 + 1000, b, 8) == 0 && b[0] == 0xff && b[7] == 0xff,
          "bytes behind the write stay erased");
    check(FlashRead(kFlashSize - 4, b, 8) != 0, "a read past the end is refused");
    check(FlashEraseChip() != 0, "FlashEraseChip is refused");
    fill(w, sizeof w, 0x33);
    double t0 = now_s();
    int ok = FlashRead(0, b, sizeof b) == 0;
    double t1 = now_s();
    ok &= mtd_raw(0, w, 0, sizeof w);
    double t2 = now_s();
    check(ok && memcmp(b, w, sizeof b) == 0, "FlashRead of 64 KiB equals the raw read");
    rate("flash read", sizeof b, t1 - t0, t2 - t1);
    fill(w, sizeof w, 0x44);
    ok = erase_sectors(0x100, 32);
    t0 = now_s();
    ok &= FlashWrite(w, 0x100000, sizeof w) == 0;
    t1 = now_s();
    ok &= mtd_raw(1, w, 0x110000, sizeof w);
    t2 = now_s();
    check(ok && FlashRead(0x100000, b, sizeof b) == 0 && memcmp(b, w, sizeof b) == 0,
          "FlashWrite of 64 KiB reads back");
    rate("flash write", sizeof w, t1 - t0, t2 - t1);
}

/* The database's region: a file of the guest's memory file system, mapped at the same
 * address by every process start. */
enum { kRegionSize = 64 * 1024 };
static const uintptr_t kRegionAddress = 0x30000000;

static int open_store(void) {
    int fd = open("/tmp/db0.region", O_RDWR | O_CREAT, 0644);
    void *p = fd < 0 || ftruncate(fd, kRegionSize) != 0
                  ? MAP_FAILED
                  : mmap((void *)kRegionAddress, kRegionSize, PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_FIXED_NOREPLACE, fd, 0);
    if (fd >= 0) {
        close(fd);
    }
    return p == (void *)kRegionAddress && DbCreate(0, (UINT32)kRegionAddress, kRegionSize) == 0;
}

static void db_first_start(void) {
    UINT32 id = 0;
    unsigned char w[300];
    fill(w, sizeof w, 0x66);
    check(open_store(), "DbCreate lays out a fresh region");
    check(DbObjOpen(0, &id, "settings", "w") == 0 && DbObjWrite(id, w, sizeof w) == 0 &&
              DbObjClose(id) == 0,
          "an object of 300 bytes is written and closed");
}

static void db_second_start(void) {
    UINT32 id = 0;
    unsigned char w[300], b[300];
    fill(w, sizeof w, 0x66);
    check(open_store(), "DbCreate adopts the region of the previous process start");
    check(DbObjOpen(0, &id, "settings", "r") == 0 && DbObjRead(id, b, sizeof b) == 0 &&
              memcmp(b, w, sizeof w) == 0,
          "the adopted store has the object with its bytes");
    DbObjClose(id);
}

static const struct {
    const char *name;
    void (*run)(void);
} kGroups[] = {
    {"eeprom", eeprom_direct}, {"eeprom-sysfs", eeprom_sysfs}, {"i2c", i2c_forced},
    {"flash", flash},          {"db-first", db_first_start},   {"db-second", db_second_start},
};

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        size_t g = 0;
        while (g < sizeof kGroups / sizeof kGroups[0] && strcmp(kGroups[g].name, argv[i]) != 0) {
            g++;
        }
        if (g == sizeof kGroups / sizeof kGroups[0]) {
            printf("FAIL: no check group %s\n", argv[i]);
            return 2;
        }
        printf("== %s\n", argv[i]);
        kGroups[g].run();
    }
    return failed;
}
