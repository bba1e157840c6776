// The serial framer's port: opening, the settings it runs with, and the one close that
// hands it to the login console.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "common/immortal.h"
#include "common/wake_fd.h"
#include "framer_drv_internal.h"

namespace bsp::framer {

namespace {

struct BaudEntry {
    UINT32 rate;
    speed_t speed;
};

constexpr std::array<BaudEntry, 7> kBaudTable = {{
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};
constexpr BaudEntry kFallbackBaud = {9600, B9600};

BaudEntry baud_entry(UINT32 rate) {
    for (const BaudEntry &e : kBaudTable) {
        if (e.rate == rate) {
            return e;
        }
    }
    return kFallbackBaud;
}

// Raw 8N1, receiver on, modem lines ignored; a read waits for one byte without limit.
void fill_newkey(struct termios *key, speed_t speed) {
    key->c_iflag = IGNPAR;
    key->c_oflag = 0;
    key->c_lflag = 0;
    key->c_cflag = CS8 | CREAD | CLOCAL;
    key->c_cc[VMIN] = 1;
    key->c_cc[VTIME] = 0;
    cfsetispeed(key, speed);
    cfsetospeed(key, speed);
}

}  // namespace

std::shared_mutex &lifecycle_lock() {
    return immortal<std::shared_mutex, struct LifecycleTag>();
}

std::shared_mutex &port_lock() {
    return immortal<std::shared_mutex, struct PortTag>();
}

std::mutex &state_mutex() {
    return immortal<std::mutex, struct StateTag>();
}

FRAMER *&current_framer() {
    static FRAMER *framer = nullptr;
    return framer;
}

FRAMER *current() {
    std::lock_guard lock(state_mutex());
    return current_framer();
}

bool port_open(FRAMER *f) {
    int fd = ::open(kPortPath, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    int wake = wake_fd_create();
    if (wake < 0) {
        ::close(fd);
        return false;
    }
    std::unique_lock port(port_lock());
    f->fd_tty = fd;
    f->wake_fd = wake;
    return true;
}

bool port_apply_settings(FRAMER *f, UINT32 rate) {
    std::unique_lock port(port_lock());
    if (f->fd_tty < 0) {
        return false;
    }
    tcgetattr(f->fd_tty, &f->oldkey);
    BaudEntry baud = baud_entry(rate);
    f->baud_rate = static_cast<int>(baud.rate);
    fill_newkey(&f->newkey, baud.speed);
    tcflush(f->fd_tty, TCIFLUSH);
    tcsetattr(f->fd_tty, TCSANOW, &f->newkey);
    return true;
}

bool port_close(FRAMER *f, int *rate) {
    std::unique_lock port(port_lock());
    *rate = f->baud_rate;
    if (f->fd_tty < 0) {
        return false;
    }
    tcflush(f->fd_tty, TCIFLUSH);
    tcsetattr(f->fd_tty, TCSANOW, &f->newkey);
    ::close(f->fd_tty);
    f->fd_tty = -1;
    wake_fd_signal(f->wake_fd);
    return true;
}

void port_discard(FRAMER *f) {
    std::unique_lock port(port_lock());
    if (f->fd_tty >= 0) {
        ::close(f->fd_tty);
        f->fd_tty = -1;
    }
    wake_fd_signal(f->wake_fd);
}

void port_release_wake(FRAMER *f) {
    std::unique_lock port(port_lock());
    wake_fd_close(&f->wake_fd);
}

void FramerEnableCLI(FRAMER *f) {
    int rate = 0;
    bool closed = port_close(f, &rate);
    {
        std::lock_guard lock(state_mutex());
        f->framer_rx_callback = nullptr;
        if (f->framer_status != FRAMER_DRV_UNINITIALIZED) {
            f->framer_status = FRAMER_DRV_READY;
        }
    }
    if (!closed) {
        return;  // the other hand-over has closed the port and runs the console
    }
    char command[48];
    std::snprintf(command, sizeof command, "getty -L ttyS0 %d vt100", rate);
    std::system(command);
}

}  // namespace bsp::framer
