/* The library against the kernel's own drivers on the emulated board, where the unit shell's
 * transcript cannot reach: timing (the reset's pauses, throughput next to the raw path), the
 * sysfs fallback, the driver-owned chip, the UART's far end and a TCP client on the host. One
 * program, one group of checks per argument; each check prints "PASS: ..." or "FAIL: ...",
 * each throughput figure "RATE: ...". The host side counts the lines and checks the backing
 * files of the EEPROMs and the flash after power-off.
 *
 * The same program runs against the simulated devices, on a simulated unit set up like the
 * board (board.h: what differs between the two settings).
 *
 * The board: /dev/i2c-1 with two 16 KiB EEPROMs, 0x57 (raw) and 0x53 (bound to the at24
 * driver), both preloaded by the host with a pattern of their own; /dev/mtd0, a 2 MiB NOR
 * flash of 4 KiB sectors; /dev/ttyS0 (the UART ttymxc0) wired to a peer on the host that
 * echoes frames and plays the far side of the resynchronisation and console checks; the
 * board's TCP port forwarded from a client on the host. Where the emulated board differs from real
 * hardware, the check says so. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <mtd/mtd-user.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/i2cdev.h>
#include <bsp_ctrl/ti_socket_drv.h>

#include "board.h"

enum { kEepromSize = 0x4000 };

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

/* The library's path and the raw path of one transfer, timed in turns by timed_turns. */
struct paths {
    int (*library)(void);
    int (*raw)(void);
};

/* Times both paths over four rounds, each path first in every other round, so that neither
 * gains from the other warming the emulator's translated code or the driver; prints both
 * rates. False when a transfer failed. */
