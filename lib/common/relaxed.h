// Whole-word access to state shared with timer and driver contexts without a lock: each
// field is read and written whole (relaxed atomic access), never torn and never a data race.
#ifndef BSP_LIB_COMMON_RELAXED_H
#define BSP_LIB_COMMON_RELAXED_H

#include <atomic>

namespace bsp {

template <class T>
T load(const T &field) {
    return std::atomic_ref<T>(const_cast<T &>(field)).load(std::memory_order_relaxed);
}

template <class T>
void store(T &field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

template <class T>
void set_bits(T &field, T bits) {
    std::atomic_ref<T>(field).fetch_or(bits, std::memory_order_relaxed);
}

}  // namespace bsp

#endif
