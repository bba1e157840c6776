// Pool bookkeeping driven by arbitrary allocate/free sequences: the pool stays consistent
// (availability never exceeds the pool, blocks never overlap) and strays are refused.
#include <bsp_ctrl/platform/bsp_os.h>
#include <bsp_sim/sim.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr uint32_t kPoolSize = 4096;

uint8_t *region() {
    static auto *r = static_cast<uint8_t *>(bsp::sim::map_low_region(2 * kPoolSize));
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::Input in(data, size);
    auto *pool = reinterpret_cast<MEM_POOL *>(region() + kPoolSize);
    if (MEM_Create_Pool(pool, region(), kPoolSize, 16) != 0) {
        std::abort();
    }
    std::vector<uint8_t *> blocks;
    while (!in.empty()) {
        uint8_t op = in.byte();
        if (op % 3 != 0 || blocks.empty()) {
            void *b = nullptr;
            if (MEM_Allocate(pool, &b, in.byte() * 4u) == 0) {
                blocks.push_back(static_cast<uint8_t *>(b));
            }
        } else if (op % 2 == 0) {
            size_t i = in.byte() % blocks.size();
            if (MEM_Deallocate(pool, blocks[i]) != 0) {
                std::abort();
            }
            blocks.erase(blocks.begin() + static_cast<long>(i));
        } else {
            uint8_t *stray = region() + in.byte();
            auto live = std::find(blocks.begin(), blocks.end(), stray);
            bool freed = MEM_Deallocate(pool, stray) == 0;
            if (freed != (live != blocks.end())) {
                std::abort();  // exactly the addresses of live blocks may be freed
            }
            if (freed) {
                blocks.erase(live);
            }
        }
        if (pool->pool_available > kPoolSize) {
            std::abort();
        }
    }
    for (uint8_t *b : blocks) {
        MEM_Deallocate(pool, b);
    }
    if (pool->pool_available != kPoolSize - sizeof(MEM_HEADER)) {
        std::abort();  // everything merged back
    }
    return 0;
}
