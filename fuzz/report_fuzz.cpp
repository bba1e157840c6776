// The 1588 report and the SEIS command over arbitrary FPGA register contents, with
// arbitrary buffer lengths: never a byte written past the length given, always terminated.
#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_sim/sim.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

// Fills registers of both widths from the input: address and value pairs.
void load_registers(bsp::fuzz::Input &in) {
    size_t count = in.byte();
    for (size_t i = 0; i < count && !in.empty(); ++i) {
        uint8_t width = in.byte();
        uint32_t address = in.u32();
        uint32_t value = in.u32();
        bsp::sim::fpga_poke(width & 1 ? bsp::sim::FpgaWidth::W32 : bsp::sim::FpgaWidth::W16,
                            address, value);
    }
}

// Runs an output function into an exact-size heap buffer (ASan catches any overrun).
template <typename F>
void bounded(int length, F produce) {
    std::vector<char> *buf =
        length > 0 ? new std::vector<char>(static_cast<size_t>(length)) : nullptr;
    produce(length, buf ? buf->data() : nullptr);
    if (buf && std::memchr(buf->data(), '\0', buf->size()) == nullptr) {
        std::abort();  // the text must end inside the buffer
    }
    delete buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::fresh_unit();
    bsp::fuzz::Input in(data, size);
    bsp::sim::set_reset_type(in.byte() & 1 ? 1 : 2);
    load_registers(in);
    ehsl_pmap_init();
    ecps_init();
    init_seis();
    load_registers(in);
    int length = static_cast<int>(in.u32() % 2048) - 8;
    bounded(length, [](int n, char *b) { ecps_debug_print(n, b); });
    const char *options[] = {"seis", "-h", "-r", "-v", "-x", ""};
    char *argv[3] = {const_cast<char *>(options[0]), const_cast<char *>(options[in.byte() % 6]),
                     const_cast<char *>(options[in.byte() % 6])};
    int argc = 1 + in.byte() % 3;
    bounded(length, [&](int n, char *b) { seis_cmd(argc, argv, n, b); });
    return 0;
}
