// The table of simulated device paths and of the descriptors opened on them.
#include "devices/router.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "bsp_sim/driver.h"
#include "bsp_sim/fault.h"
#include "bsp_sim/unit.h"
#include "devices/interpose.h"
#include "devices/library_text.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

// Descriptors below this number carry a routed flag, so that I/O on every other descriptor of
// the process (test output, peers, sockets, a sanitizer's own files) passes without the lock.
constexpr int kFlaggedFds = 4096;

struct Router {
    std::shared_mutex mutex;
    std::map<std::string, std::shared_ptr<Device>> devices;
    std::map<int, RoutedFile> files;
    std::atomic<bool> routed[kFlaggedFds] = {};  // written under the lock
    std::vector<std::string> system_commands;
};

Router &router() {
    return immortal<Router>();  // descriptors close during exit too
}

void flag_routed(int fd, bool routed) {
    if (fd >= 0 && fd < kFlaggedFds) {
        router().routed[fd].store(routed, std::memory_order_release);
    }
}

bool surely_unrouted(int fd) {
    return fd < 0 || (fd < kFlaggedFds && !router().routed[fd].load(std::memory_order_acquire));
}

// Set by the first reset: from then on the unit's devices are registered.
std::atomic<bool> g_unit_started{false};

void reset_router() {
    std::unique_lock lock(router().mutex);
    router().system_commands.clear();
    g_unit_started.store(true, std::memory_order_release);
}

const ResetHook reset_hook{reset_router, kCorePhase};

}  // namespace

ssize_t OpenFile::read(void *buf, size_t count) {
    return real_libc().read(fd_, buf, count);
}

ssize_t OpenFile::write(const void *buf, size_t count) {
    return real_libc().write(fd_, buf, count);
}

int64_t OpenFile::lseek(int64_t offset, int whence) {
    return real_libc().lseek64(fd_, offset, whence);
}

int OpenFile::ioctl(unsigned long, void *) {
    errno = ENOTTY;
    return -1;
}

void add_device(const std::string &path, std::shared_ptr<Device> device) {
    std::unique_lock lock(router().mutex);
    router().devices[path] = std::move(device);
}

void remove_device(const std::string &path) {
    std::unique_lock lock(router().mutex);
    router().devices.erase(path);
}

void remove_all_devices() {
    std::unique_lock lock(router().mutex);
    router().devices.clear();
}

size_t open_device_files() {
    std::shared_lock lock(router().mutex);
    return router().files.size();
}

int reserve_fd() {
    return make_memfd("bsp-sim-device", 0);
}

int make_memfd(const char *name, size_t size) {
    int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd >= 0 && size > 0 && ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        real_libc().close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::string> system_commands() {
    std::shared_lock lock(router().mutex);
    return router().system_commands;
}

bool route_open(const char *path, int flags, int *fd) {
    std::shared_ptr<Device> device;
    {
        std::shared_lock lock(router().mutex);
        auto it = router().devices.find(path);
        if (it == router().devices.end()) {
            return false;
        }
        device = it->second;
    }
    int error = 0;
    if (fault_hit(FaultOp::Open, path, &error, nullptr)) {
        errno = error;
        *fd = -1;
        return true;
    }
    std::shared_ptr<OpenFile> file = device->open(flags);
    if (!file) {
        *fd = -1;
        return true;
    }
    *fd = file->fd();
    std::unique_lock lock(router().mutex);
    router().files[*fd] = {std::move(file), path};
    flag_routed(*fd, true);
    return true;
}

// Every driver's descriptor is its simulated device node.
int open_driver_node(const char *path) {
    int fd = -1;
    return route_open(path, O_RDWR, &fd) ? fd : -1;
}

bool refuse_before_start(const char *path, const void *caller) {
    if (g_unit_started.load(std::memory_order_acquire)) {
        return false;
    }
    locate_library_text();
    if (!called_from_library(caller)) {
        return false;
    }
    static std::once_flag told;
    std::call_once(told, [path] {
        std::fprintf(stderr,
                     "bsp_sim: the simulated unit was not started, so the library cannot open "
                     "%s: call bsp_sim_start(state_dir) from <bsp_sim/bsp_sim_c.h> before the "
                     "first call into the library (NULL keeps the unit in memory)\n",
                     path);
    });
    errno = ENODEV;
    return true;
}

RoutedFile routed_file(int fd) {
    if (surely_unrouted(fd)) {
        return {};
    }
    std::shared_lock lock(router().mutex);
    auto it = router().files.find(fd);
    return it == router().files.end() ? RoutedFile{} : it->second;
}

RoutedFile unroute(int fd) {
    std::unique_lock lock(router().mutex);
    auto it = router().files.find(fd);
    if (it == router().files.end()) {
        return {};
    }
    RoutedFile f = std::move(it->second);
    router().files.erase(it);
    flag_routed(fd, false);
    return f;
}

void record_system_command(const char *command) {
    std::unique_lock lock(router().mutex);
    router().system_commands.emplace_back(command ? command : "");
}

}  // namespace bsp::sim
