// The simulated NOR flash and its MTD character device "/dev/mtd0". The contents live in a
// shared mapping of an image file: a memory file in tests, "flash.bin" in the shell's state
// folder so that the flash survives a restart of the shell.
#include <fcntl.h>
#include <sys/ioctl.h>

#include <mtd/mtd-user.h>  // needs the ioctl macros above
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "bsp_sim/devices.h"
#include "bsp_sim/fault_plan.h"
#include "bsp_sim/mtd.h"
#include "bsp_sim/unit.h"
#include "devices/image_file.h"
#include "devices/interpose.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

constexpr const char *kImageName = "flash.bin";

struct Flash {
    std::mutex mutex;
    FlashGeometry geometry;
    uint8_t *mem = nullptr;
    size_t mapped = 0;
    std::vector<std::string> ops;
};

Flash &flash() {
    return immortal<Flash>();  // descriptors may close during exit
}

void record(const char *what, uint32_t offset, size_t length) {
    char line[64];
    std::snprintf(line, sizeof line, "%s 0x%x %zu", what, offset, length);
    flash().ops.emplace_back(line);
}

void map_flash(const FlashGeometry &g) {
    Flash &f = flash();
    if (f.mem != nullptr) {
        ::munmap(f.mem, f.mapped);
        f.mem = nullptr;
    }
    f.geometry = g;
    f.mapped = std::max<size_t>(g.size, 1);
    bool fresh = true;
    int fd = open_image(kImageName, f.mapped, &fresh);
    void *p =
        fd >= 0 ? ::mmap(nullptr, f.mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (fd >= 0) {
        real_libc().close(fd);
    }
    if (p == MAP_FAILED) {
        p = ::mmap(nullptr, f.mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        fresh = true;
    }
    f.mem = static_cast<uint8_t *>(p);
    if (fresh) {
        std::memset(f.mem, 0xff, f.mapped);
    }
    f.ops.clear();
}

int fail(int err) {
    errno = err;
    return -1;
}

class MtdFile : public OpenFile {
  public:
    MtdFile(int fd, int flags) : OpenFile(fd), flags_(flags) {}

    ssize_t read(void *buf, size_t count) override {
        if ((flags_ & O_ACCMODE) == O_WRONLY) {
            return fail(EBADF);
        }
        std::lock_guard lock(flash().mutex);
        size_t size = flash().geometry.size;
        count = pos_ < size ? std::min(count, size - pos_) : 0;
        if (count > 0) {
            std::memcpy(buf, flash().mem + pos_, count);
            record("read", static_cast<uint32_t>(pos_), count);
        }
        pos_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const void *buf, size_t count) override {
        if ((flags_ & O_ACCMODE) == O_RDONLY) {
            return fail(EBADF);
        }
        std::lock_guard lock(flash().mutex);
        size_t size = flash().geometry.size;
        if (pos_ >= size) {
            return fail(ENOSPC);
        }
        count = std::min(count, size - pos_);
        const auto *in = static_cast<const uint8_t *>(buf);
        auto span = static_cast<uint32_t>(count);
        std::optional<uint32_t> tear;
        if (count > 0) {
            tear = fault_plan_hit(BusFault::FlashTear, span);
        }
        size_t done = tear.value_or(span);
        for (size_t i = 0; i < done; ++i) {
            flash().mem[pos_ + i] &= in[i];  // programming clears bits, never sets them
        }
        record("write", static_cast<uint32_t>(pos_), count);
        if (tear) {
            // Power lost while programming byte `done`: some of its bits were cleared.
            auto reached = static_cast<uint8_t>(fault_plan_draw(BusFault::FlashTear));
            flash().mem[pos_ + done] &= static_cast<uint8_t>(in[done] | ~reached);
            return fail(EIO);
        }
        pos_ += count;
        return static_cast<ssize_t>(count);
    }

    off_t lseek(off_t offset, int whence) override {
        std::lock_guard lock(flash().mutex);
        off_t size = flash().geometry.size;
        off_t base = whence == SEEK_SET   ? 0
                     : whence == SEEK_CUR ? static_cast<off_t>(pos_)
                     : whence == SEEK_END ? size
                                          : -1;
        if (base < 0 || base + offset < 0 || base + offset > size) {
            return fail(EINVAL);
        }
        pos_ = static_cast<size_t>(base + offset);
        return static_cast<off_t>(pos_);
    }

    int ioctl(unsigned long request, void *arg) override {
        if (arg == nullptr) {
            return fail(EFAULT);
        }
        std::lock_guard lock(flash().mutex);
        const FlashGeometry &g = flash().geometry;
        switch (request) {
            case MEMGETINFO:
                return get_info(static_cast<mtd_info_user *>(arg), g);
            case MEMGETREGIONCOUNT:
                *static_cast<int *>(arg) = static_cast<int>(g.erase_regions);
                return 0;
            case MEMGETREGIONINFO:
                return get_region(static_cast<region_info_user *>(arg), g);
            case MEMERASE:
                if ((flags_ & O_ACCMODE) == O_RDONLY) {
                    return fail(EPERM);
                }
                return erase(*static_cast<const erase_info_user *>(arg), g);
            default:
                return fail(ENOTTY);
        }
    }

  private:
    static int get_info(mtd_info_user *info, const FlashGeometry &g) {
        *info = {};
        info->type = MTD_NORFLASH;
        info->flags = MTD_CAP_NORFLASH;
        info->size = g.size;
        info->erasesize = g.erasesize;
        info->writesize = 1;
        return 0;
    }

    static int get_region(region_info_user *r, const FlashGeometry &g) {
        if (r->regionindex >= g.erase_regions) {
            return fail(EINVAL);
        }
        uint32_t part = g.size / g.erase_regions;
        r->offset = r->regionindex * part;
        r->erasesize = g.erasesize;
        r->numblocks = g.erasesize ? part / g.erasesize : 0;
        return 0;
    }

    // The checks of the MTD core and of the NOR command set, in their order.
    static int erase(const erase_info_user &e, const FlashGeometry &g) {
        if (g.erasesize == 0) {
            return fail(EOPNOTSUPP);
        }
        if (e.start >= g.size || e.length > g.size - e.start) {
            return fail(EINVAL);
        }
        if (e.length == 0) {
            return 0;
        }
        if (e.start % g.erasesize != 0 || (e.start + e.length) % g.erasesize != 0) {
            return fail(EINVAL);
        }
        std::optional<uint32_t> tear = fault_plan_hit(BusFault::FlashEraseTear, e.length);
        std::memset(flash().mem + e.start, 0xff, tear.value_or(e.length));
        record("erase", e.start, e.length);
        if (tear) {
            // Power lost while erasing byte `*tear`: some of its bits were set.
            auto reached = static_cast<uint8_t>(fault_plan_draw(BusFault::FlashEraseTear));
            flash().mem[e.start + *tear] |= reached;
            return fail(EIO);
        }
        return 0;
    }

    int flags_;
    size_t pos_ = 0;
};

class MtdDevice : public Device {
  public:
    std::shared_ptr<OpenFile> open(int flags) override {
        int fd = reserve_fd();
        if (fd < 0) {
            return nullptr;
        }
        return std::make_shared<MtdFile>(fd, flags);
    }
};

void reset_flash() {
    configure_flash(FlashGeometry{});
}

const ResetHook reset_hook{reset_flash};

}  // namespace

void configure_flash(const FlashGeometry &geometry) {
    {
        std::lock_guard lock(flash().mutex);
        map_flash(geometry);
    }
    add_device(kFlashPath, std::make_shared<MtdDevice>());
}

FlashGeometry flash_geometry() {
    std::lock_guard lock(flash().mutex);
    return flash().geometry;
}

std::vector<uint8_t> flash_peek(uint32_t offset, uint32_t count) {
    std::lock_guard lock(flash().mutex);
    size_t size = flash().geometry.size;
    size_t begin = std::min<size_t>(offset, size);
    size_t end = std::min<size_t>(size_t{offset} + count, size);
    return std::vector<uint8_t>(flash().mem + begin, flash().mem + end);
}

void flash_poke(uint32_t offset, std::span<const uint8_t> bytes) {
    std::lock_guard lock(flash().mutex);
    for (size_t i = 0; i < bytes.size() && offset + i < flash().geometry.size; ++i) {
        flash().mem[offset + i] = bytes[i];
    }
}

std::vector<std::string> flash_ops() {
    std::lock_guard lock(flash().mutex);
    return flash().ops;
}

void clear_flash_ops() {
    std::lock_guard lock(flash().mutex);
    flash().ops.clear();
}

}  // namespace bsp::sim
