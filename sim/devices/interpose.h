// Internal to the simulated host: the C library's own functions behind the interposed ones.
#ifndef BSP_SIM_DEVICES_INTERPOSE_H
#define BSP_SIM_DEVICES_INTERPOSE_H

#include <sys/types.h>

#include <cstdint>

namespace bsp::sim {

struct RealLibc {
    int (*open)(const char *, int, ...);
    int (*openat)(int, const char *, int, ...);
    ssize_t (*read)(int, void *, size_t);
    ssize_t (*write)(int, const void *, size_t);
    int64_t (*lseek64)(int, int64_t, int);  // the same on every host, unlike off_t
    int (*ioctl)(int, unsigned long, ...);
    ssize_t (*pread64)(int, void *, size_t, int64_t);
    ssize_t (*pwrite64)(int, const void *, size_t, int64_t);
    int (*close)(int);
};

// Resolved on first use with dlsym(RTLD_NEXT, ...).
const RealLibc &real_libc();

bool interposed_symbols_resolve_here();

}  // namespace bsp::sim

#endif
