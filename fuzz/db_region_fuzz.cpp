// A store region found again after a restart is input like any other: the fuzz input damages
// the header and descriptors of a store with a few objects, then the store is adopted or
// refused. A refused region must be left untouched; an adopted one must serve reads and its
// printout without reaching outside the region.
#include <bsp_ctrl/db_dev.h>
#include <bsp_sim/sim.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr uint32_t kRegionSize = 16 * 1024;
constexpr int kObjects = 6;

uint8_t *region() {
    static auto *r = static_cast<uint8_t *>(bsp::sim::map_low_region(kRegionSize));
    return r;
}

uint32_t base() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(region()));
}

void quiet_stdout() {
    static bool done = false;
    if (!done) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
        done = true;
    }
}

// The store the input starts from; returns the descriptor addresses in key order.
std::vector<uint32_t> lay_out() {
    uint32_t id = 0;
    if (st_reinit(&id, base(), kRegionSize) != 0) {
        std::abort();
    }
    for (int i = 0; i < kObjects; ++i) {
        uint8_t key[4] = {static_cast<uint8_t>(0x10 * (i + 1)), 0, 0, 0};
        std::vector<uint8_t> data(static_cast<size_t>(i * 7), static_cast<uint8_t>('a' + i));
        st_put_obj(id, key, data.data(), static_cast<uint32_t>(data.size()));
    }
    std::vector<uint32_t> descs;
    auto *st = reinterpret_cast<STORE *>(region());
    uint32_t node = st->st_obj_head;
    for (int i = 0; i < kObjects; ++i) {
        descs.push_back(node);
        node = reinterpret_cast<STORE_OBJ_DESC *>(uintptr_t{node})->st_obj_next;
    }
    return descs;
}

// The 32-bit words the damage may hit: header fields, then the fields of each descriptor.
uint8_t *word_at(const std::vector<uint32_t> &descs, uint8_t which) {
    constexpr uint8_t kHeaderWords = 12;  // st_addr .. st_obj_search, 4-byte steps from 16
    if (which % 32 < kHeaderWords) {
        return region() + 16 + 4 * (which % 32);
    }
    static constexpr uint8_t kFieldOffsets[] = {0, 4, 8, 12, 14, 18};
    uint8_t *d = reinterpret_cast<uint8_t *>(uintptr_t{descs[which % kObjects]});
    return d + kFieldOffsets[(which / kObjects) % sizeof kFieldOffsets];
}

uint32_t damaged_value(bsp::fuzz::Input &in, const std::vector<uint32_t> &descs, uint32_t old) {
    switch (in.byte() % 4) {
        case 0:
            return old + static_cast<uint32_t>(static_cast<int8_t>(in.byte()));
        case 1:
            return descs[in.byte() % kObjects];
        case 2:
            return base() + in.u32() % kRegionSize;
        default:
            return in.u32();
    }
}

void use_adopted_store(uint32_t id) {
    uint8_t buf[64];
    for (int i = 0; i <= kObjects; ++i) {
        uint8_t key[4] = {static_cast<uint8_t>(0x10 * i + (i % 2)), 0, 0, 0};
        st_get_obj(id, key, buf, sizeof buf);
    }
    st_info(id);
    st_dump(id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::Input in(data, size);
    quiet_stdout();
    std::vector<uint32_t> descs = lay_out();
    while (!in.empty()) {
        uint8_t *w = word_at(descs, in.byte());
        uint32_t old;
        std::memcpy(&old, w, 4);
        uint32_t value = damaged_value(in, descs, old);
        std::memcpy(w, &value, 4);
    }
    std::vector<uint8_t> before(region(), region() + kRegionSize);
    uint32_t id = 0;
    if (st_init(&id, base(), kRegionSize) != 0) {
        if (id != 0 || std::memcmp(before.data(), region(), kRegionSize) != 0) {
            std::abort();  // a refused region is neither adopted nor touched
        }
        return 0;
    }
    use_adopted_store(id);
    return 0;
}
