// The kernel's EEPROM driver bound to an EEPROM chip: it claims the chip's address and offers
// the chip's contents as the sysfs file "/sys/bus/i2c/devices/<bus>-00<addr>/eeprom". The
// driver reaches the chip over the bus like any master: page-bounded writes, each retried
// until the chip's write cycle is over, and reads in chunks of its transfer limit.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "bsp_sim/devices.h"
#include "bsp_sim/i2c.h"
#include "devices/i2c_bus.h"

namespace bsp::sim {

namespace {

constexpr size_t kIoLimit = 128;  // bytes per read message
constexpr auto kWriteTimeout = std::chrono::milliseconds(25);
constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr size_t kSize = EepromChip::kSize;
constexpr size_t kPage = EepromChip::kPage;

class EepromSysfsFile : public OpenFile {
  public:
    EepromSysfsFile(int fd, int bus, uint8_t addr, int flags)
        : OpenFile(fd), bus_(bus), addr_(addr), flags_(flags) {}

    ssize_t read(void *buf, size_t count) override {
        if ((flags_ & O_ACCMODE) == O_WRONLY) {
            errno = EBADF;
            return -1;
        }
        if (pos_ >= kSize) {
            return 0;
        }
        count = std::min(count, kSize - pos_);
        auto *out = static_cast<uint8_t *>(buf);
        for (size_t done = 0; done < count;) {
            size_t n = std::min(count - done, kIoLimit);
            uint8_t at[2] = {static_cast<uint8_t>((pos_ + done) >> 8),
                             static_cast<uint8_t>(pos_ + done)};
            int err = retried([&] { return i2c_message(bus_, addr_, false, at); });
            if (err == 0) {
                err = i2c_message(bus_, addr_, true, {out + done, n});
            }
            if (err != 0) {
                return partial(done, err);
            }
            done += n;
        }
        pos_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const void *buf, size_t count) override {
        if ((flags_ & O_ACCMODE) == O_RDONLY) {
            errno = EBADF;
            return -1;
        }
        if (pos_ >= kSize) {
            errno = EFBIG;
            return -1;
        }
        count = std::min(count, kSize - pos_);
        const auto *in = static_cast<const uint8_t *>(buf);
        for (size_t done = 0; done < count;) {
            size_t at = pos_ + done;
            size_t n = std::min(count - done, kPage - at % kPage);
            std::vector<uint8_t> msg{static_cast<uint8_t>(at >> 8), static_cast<uint8_t>(at)};
            msg.insert(msg.end(), in + done, in + done + n);
            int err = retried([&] { return i2c_message(bus_, addr_, false, msg); });
            if (err != 0) {
                return partial(done, err);
            }
            done += n;
        }
        pos_ += count;
        return static_cast<ssize_t>(count);
    }

    off_t lseek(off_t offset, int whence) override {
        off_t base = whence == SEEK_SET   ? 0
                     : whence == SEEK_CUR ? static_cast<off_t>(pos_)
                     : whence == SEEK_END ? static_cast<off_t>(kSize)
                                          : -1;
        if (base < 0 || base + offset < 0) {
            errno = EINVAL;
            return -1;
        }
        pos_ = static_cast<size_t>(base + offset);
        return static_cast<off_t>(pos_);
    }

  private:
    // The chip does not answer during its write cycle: try again until the driver's time-out.
    template <typename F>
    static int retried(F attempt) {
        auto deadline = std::chrono::steady_clock::now() + kWriteTimeout;
        int err = attempt();
        while (err == ENXIO && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kPollInterval);
            err = attempt();
        }
        return err == ENXIO ? ETIMEDOUT : err;
    }

    ssize_t partial(size_t done, int err) {
        if (done == 0) {
            errno = err;
            return -1;
        }
        pos_ += done;
        return static_cast<ssize_t>(done);
    }

    int bus_;
    uint8_t addr_;
    int flags_;
    size_t pos_ = 0;
};

class EepromSysfsDevice : public Device {
  public:
    EepromSysfsDevice(int bus, uint8_t addr) : bus_(bus), addr_(addr) {}
    std::shared_ptr<OpenFile> open(int flags) override {
        int fd = reserve_fd();
        if (fd < 0) {
            return nullptr;
        }
        return std::make_shared<EepromSysfsFile>(fd, bus_, addr_, flags);
    }

  private:
    int bus_;
    uint8_t addr_;
};

std::mutex bound_mutex;
std::set<std::string> bound_paths;

}  // namespace

std::string eeprom_sysfs_path(int bus, uint8_t addr) {
    char path[64];
    std::snprintf(path, sizeof path, "/sys/bus/i2c/devices/%d-00%x/eeprom", bus, addr);
    return path;
}

bool bind_eeprom_driver(int bus, uint8_t addr) {
    if (!std::dynamic_pointer_cast<EepromChip>(i2c_chip(bus, addr))) {
        return false;
    }
    set_i2c_busy(bus, addr, true);
    std::string path = eeprom_sysfs_path(bus, addr);
    add_device(path, std::make_shared<EepromSysfsDevice>(bus, addr));
    std::lock_guard lock(bound_mutex);
    bound_paths.insert(path);
    return true;
}

void unbind_eeprom_drivers() {
    std::lock_guard lock(bound_mutex);
    for (const std::string &path : bound_paths) {
        remove_device(path);
    }
    bound_paths.clear();
}

}  // namespace bsp::sim
