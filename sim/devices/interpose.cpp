// Interposition at the C library boundary. The executable that hosts the library defines
// these functions with default visibility, so they come first in symbol lookup (ahead of the
// C library and of sanitizer runtimes): calls on simulated device paths and descriptors go
// to the device models, every other call goes on to the next definition unchanged.
//
// This file is compiled without large-file and 64-bit-time redirections so that each name
// below defines exactly that symbol; the 64-bit variants are defined separately.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#include "devices/interpose.h"
#include "bsp_sim/unit.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "bsp_sim/fault.h"
#include "devices/library_text.h"
#include "devices/router.h"

namespace bsp::sim {

namespace {

template <typename F>
F next_symbol(const char *name) {
    void *sym = ::dlsym(RTLD_NEXT, name);
    if (sym == nullptr) {
        std::abort();
    }
    return reinterpret_cast<F>(sym);
}

// The mode argument that open and openat carry only when they may create a file.
mode_t mode_arg(int flags, va_list args) {
    bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return creates ? static_cast<mode_t>(va_arg(args, unsigned int)) : 0;
}

// `caller` is the code that called the C library's entry point.
int do_open(const char *path, int flags, mode_t mode, const void *caller) {
    int fd = -1;
    if (path != nullptr && refuse_before_start(path, caller)) {
        return -1;
    }
    if (path != nullptr && route_open(path, flags, &fd)) {
        return fd;
    }
    return real_libc().open(path, flags, mode);
}

int do_openat(int dirfd, const char *path, int flags, mode_t mode, const void *caller) {
    int fd = -1;
    if (path != nullptr && path[0] == '/' && refuse_before_start(path, caller)) {
        return -1;
    }
    if (path != nullptr && path[0] == '/' && route_open(path, flags, &fd)) {
        return fd;
    }
    return real_libc().openat(dirfd, path, flags, mode);
}

// Applies an injected fault to a read or write: true when the call must fail (errno set);
// otherwise `count` may have been shortened.
bool transfer_fault(FaultOp op, const std::string &path, size_t *count) {
    int error = 0;
    long short_length = -1;
    if (!fault_hit(op, path, &error, &short_length)) {
        return false;
    }
    if (short_length >= 0) {
        if (static_cast<size_t>(short_length) < *count) {
            *count = static_cast<size_t>(short_length);
        }
        return false;
    }
    errno = error;
    return true;
}

bool simple_fault(FaultOp op, const std::string &path) {
    int error = 0;
    if (fault_hit(op, path, &error, nullptr)) {
        errno = error;
        return true;
    }
    return false;
}

// A read or write on a simulated descriptor, with the fault plan applied.
ssize_t routed_read(const RoutedFile &f, void *buf, size_t count) {
    return transfer_fault(FaultOp::Read, f.path, &count) ? -1 : f.file->read(buf, count);
}

ssize_t routed_write(const RoutedFile &f, const void *buf, size_t count) {
    return transfer_fault(FaultOp::Write, f.path, &count) ? -1 : f.file->write(buf, count);
}

ssize_t do_read(int fd, void *buf, size_t count) {
    RoutedFile f = routed_file(fd);
    return f.file ? routed_read(f, buf, count) : real_libc().read(fd, buf, count);
}

ssize_t do_write(int fd, const void *buf, size_t count) {
    RoutedFile f = routed_file(fd);
    return f.file ? routed_write(f, buf, count) : real_libc().write(fd, buf, count);
}

// A transfer at `offset` on a simulated descriptor, as the kernel makes one on a seekable
// file: at that offset, the descriptor's position left where it was (a device that cannot
// seek refuses, ESPIPE on a terminal). Not atomic against another thread that moves the same
// descriptor's position meanwhile.
template <typename Transfer>
ssize_t at_offset(const RoutedFile &f, int64_t offset, Transfer transfer) {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    int64_t saved = f.file->lseek(0, SEEK_CUR);
    if (saved < 0 || f.file->lseek(offset, SEEK_SET) < 0) {
        return -1;
    }
    ssize_t done = transfer();
    int error = errno;
    f.file->lseek(saved, SEEK_SET);
    errno = error;
    return done;
}

ssize_t do_pread(int fd, void *buf, size_t count, int64_t offset) {
    RoutedFile f = routed_file(fd);
    if (!f.file) {
        return real_libc().pread64(fd, buf, count, offset);
    }
    return at_offset(f, offset, [&] { return routed_read(f, buf, count); });
}

ssize_t do_pwrite(int fd, const void *buf, size_t count, int64_t offset) {
    RoutedFile f = routed_file(fd);
    if (!f.file) {
        return real_libc().pwrite64(fd, buf, count, offset);
    }
    return at_offset(f, offset, [&] { return routed_write(f, buf, count); });
}

// Seeks on a simulated descriptor; false when `fd` is not simulated.
bool routed_lseek(int fd, int64_t offset, int whence, int64_t *result) {
    RoutedFile f = routed_file(fd);
    if (!f.file) {
        return false;
    }
    *result = simple_fault(FaultOp::Lseek, f.path) ? -1 : f.file->lseek(offset, whence);
    return true;
}

int do_ioctl(int fd, unsigned long request, void *arg) {
    RoutedFile f = routed_file(fd);
    if (!f.file) {
        return real_libc().ioctl(fd, request, arg);
    }
    if (simple_fault(FaultOp::Ioctl, f.path)) {
        return -1;
    }
    return f.file->ioctl(request, arg);
}

}  // namespace

const RealLibc &real_libc() {
    static const RealLibc libc = {
        next_symbol<int (*)(const char *, int, ...)>("open"),
        next_symbol<int (*)(int, const char *, int, ...)>("openat"),
        next_symbol<ssize_t (*)(int, void *, size_t)>("read"),
        next_symbol<ssize_t (*)(int, const void *, size_t)>("write"),
        next_symbol<int64_t (*)(int, int64_t, int)>("lseek64"),
        next_symbol<int (*)(int, unsigned long, ...)>("ioctl"),
        next_symbol<ssize_t (*)(int, void *, size_t, int64_t)>("pread64"),
        next_symbol<ssize_t (*)(int, const void *, size_t, int64_t)>("pwrite64"),
        next_symbol<int (*)(int)>("close"),
    };
    return libc;
}

}  // namespace bsp::sim

