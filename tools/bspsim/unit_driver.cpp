// The unit shell's side of the simulated PCI window. A plain Linux unit has no driver for the
// window, so OS_Init_Driver (board services) hands the library a descriptor of the shell's own,
// and the library's requests on that descriptor (interrupt mask, type, enable) reach the
// simulated driver. This shell's ioctl takes exactly those: a request on any other descriptor
// goes to the C library untouched, so the unit's real devices see the calls they always see.
//
// Compiled without the 64-bit-time redirection so that each name below defines exactly that
// symbol.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <string>

#include "bsp_sim/driver.h"

namespace {

// The descriptor made for the window and the file behind it: once the library closes it and
// the number is reused, the file differs and the request is not ours.
struct DriverNode {
    std::mutex mutex;
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string path;
};

DriverNode &node() {
    static DriverNode n;
    return n;
}

bool is_driver_node(int fd, std::string *path) {
    DriverNode &n = node();
    std::lock_guard lock(n.mutex);
    struct stat st {};
    if (fd < 0 || fd != n.fd || fstat(fd, &st) != 0 || st.st_dev != n.dev || st.st_ino != n.ino) {
        return false;
    }
    *path = n.path;
    return true;
}

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn next_ioctl(const char *name) {
    void *sym = dlsym(RTLD_NEXT, name);
    if (sym == nullptr) {
        std::abort();
    }
    return reinterpret_cast<IoctlFn>(sym);
}

int forward(const char *name, std::atomic<IoctlFn> &next, int fd, unsigned long request,
            void *arg) {
    std::string path;
    if (is_driver_node(fd, &path)) {
        return bsp::sim::driver_ioctl(path, request, arg);
    }
    IoctlFn fn = next.load();
    if (fn == nullptr) {
        fn = next_ioctl(name);
        next.store(fn);
    }
    return fn(fd, request, arg);
}

}  // namespace

int bsp::sim::open_driver_node(const char *path) {
    int fd = memfd_create("bsp-driver-node", MFD_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    DriverNode &n = node();
    std::lock_guard lock(n.mutex);
    n.fd = fd;
    n.dev = st.st_dev;
    n.ino = st.st_ino;
    n.path = path;
    return fd;
}

extern "C" {

// Every request carries at most one argument, a pointer or an integer of pointer size.
int ioctl(int fd, unsigned long request, ...) noexcept {
    static std::atomic<IoctlFn> next{nullptr};
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    return forward("ioctl", next, fd, request, arg);
}

#if defined(__arm__)
// 32-bit ARM builds with 64-bit time call this name instead of ioctl.
int __ioctl_time64(int fd, unsigned long request, ...) noexcept;
int __ioctl_time64(int fd, unsigned long request, ...) noexcept {
    static std::atomic<IoctlFn> next{nullptr};
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    return forward("__ioctl_time64", next, fd, request, arg);
}
#endif

}  // extern "C"
