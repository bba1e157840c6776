// The EEPROM layout readers over arbitrary EEPROM contents: the header and area headers are
// read into buffers of their documented sizes (64 and 256 bytes), data entries into buffers
// of exactly the size the library reports, so any byte written past them shows.
#include <bsp_ctrl/e2prom.h>
#include <bsp_sim/sim.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr size_t kImageBytes = 1024;  // header, area headers and first entries live low
constexpr size_t kHeaderBytes = 64;
constexpr size_t kAreaHeaderBytes = 256;

// Calls a reader with a buffer of `size` bytes (at least one so the pointer is valid).
template <typename F>
void read_exact(size_t size, F reader) {
    std::vector<UINT8> buf(size ? size : 1);
    reader(buf.data());
}

void read_area(UINT8 area, bsp::fuzz::Input &in) {
    UINT16 size = 0;
    e2prom_get_area_header_size(area, &size);
    read_exact(kAreaHeaderBytes, [&](UINT8 *b) { e2prom_area_header_read(area, b); });
    for (int i = 0; i < 4 && !in.empty(); ++i) {
        UINT16 id = static_cast<UINT16>(in.byte() << 8 | in.byte());
        UINT16 data_size = 0;
        if (e2prom_get_data_size(area, id, &data_size) == 0) {
            read_exact(data_size, [&](UINT8 *b) { e2prom_data_read(area, id, b); });
        }
    }
}

// Writes a formatted EEPROM with an area and two entries as a seed: BSP_FUZZ_MAKE_SEED=path.
void make_seed(const char *path) {
    bsp::fuzz::fresh_unit();
    UINT8 serial[] = "SN-0042";
    UINT8 mac[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    if (e2prom_init() != 0 || e2prom_area_init(1, 512) != 0 ||
        e2prom_data_write(1, 1, sizeof serial, serial) != 0 ||
        e2prom_data_write(1, 2, sizeof mac, mac) != 0) {
        std::abort();
    }
    std::vector<uint8_t> image = bsp::sim::eeprom_chip()->peek(0, kImageBytes);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()), static_cast<long>(image.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (const char *seed = std::getenv("BSP_FUZZ_MAKE_SEED")) {
        make_seed(seed);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::fresh_unit();
    bsp::fuzz::Input in(data, size);
    std::vector<uint8_t> image(kImageBytes, 0xFF);
    image.resize(in.take(image.data(), kImageBytes));
    bsp::sim::eeprom_chip()->poke(0, image);
    UINT16 header_size = 0;
    e2prom_get_header_size(&header_size);
    read_exact(kHeaderBytes, [](UINT8 *b) { e2prom_header_read(b); });
    while (!in.empty()) {
        read_area(in.byte(), in);
    }
    return 0;
}