using namespace bsp::sim;

// The fortified entry points that callers built with _FORTIFY_SOURCE use.
extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen);
ssize_t __pread_chk(int fd, void *buf, size_t count, off_t offset, size_t buflen);
ssize_t __pread64_chk(int fd, void *buf, size_t count, off64_t offset, size_t buflen);
#if defined(__arm__) || (defined(__SIZEOF_LONG__) && __SIZEOF_LONG__ == 4 && !defined(__x86_64__))
int __ioctl_time64(int fd, unsigned long request, ...);
#endif
}

extern "C" {

int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_arg(flags, args);
    va_end(args);
    return do_open(path, flags, mode, __builtin_return_address(0));
}

int open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_arg(flags, args);
    va_end(args);
    return do_open(path, flags | O_LARGEFILE, mode, __builtin_return_address(0));
}

int __open_2(const char *path, int flags) {
    return do_open(path, flags, 0, __builtin_return_address(0));
}
int __open64_2(const char *path, int flags) {
    return do_open(path, flags | O_LARGEFILE, 0, __builtin_return_address(0));
}

int openat(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_arg(flags, args);
    va_end(args);
    return do_openat(dirfd, path, flags, mode, __builtin_return_address(0));
}

int openat64(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = mode_arg(flags, args);
    va_end(args);
    return do_openat(dirfd, path, flags | O_LARGEFILE, mode, __builtin_return_address(0));
}

int __openat_2(int dirfd, const char *path, int flags) {
    return do_openat(dirfd, path, flags, 0, __builtin_return_address(0));
}
int __openat64_2(int dirfd, const char *path, int flags) {
    return do_openat(dirfd, path, flags | O_LARGEFILE, 0, __builtin_return_address(0));
}

ssize_t read(int fd, void *buf, size_t count) {
    return do_read(fd, buf, count);
}

ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen) {
    if (count > buflen) {
        std::abort();
    }
    return do_read(fd, buf, count);
}

