// Heap allocation faults. The executable that hosts the library defines malloc, calloc,
// realloc and free, so they come first in symbol lookup; each forwards to the next
// definition (the C library's, or a sanitizer's allocator). An allocation whose caller lies
// in the library's own code is counted as a HeapAllocate call and may be made to fail, so
// that the library's handling of an exhausted heap can be tested; every other allocation of
// the process is left alone. The allocation path runs before the sanitizer runtimes have set
// up (the loader allocates while they start), so it carries no instrumentation (BSP_SIM_RAW)
// and uses only compiler builtins.
#include <dlfcn.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "bsp_sim/fault.h"
#include "devices/library_text.h"

// A clang sanitizer runtime is linked statically and defines these functions itself: there
// the heap is not interposed (and HeapAllocate faults never hit).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BSP_SIM_NO_HEAP_INTERPOSE 1
#endif
#endif

#ifndef BSP_SIM_NO_HEAP_INTERPOSE

namespace bsp::sim {

namespace {

using MallocFn = void *(*)(size_t);
using CallocFn = void *(*)(size_t, size_t);
using ReallocFn = void *(*)(void *, size_t);
using FreeFn = void (*)(void *);

MallocFn next_malloc = nullptr;
CallocFn next_calloc = nullptr;
ReallocFn next_realloc = nullptr;
FreeFn next_free = nullptr;
bool resolving = false;

template <typename T>
BSP_SIM_RAW T load(const T &v) {
    return __atomic_load_n(&v, __ATOMIC_ACQUIRE);
}

template <typename T>
BSP_SIM_RAW void store(T &v, T value) {
    __atomic_store_n(&v, value, __ATOMIC_RELEASE);
}

// Serves the allocations made while the next definitions are being looked up (dlsym may
// allocate). Its blocks carry their size in front and are never released.
constexpr size_t kBootstrapSize = 64 * 1024;
constexpr size_t kAlign = alignof(std::max_align_t);
alignas(kAlign) unsigned char bootstrap[kBootstrapSize];
size_t bootstrap_used = 0;

BSP_SIM_RAW bool from_bootstrap(const void *p) {
    auto at = reinterpret_cast<uintptr_t>(p);
    auto begin = reinterpret_cast<uintptr_t>(bootstrap);
    return at >= begin && at < begin + kBootstrapSize;
}

BSP_SIM_RAW void copy_bytes(void *to, const void *from, size_t n) {
    auto *d = static_cast<volatile unsigned char *>(to);
    const auto *s = static_cast<const unsigned char *>(from);
    for (size_t i = 0; i < n; ++i) {
        d[i] = s[i];
    }
}

BSP_SIM_RAW void *bootstrap_alloc(size_t size) {
    if (size > kBootstrapSize) {
        return nullptr;
    }
    size_t need = kAlign + (size + kAlign - 1) / kAlign * kAlign;
    size_t at = __atomic_fetch_add(&bootstrap_used, need, __ATOMIC_ACQ_REL);
    if (at + need > kBootstrapSize) {
        return nullptr;
    }
    copy_bytes(bootstrap + at, &size, sizeof size);
    return bootstrap + at + kAlign;  // zeroed: static storage, never reused
}

BSP_SIM_RAW size_t bootstrap_size(const void *p) {
    size_t size = 0;
    copy_bytes(&size, static_cast<const unsigned char *>(p) - kAlign, sizeof size);
    return size;
}

BSP_SIM_RAW void resolve() {
    store(resolving, true);
    store(next_free, reinterpret_cast<FreeFn>(::dlsym(RTLD_NEXT, "free")));
    store(next_realloc, reinterpret_cast<ReallocFn>(::dlsym(RTLD_NEXT, "realloc")));
    store(next_calloc, reinterpret_cast<CallocFn>(::dlsym(RTLD_NEXT, "calloc")));
    store(next_malloc, reinterpret_cast<MallocFn>(::dlsym(RTLD_NEXT, "malloc")));
    store(resolving, false);
}

// True while the next definitions are not known yet (allocations then use the bootstrap).
BSP_SIM_RAW bool unresolved() {
    if (load(next_malloc) != nullptr) {
        return false;
    }
    if (!load(resolving)) {
        resolve();
    }
    return load(next_malloc) == nullptr;
}

// Counts an allocation made by the library and tells whether it must fail.
BSP_SIM_RAW bool heap_fault(const void *caller) {
    if (!called_from_library(caller)) {
        return false;
    }
    if (!fault_hit(FaultOp::HeapAllocate)) {
        return false;
    }
    errno = ENOMEM;
    return true;
}

}  // namespace

}  // namespace bsp::sim

using namespace bsp::sim;

extern "C" {

BSP_SIM_RAW void *malloc(size_t size) {
    if (unresolved()) {
        return bootstrap_alloc(size);
    }
    if (heap_fault(__builtin_return_address(0))) {
        return nullptr;
    }
    return load(next_malloc)(size);
}

BSP_SIM_RAW void *calloc(size_t count, size_t size) {
    if (unresolved()) {
        return size != 0 && count > SIZE_MAX / size ? nullptr : bootstrap_alloc(count * size);
    }
    if (heap_fault(__builtin_return_address(0))) {
        return nullptr;
    }
    return load(next_calloc)(count, size);
}

BSP_SIM_RAW void *realloc(void *ptr, size_t size) {
    bool early = unresolved();
    if (!early && heap_fault(__builtin_return_address(0))) {
        return nullptr;
    }
    if (early || (ptr != nullptr && from_bootstrap(ptr))) {
        // A bootstrap block moves to fresh memory; it is never released itself.
        void *moved = early ? bootstrap_alloc(size) : load(next_malloc)(size);
        if (moved != nullptr && ptr != nullptr) {
            size_t old = bootstrap_size(ptr);
            copy_bytes(moved, ptr, old < size ? old : size);
        }
        return moved;
    }
    return load(next_realloc)(ptr, size);
}

BSP_SIM_RAW void free(void *ptr) {
    if (ptr == nullptr || from_bootstrap(ptr) || unresolved()) {
        return;  // bootstrap blocks stay; nothing else exists before resolution
    }
    load(next_free)(ptr);
}

}  // extern "C"

#endif