static int timed_turns(const char *what, double bytes, struct paths p) {
    double spent[2] = {0, 0};
    int ok = 1;
    for (int round = 0; round < 4; round++) {
        for (int turn = 0; turn < 2; turn++) {
            int raw = (round + turn) % 2;
            double t0 = now_s();
            ok &= raw ? p.raw() : p.library();
            spent[raw] += now_s() - t0;
        }
    }
    rate(what, 4 * bytes, spent[0], spent[1]);
    return ok;
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

static unsigned char g_by_library[64 * 1024], g_by_raw[64 * 1024];

static int library_eeprom_read(void) {
    return e2prom_read(0, g_by_library, kEepromSize) == kEepromSize;
}

static int raw_eeprom_read_all(void) {
    return raw_eeprom_read(0x57, g_by_raw, kEepromSize);
}

static void eeprom_direct(void) {
    static unsigned char b[kEepromSize];
    check(e2prom_i2c_addr_find() == 0, "EEPROM probe settles");
    check(e2prom_read(0x1230, b, 16) == 16 && has_pattern(b, 0x1230, 16, 7),
          "EEPROM probe picks 0x57 on the bus directly (its pattern read back)");
    int ok = timed_turns("EEPROM read", kEepromSize,
                         (struct paths){library_eeprom_read, raw_eeprom_read_all});
    check(ok && memcmp(g_by_library, g_by_raw, kEepromSize) == 0,
          "e2prom_read of the whole chip equals the raw bus read");
    double t0 = now_s();
    check(e2prom_reset() == 0, "e2prom_reset clears the chip");
    double took = now_s() - t0;
    printf("  e2prom_reset took %.2f s for %d pages\n", took, kEepromSize / 64);
    check(took >= 0.010 * kEepromSize / 64,
          "e2prom_reset pauses at least 10 ms per chunk "
          "(the emulated chip has no write-busy period: the pause is the library's alone)");
    check(
        e2prom_read(0, b, kEepromSize) == kEepromSize && b[0] == 0xff && b[kEepromSize - 1] == 0xff,
        "the chip reads 0xFF after e2prom_reset");
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

static int library_flash_read(void) {
    return FlashRead(0, g_by_library, sizeof g_by_library) == 0;
}

static int raw_flash_read(void) {
    return mtd_raw(0, g_by_raw, 0, sizeof g_by_raw);
}

static void flash(void) {
    static unsigned char w[64 * 1024], b[64 * 1024];
    check(FlashCreate() == 0, "FlashCreate opens /dev/mtd0");
    int ok = timed_turns("flash read", sizeof g_by_library,
                         (struct paths){library_flash_read, raw_flash_read});
    check(ok && memcmp(g_by_library, g_by_raw, sizeof g_by_raw) == 0,
          "FlashRead of 64 KiB equals the raw read");
    fill(w, sizeof w, 0x44);
    ok = erase_sectors(0x100, 32);
    double t0 = now_s();
    ok &= FlashWrite(w, 0x100000, sizeof w) == 0;
    double t1 = now_s();
    ok &= mtd_raw(1, w, 0x110000, sizeof w);
    double t2 = now_s();
    check(ok && FlashRead(0x100000, b, sizeof b) == 0 && memcmp(b, w, sizeof b) == 0,
          "FlashWrite of 64 KiB reads back");
    check(FlashRead(0x110000, b, sizeof b) == 0 && memcmp(b, w, sizeof b) == 0,
          "the raw write of 64 KiB reads back through FlashRead");
    rate("flash write", sizeof w, t1 - t0, t2 - t1);
}

/* Messages handed to a receive callback, in order of arrival (the callbacks run on the
 * library's receive tasks). */
enum { kMaxArrivals = 8, kArrivalSize = 600 };
static struct {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    unsigned count;
    unsigned char data[kMaxArrivals][kArrivalSize];
} arrivals = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, {{0}}};

static void keep_arrival(void *msg, size_t size) {
    pthread_mutex_lock(&arrivals.lock);
    if (arrivals.count < kMaxArrivals) {
        memcpy(arrivals.data[arrivals.count], msg, size);
    }
    arrivals.count++;
    pthread_cond_broadcast(&arrivals.changed);
    pthread_mutex_unlock(&arrivals.lock);
    free(msg);
}

static void on_serial_frame(UINT8 *msg) {
    keep_arrival(msg, 588);
}

static int on_tcp_block(void *msg) {
    keep_arrival(msg, 600);
    return 0;
}

/* Waits until `count` messages have arrived or `seconds` have passed; the count reached. */
static unsigned wait_arrivals(unsigned count, int seconds) {
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += seconds;
    pthread_mutex_lock(&arrivals.lock);
    while (arrivals.count < count &&
           pthread_cond_timedwait(&arrivals.changed, &arrivals.lock, &until) == 0) {
    }
    unsigned reached = arrivals.count;
    pthread_mutex_unlock(&arrivals.lock);
    return reached;
}

/* Arrival `i` holds `msg` followed by zero bytes up to `size`. */
static int arrived(unsigned i, const void *msg, size_t n, size_t size) {
    const unsigned char *a = arrivals.data[i];
    int ok = i < kMaxArrivals && memcmp(a, msg, n) == 0;
    for (size_t k = n; ok && k < size; k++) {
        ok = a[k] == 0;
    }
    return ok;
}

static int port_is_raw_8n1(void) {
    struct termios t;
    int fd = open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
    int ok = fd >= 0 && tcgetattr(fd, &t) == 0 && t.c_iflag == IGNPAR && t.c_oflag == 0 &&
             t.c_lflag == 0 &&
             (t.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD | CLOCAL)) == (CS8 | CREAD | CLOCAL) &&
             t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0 && cfgetospeed(&t) == B115200 &&
             cfgetispeed(&t) == B115200;
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

/* The host peer echoes every frame except the two words "resync" and "console". After
 * "resync" it sends the head of a frame, stays silent for longer than the byte time-out
 * (1 s) and sends a whole frame "after the silence"; after "console" it sends two carriage
 * returns, and getty answers it with a login prompt. */
static void serial_framer(void) {
    static const unsigned sizes[] = {1, 300, 588};
    static const char after[] = "after the silence";
    unsigned char msg[588];
    check(FramerCreate(0) == 0 && FramerOpen(on_serial_frame, 115200) == 0,
          "FramerCreate(0) and FramerOpen at 115200 on the i.MX UART");
    check(port_is_raw_8n1(), "the port is raw 8N1 at 115200 with VMIN 1, VTIME 0");
    for (unsigned i = 0; i < 3; i++) {
        char what[96];
        fill(msg, sizes[i], 0x30 + i);
        snprintf(what, sizeof what, "a frame of %u bytes crosses the UART and comes back intact",
                 sizes[i]);
        check(FramerWrite(msg, sizes[i]) == 0 && wait_arrivals(i + 1, 20) == i + 1 &&
                  arrived(i, msg, sizes[i], 588),
              what);
    }
    check(FramerWrite((UINT8 *)"resync", 6) == 0 && wait_arrivals(4, 40) == 4 &&
              arrived(3, after, sizeof after - 1, 588) && wait_arrivals(5, 2) == 4,
          "after a frame cut short and a silence beyond the byte time-out, the next frame "
          "arrives intact and once");
    check(FramerWrite((UINT8 *)"console", 7) == 0, "FramerWrite of the frame \"console\"");
    check(board_console_started(20),
          "two carriage returns hand the port to getty -L ttyS0 115200 vt100");
}

/* The host client sends one 600-byte frame with the message "hello from the host", reads the
 * two frames the guest answers with, and then sends a frame "done". */
static void tcp_socket(void) {
    static const char hello[] = "hello from the host";
    static const unsigned char stop[4] = {0xa5, 0x5a, 0x3c, 0xc3};
    static const unsigned char three[3] = {1, 2, 3};
    unsigned char msg[588], want[592] = {0};
    memcpy(want, hello, sizeof hello - 1);
    memcpy(want + 588, stop, sizeof stop);
    fill(msg, sizeof msg, 0x77);
    check(ti_socket_init(board_tcp_port()) == 0 && ti_socket_open(on_tcp_block) == 0,
          "ti_socket_init and ti_socket_open listen on the board's port");
    check(wait_arrivals(1, 120) >= 1 && arrived(0, want, sizeof want, 600),
          "the host's 600-byte frame reaches the callback from its offset 8 on");
    check(ti_socket_write((char *)three, 3) == 0 && ti_socket_write((char *)msg, 588) == 0,
          "ti_socket_write of 3 and of 588 bytes to the host client");
    check(wait_arrivals(2, 60) >= 2, "the host client read both frames and said done");
}

static const struct {
    const char *name;
    void (*run)(void);
} kGroups[] = {
    {"eeprom", eeprom_direct}, {"eeprom-sysfs", eeprom_sysfs}, {"i2c", i2c_forced},
    {"flash", flash},          {"serial", serial_framer},      {"tcp", tcp_socket},
};

int main(int argc, char **argv) {
    board_start(argc, argv);
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