ssize_t write(int fd, const void *buf, size_t count) {
    return do_write(fd, buf, count);
}

ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    return do_pread(fd, buf, count, offset);
}

ssize_t pread64(int fd, void *buf, size_t count, off64_t offset) {
    return do_pread(fd, buf, count, offset);
}

ssize_t __pread_chk(int fd, void *buf, size_t count, off_t offset, size_t buflen) {
    if (count > buflen) {
        std::abort();
    }
    return do_pread(fd, buf, count, offset);
}

ssize_t __pread64_chk(int fd, void *buf, size_t count, off64_t offset, size_t buflen) {
    if (count > buflen) {
        std::abort();
    }
    return do_pread(fd, buf, count, offset);
}

ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset) {
    return do_pwrite(fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void *buf, size_t count, off64_t offset) {
    return do_pwrite(fd, buf, count, offset);
}

off_t lseek(int fd, off_t offset, int whence) {
    int64_t result = 0;
    if (!routed_lseek(fd, offset, whence, &result)) {
        static auto next = next_symbol<off_t (*)(int, off_t, int)>("lseek");
        return next(fd, offset, whence);
    }
    if (result != static_cast<off_t>(result)) {
        errno = EOVERFLOW;
        return -1;
    }
    return static_cast<off_t>(result);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
    int64_t result = 0;
    if (!routed_lseek(fd, offset, whence, &result)) {
        return real_libc().lseek64(fd, offset, whence);
    }
    return result;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    return do_ioctl(fd, request, arg);
}

#if defined(__arm__) || (defined(__SIZEOF_LONG__) && __SIZEOF_LONG__ == 4 && !defined(__x86_64__))
// 32-bit hosts built with 64-bit time call this name instead of ioctl.
int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    RoutedFile f = routed_file(fd);
    if (!f.file) {
        static auto next = next_symbol<int (*)(int, unsigned long, ...)>("__ioctl_time64");
        return next(fd, request, arg);
    }
    return do_ioctl(fd, request, arg);
}
#endif

int close(int fd) {
    RoutedFile f = routed_file(fd);
    if (!f.file) {
        return real_libc().close(fd);
    }
    // As on Linux, a failed close still releases the descriptor.
    bool failed = simple_fault(FaultOp::Close, f.path);
    int error = errno;
    f = unroute(fd);
    if (f.file) {
        f.file->closing();
    }
    int rc = real_libc().close(fd);
    if (failed) {
        errno = error;
        return -1;
    }
    return rc;
}

// The library's calls (it hands the serial port to a login console) are recorded, not run;
// the hosting application's own calls run for real.
int system(const char *command) {
    const void *caller = __builtin_return_address(0);
    locate_library_text();
    if (!called_from_library(caller)) {
        static auto next = next_symbol<int (*)(const char *)>("system");
        return next(command);
    }
    if (command == nullptr) {
        return 1;  // a shell is "available"
    }
    record_system_command(command);
    return 0;
}

}  // extern "C"

namespace bsp::sim {

bool interposed_symbols_resolve_here() {
    struct Check {
        const char *name;
        void *ours;
    };
    const Check checks[] = {
        {"open", reinterpret_cast<void *>(&::open)},
        {"read", reinterpret_cast<void *>(&::read)},
        {"write", reinterpret_cast<void *>(&::write)},
        {"lseek", reinterpret_cast<void *>(&::lseek)},
        {"ioctl", reinterpret_cast<void *>(&::ioctl)},
        {"close", reinterpret_cast<void *>(&::close)},
        {"system", reinterpret_cast<void *>(&::system)},
    };
    for (const Check &c : checks) {
        if (::dlsym(RTLD_DEFAULT, c.name) != c.ours) {
            return false;
        }
    }
    return true;
}

bool interposition_live() {
    return interposed_symbols_resolve_here();
}

void require_interposition() {
    if (!interposition_live()) {
        std::fprintf(stderr,
                     "bsp_sim: the C library calls of this process do not reach the simulated "
                     "devices (is the executable linked with exported symbols?); refusing to "
                     "run so that no real device is touched\n");
        std::abort();
    }
}

}  // namespace bsp::sim
