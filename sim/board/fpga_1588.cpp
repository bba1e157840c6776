// Model of the FPGA's 1588 block: the radio-link values reachable as 16- and 32-bit
// registers, and the SFP TSU's link-event input pulsed through bit 2 of its control.
#include <atomic>

#include "bsp_sim/fpga.h"
#include "bsp_sim/sync.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

constexpr uint32_t kRlTraLm = 0x28030;
constexpr uint32_t kRlIdlLm = 0x28034;
constexpr uint32_t kSfpTsuCtrl = 0x53084;
constexpr uint32_t kSfpLinkPulseBit = 0x4;

struct Model {
    std::atomic<unsigned> pulses{0};
    std::atomic<bool> pulse_bit{false};
};

Model &model() {
    return immortal<Model>();
}

// One register behind both access widths: a write through either shows through the other.
void mirror(FpgaWidth from, FpgaWidth to) {
    fpga_on_write(from, kRlTraLm, kRlIdlLm, [to](uint32_t address, uint32_t value) {
        if (address == kRlTraLm || address == kRlIdlLm) {
            fpga_poke(to, address, value & 0xFFFF);
        }
    });
}

void on_sfp_tsu_ctrl(uint32_t, uint32_t value) {
    bool bit = (value & kSfpLinkPulseBit) != 0;
    if (bit && !model().pulse_bit.load()) {
        ++model().pulses;
    }
    model().pulse_bit = bit;
}

void reset_1588_block() {
    model().pulses = 0;
    model().pulse_bit = false;
    mirror(FpgaWidth::W16, FpgaWidth::W32);
    mirror(FpgaWidth::W32, FpgaWidth::W16);
    fpga_on_write(FpgaWidth::W32, kSfpTsuCtrl, kSfpTsuCtrl, on_sfp_tsu_ctrl);
}

const ResetHook reset_hook{reset_1588_block};

}  // namespace

unsigned sfp_tsu_link_pulses() {
    return model().pulses;
}

}  // namespace bsp::sim
