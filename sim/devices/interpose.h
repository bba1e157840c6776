// Internal to the simulated host: the C library's own functions behind the interposed ones.
#ifndef BSP_SIM_DEVICES_INTERPOSE_H
#define BSP_SIM_DEVICES_INTERPOSE_H

#include <sys/types.h>

namespace bsp::sim {

struct RealLibc {
    int (*open)(const char *, int, ...);
    int (*openat)(int, const char *, int, ...);
    ssize_t (*read)(int, void *, size_t);
    ssize_t (*write)(int, const void *, size_t);
    off_t (*lseek)(int, off_t, int);
    int (*ioctl)(int, unsigned long, ...);
    int (*close)(int);
};

// Resolved on first use with dlsym(RTLD_NEXT, ...).
const RealLibc &real_libc();

bool interposed_symbols_resolve_here();

}  // namespace bsp::sim

#endif
