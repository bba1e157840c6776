// Shared set-up of the fuzz programs: a simulated unit made once, reset between inputs.
#ifndef BSP_FUZZ_FUZZ_SUPPORT_H
#define BSP_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>

namespace bsp::fuzz {

// Checks interposition once, then gives a fresh simulated unit with the manual clock.
void fresh_unit();

// Reads fuzz input as a sequence of small values.
class Input {
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    uint32_t u32();
    // Up to `max` bytes of the rest (fewer at the end); returns how many.
    size_t take(uint8_t *out, size_t max);
    size_t remaining() const { return size_ - pos_; }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace bsp::fuzz

#endif
