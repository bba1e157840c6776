// Conversions between pointers and the 32-bit absolute addresses that the store region and
// the object ids carry. On the unit every address fits; on a 64-bit host only memory below
// 4 GiB can be named, and a pointer above is refused rather than truncated.
#ifndef BSP_LIB_COMMON_ADDR32_H
#define BSP_LIB_COMMON_ADDR32_H

#include <cstdint>

namespace bsp {

inline bool fits_addr32(const void *p) {
    return reinterpret_cast<uintptr_t>(p) <= UINT32_MAX;
}

// True when [base, base + size) lies inside the 32-bit address space.
inline bool range_fits_addr32(uint32_t base, uint32_t size) {
    return uint64_t{base} + size <= uint64_t{UINT32_MAX} + 1;
}

inline uint32_t to_addr32(const void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename T = void>
inline T *from_addr32(uint32_t addr) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(addr));
}

}  // namespace bsp

#endif
