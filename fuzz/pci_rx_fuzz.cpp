// The PCI channel's receive path with arbitrary receive areas: arbitrary length words and
// bytes, doorbell bits in any combination. Whatever arrives at the callback lies within the
// receive buffer's 1536 bytes.
#include <bsp_ctrl/pcidev.h>
#include <bsp_sim/sim.h>

#include <cstdlib>
#include <vector>

#include "fuzz_support.h"

namespace {

int check_received(UINT8 *msg, UINT32 len, UINT32) {
    if (len > bsp::sim::kPciBuffBytes || (len > 0 && msg == nullptr)) {
        std::abort();
    }
    volatile UINT8 sum = 0;
    for (UINT32 i = 0; i < len; ++i) {
        sum = static_cast<UINT8>(sum + msg[i]);  // every byte handed over must be readable
    }
    return 0;
}

void open_channel() {
    bsp::fuzz::fresh_unit();
    init_pci();
    pci_install_rx_callback(check_received);
    pci_open(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    open_channel();
    bsp::sim::InterruptLine *line = bsp::sim::interrupt_line(bsp::sim::kPciDevicePath);
    bsp::fuzz::Input in(data, size);
    while (!in.empty()) {
        uint16_t len_h = static_cast<uint16_t>(in.byte() << 8 | in.byte());
        uint16_t len_l = static_cast<uint16_t>(in.byte() << 8 | in.byte());
        std::vector<uint8_t> bytes(in.byte() * 8u);
        bytes.resize(in.take(bytes.data(), bytes.size()));
        bsp::sim::pci_place_rx_raw(len_h, len_l, bytes);
        bsp::sim::pci_raise(static_cast<uint16_t>(in.byte()));
        if (line != nullptr) {
            line->wait_idle();
        }
    }
    pci_close();
    return 0;
}
