// Heap allocation faults. The executable that hosts the library defines malloc, calloc,
// realloc and free, so they come first in symbol lookup; each forwards to the next
// definition (the C library's, or a sanitizer's allocator). An allocation whose caller lies
// in the library's own code is counted as a HeapAllocate call and may be made to fail, so
// that the library's handling of an exhausted heap can be tested; every other allocation of
// the process is left alone.
#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bsp_sim/fault.h"
#include "bsp_sim/unit.h"

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

std::atomic<MallocFn> next_malloc{nullptr};
std::atomic<CallocFn> next_calloc{nullptr};
std::atomic<ReallocFn> next_realloc{nullptr};
std::atomic<FreeFn> next_free{nullptr};
std::atomic<bool> resolving{false};

// Serves the allocations made while the next definitions are being looked up (dlsym may
// allocate). Its blocks carry their size in front and are never released.
constexpr size_t kBootstrapSize = 64 * 1024;
constexpr size_t kAlign = alignof(std::max_align_t);
alignas(kAlign) unsigned char bootstrap[kBootstrapSize];
std::atomic<size_t> bootstrap_used{0};

bool from_bootstrap(const void *p) {
    auto *b = static_cast<const unsigned char *>(p);
    return b >= bootstrap && b < bootstrap + kBootstrapSize;
}

void *bootstrap_alloc(size_t size) {
    size_t need = kAlign + (size + kAlign - 1) / kAlign * kAlign;
    size_t at = bootstrap_used.fetch_add(need);
    if (size > kBootstrapSize || at + need > kBootstrapSize) {
        return nullptr;
    }
    std::memcpy(bootstrap + at, &size, sizeof size);
    return bootstrap + at + kAlign;  // zeroed: static storage, never reused
}

size_t bootstrap_size(const void *p) {
    size_t size = 0;
    std::memcpy(&size, static_cast<const unsigned char *>(p) - kAlign, sizeof size);
    return size;
}

void resolve() {
    resolving.store(true);
    next_free.store(reinterpret_cast<FreeFn>(::dlsym(RTLD_NEXT, "free")));
    next_realloc.store(reinterpret_cast<ReallocFn>(::dlsym(RTLD_NEXT, "realloc")));
    next_calloc.store(reinterpret_cast<CallocFn>(::dlsym(RTLD_NEXT, "calloc")));
    next_malloc.store(reinterpret_cast<MallocFn>(::dlsym(RTLD_NEXT, "malloc")));
    resolving.store(false);
}

// True while the next definitions are not known yet (allocations then use the bootstrap).
bool unresolved() {
    if (next_malloc.load() != nullptr) {
        return false;
    }
    if (!resolving.load()) {
        resolve();
    }
    return next_malloc.load() == nullptr;
}

// The library's executable code, found once the unit is reset (never from an allocation:
// the loader's lock may be held there).
std::atomic<uintptr_t> text_begin{0};
std::atomic<uintptr_t> text_end{0};

int find_library_text(struct dl_phdr_info *info, size_t, void *) {
    const char *name = info->dlpi_name;
    if (name == nullptr || std::strstr(name, "/libbsp_ctrl.so") == nullptr) {
        return 0;
    }
    uintptr_t begin = UINTPTR_MAX;
    uintptr_t end = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) != 0) {
            uintptr_t at = info->dlpi_addr + ph.p_vaddr;
            begin = at < begin ? at : begin;
            end = at + ph.p_memsz > end ? at + ph.p_memsz : end;
        }
    }
    if (end != 0) {
        text_begin.store(begin);
        text_end.store(end);
    }
    return 1;
}

void locate_library() {
    if (text_end.load() == 0) {
        ::dl_iterate_phdr(find_library_text, nullptr);
    }
}

const ResetHook reset_hook{locate_library, kCorePhase};

// Counts an allocation made by the library and tells whether it must fail.
bool heap_fault(const void *caller) {
    auto at = reinterpret_cast<uintptr_t>(caller);
    if (at < text_begin.load(std::memory_order_relaxed) ||
        at >= text_end.load(std::memory_order_relaxed)) {
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

void *malloc(size_t size) {
    if (unresolved()) {
        return bootstrap_alloc(size);
    }
    if (heap_fault(__builtin_return_address(0))) {
        return nullptr;
    }
    return next_malloc.load()(size);
}

void *calloc(size_t count, size_t size) {
    if (unresolved()) {
        return size != 0 && count > SIZE_MAX / size ? nullptr : bootstrap_alloc(count * size);
    }
    if (heap_fault(__builtin_return_address(0))) {
        return nullptr;
    }
    return next_calloc.load()(count, size);
}

void *realloc(void *ptr, size_t size) {
    if (unresolved()) {
        void *moved = bootstrap_alloc(size);
        if (moved != nullptr && ptr != nullptr) {
            size_t old = bootstrap_size(ptr);
            std::memcpy(moved, ptr, old < size ? old : size);
        }
        return moved;
    }
    if (heap_fault(__builtin_return_address(0))) {
        return nullptr;
    }
    if (ptr != nullptr && from_bootstrap(ptr)) {
        void *moved = next_malloc.load()(size);
        if (moved != nullptr) {
            size_t old = bootstrap_size(ptr);
            std::memcpy(moved, ptr, old < size ? old : size);
        }
        return moved;
    }
    return next_realloc.load()(ptr, size);
}

void free(void *ptr) {
    if (ptr == nullptr || from_bootstrap(ptr)) {
        return;
    }
    if (unresolved()) {
        return;  // cannot happen: nothing but the bootstrap has been handed out yet
    }
    next_free.load()(ptr);
}

}  // extern "C"

#endif
