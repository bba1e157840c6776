// The serial port "/dev/ttyS0" as the slave side of a pseudo-terminal whose master is the
// far end of the line. The library's descriptors are real slave descriptors, so termios
// calls act on the real line; read, write and close take the device mechanism's default
// (native) paths, with its fault injection.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "bsp_sim/devices.h"
#include "bsp_sim/fault_plan.h"
#include "bsp_sim/serial.h"
#include "bsp_sim/unit.h"
#include "devices/interpose.h"
#include "devices/serial_pty.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

using Clock = std::chrono::steady_clock;

struct SerialPort {
    std::mutex mutex;
    Pty pty;
    std::atomic<size_t> open_files{0};
    std::atomic<uint64_t> bytes_read{0};
};

SerialPort &port() {
    return immortal<SerialPort>();  // descriptors close during exit
}

class SerialFile : public OpenFile {
  public:
    explicit SerialFile(int fd) : OpenFile(fd) { ++port().open_files; }
    ssize_t read(void *buf, size_t count) override {
        ssize_t n = OpenFile::read(buf, count);
        if (n > 0) {
            port().bytes_read += static_cast<uint64_t>(n);
        }
        return n;
    }
    // Terminal requests the library makes through ioctl() go to the real line.
    int ioctl(unsigned long request, void *arg) override {
        return real_libc().ioctl(fd(), request, arg);
    }
    void closing() override { --port().open_files; }
};

class SerialDevice : public Device {
  public:
    std::shared_ptr<OpenFile> open(int flags) override {
        std::string path = serial_slave_path();
        // Never the controlling terminal of the simulating process.
        int fd = real_libc().open(path.c_str(), flags | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return nullptr;
        }
        return std::make_shared<SerialFile>(fd);
    }
};

void reset_serial() {
    serial_stop_terminal_link();
    std::lock_guard lock(port().mutex);
    port().bytes_read = 0;
    pty_destroy(&port().pty);
    if (!pty_create(&port().pty)) {
        remove_device(kSerialPortPath);
        return;
    }
    add_device(kSerialPortPath, std::make_shared<SerialDevice>());
}

const ResetHook reset_hook{reset_serial};

int remaining_ms(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on the master; false on time-out.
bool wait_master(short events, int timeout_ms) {
    pollfd p = {serial_master_fd(), events, 0};
    return ::poll(&p, 1, timeout_ms) > 0;
}

}  // namespace

bool pty_create(Pty *pty) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        if (master >= 0) {
            real_libc().close(master);
        }
        return false;
    }
    int keeper = real_libc().open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios raw;
    if (keeper < 0 || ::tcgetattr(keeper, &raw) != 0) {
        real_libc().close(master);
        if (keeper >= 0) {
            real_libc().close(keeper);
        }
        return false;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(keeper, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    *pty = {master, keeper, name};
    return true;
}

void pty_destroy(Pty *pty) {
    if (pty->master >= 0) {
        real_libc().close(pty->master);
    }
    if (pty->keeper >= 0) {
        real_libc().close(pty->keeper);
    }
    *pty = {};
}

int serial_master_fd() {
    std::lock_guard lock(port().mutex);
    return port().pty.master;
}

std::string serial_slave_path() {
    std::lock_guard lock(port().mutex);
    return port().pty.slave_path;
}

std::vector<uint8_t> serial_line_to_unit(const uint8_t *bytes, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        if (fault_plan_hit(BusFault::SerialDrop)) {
            continue;
        }
        uint8_t b = bytes[i];
        if (std::optional<uint32_t> bit = fault_plan_hit(BusFault::SerialFlip, 8)) {
            b = static_cast<uint8_t>(b ^ (1u << *bit));
        }
        out.push_back(b);
    }
    return out;
}

bool serial_peer_write(const std::vector<uint8_t> &sent) {
    std::vector<uint8_t> bytes = serial_line_to_unit(sent.data(), sent.size());
    int fd = serial_master_fd();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = real_libc().write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!wait_master(POLLOUT, 10000)) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> serial_peer_read(size_t count, std::chrono::milliseconds deadline) {
    std::vector<uint8_t> out(count);
    size_t got = 0;
    auto end = Clock::now() + deadline;
    int fd = serial_master_fd();
    while (got < count) {
        ssize_t n = real_libc().read(fd, out.data() + got, count - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if ((n < 0 && errno != EAGAIN && errno != EINTR) ||
                   !wait_master(POLLIN, remaining_ms(end))) {
            break;
        }
    }
    out.resize(got);
    return out;
}

std::vector<uint8_t> serial_peer_read_quiet(std::chrono::milliseconds quiet) {
    std::vector<uint8_t> out;
    uint8_t buf[1024];
    int fd = serial_master_fd();
    for (;;) {
        ssize_t n = real_libc().read(fd, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
        } else if ((n < 0 && errno != EAGAIN && errno != EINTR) ||
                   !wait_master(POLLIN, static_cast<int>(quiet.count()))) {
            return out;
        }
    }
}

size_t serial_pending_input() {
    std::lock_guard lock(port().mutex);
    int pending = 0;
    if (real_libc().ioctl(port().pty.keeper, FIONREAD, &pending) != 0 || pending < 0) {
        return 0;
    }
    return static_cast<size_t>(pending);
}

bool serial_port_settings(struct termios *settings) {
    std::lock_guard lock(port().mutex);
    return ::tcgetattr(port().pty.keeper, settings) == 0;
}

uint64_t serial_bytes_read() {
    return port().bytes_read.load();
}

size_t serial_open_descriptors() {
    return port().open_files.load();
}

}  // namespace bsp::sim
