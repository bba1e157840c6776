#include "fuzz_support.h"

#include <bsp_sim/sim.h>

#include <cstring>

namespace bsp::fuzz {

void fresh_unit() {
    static bool checked = false;
    if (!checked) {
        bsp::sim::require_interposition();
        checked = true;
    }
    bsp::sim::reset_unit();
}

uint32_t Input::u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v = (v << 8) | byte();
    }
    return v;
}

size_t Input::take(uint8_t *out, size_t max) {
    size_t n = remaining() < max ? remaining() : max;
    if (n == 0) {
        return 0;
    }
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return n;
}

}  // namespace bsp::fuzz
