// The DPDP channel's receive handler with arbitrary HDLC frames: dispatch on the first
// byte, the reserved reconfiguration byte, frames of any length including none.
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_sim/sim.h>

#include <cstdlib>
#include <vector>

#include "fuzz_support.h"

namespace {

void check_packet(void *packet, UINT32 size) {
    if (size > 256 || (size > 0 && packet == nullptr)) {
        std::abort();
    }
    volatile UINT8 sum = 0;
    for (UINT32 i = 0; i < size; ++i) {
        sum = static_cast<UINT8>(sum + static_cast<UINT8 *>(packet)[i]);
    }
}

STATUS check_dispatched(UINT8 *packet, UINT32 size) {
    check_packet(packet, size);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::fresh_unit();
    bsp::fuzz::Input in(data, size);
    DpdpInit();
    DpdpOpen(check_packet);
    if (in.byte() & 1) {
        DpdpSetHeaderValue(in.byte());
        DpdpSetCallback(check_dispatched);
    }
    while (!in.empty()) {
        std::vector<uint8_t> frame(in.byte() + 1u);
        frame.resize(in.take(frame.data(), frame.size()));
        bsp::sim::hdlc_receive(frame);
    }
    DpdpClose();
    return 0;
}
