// Model of the FPGA's SEIS block: the transmit PLL locks once configured, the link-up
// registers give each link's state, and the received QL follows the far end while a link
// is enabled and up.
#include <array>
#include <atomic>

#include "bsp_sim/fpga.h"
#include "bsp_sim/sync.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

constexpr uint32_t kTxpllCfg = 0x30120;
constexpr uint32_t kTxpllIntValNew = 0x30124;
constexpr uint32_t kTxpllStat = 0x30128;
constexpr uint32_t kTxpllIntVal = 0x3012c;
constexpr uint32_t kLink0State = 0x0033c;
constexpr uint32_t kLinkBase = 0x32000;
constexpr uint32_t kLinkStride = 0x100;
constexpr uint32_t kLinkCfg = 0x00;
constexpr uint32_t kLinkUp = 0x0c;
constexpr uint32_t kLinkIngQlSeis = 0x20;
constexpr uint32_t kLinkEnableBit = 0x1;
constexpr uint32_t kTxpllLocked = 0x1;
constexpr unsigned kQlFailed = 6;
constexpr unsigned kDefaultFarEndQl = 2;  // QL-PRC
constexpr int kLinks = 2;

struct Model {
    std::array<std::atomic<bool>, kLinks> up{};
    std::array<std::atomic<unsigned>, kLinks> far_end_ql{};
};

Model &model() {
    return immortal<Model>();
}

uint32_t link_reg(int link, uint32_t offset) {
    return kLinkBase + kLinkStride * static_cast<uint32_t>(link) + offset;
}

void on_txpll_cfg(uint32_t, uint32_t value) {
    bool locked = (value & 0x1) != 0;
    fpga_poke(FpgaWidth::W16, kTxpllStat, locked ? kTxpllLocked : 0);
    if (locked) {
        fpga_poke(FpgaWidth::W16, kTxpllIntVal, fpga_peek(FpgaWidth::W16, kTxpllIntValNew));
    }
}

void watch_link(int link) {
    fpga_on_write(FpgaWidth::W16, link_reg(link, kLinkUp), link_reg(link, kLinkUp),
                  [link](uint32_t, uint32_t value) {
                      if (value & 0x1) {
                          model().up[link] = true;
                      }
                  });
    fpga_on_read(
        FpgaWidth::W16, link_reg(link, kLinkIngQlSeis), link_reg(link, kLinkIngQlSeis),
        [link](uint32_t address) {
            bool enabled = fpga_peek(FpgaWidth::W16, link_reg(link, kLinkCfg)) & kLinkEnableBit;
            unsigned ql = enabled && model().up[link] ? model().far_end_ql[link].load() : kQlFailed;
            fpga_poke(FpgaWidth::W16, address, ql);
        });
}

void reset_seis_block() {
    for (int n = 0; n < kLinks; ++n) {
        model().up[n] = false;
        model().far_end_ql[n] = kDefaultFarEndQl;
        watch_link(n);
    }
    fpga_on_write(FpgaWidth::W16, kTxpllCfg, kTxpllCfg, on_txpll_cfg);
    fpga_on_write(FpgaWidth::W16, kLink0State, kLink0State,
                  [](uint32_t, uint32_t value) { model().up[0] = (value & 0x1) != 0; });
}

const ResetHook reset_hook{reset_seis_block};

}  // namespace

void seis_set_far_end_ql(int link, unsigned ssm) {
    if (link >= 0 && link < kLinks) {
        model().far_end_ql[link] = ssm & 0xF;
    }
}

bool seis_block_link_up(int link) {
    return link >= 0 && link < kLinks && model().up[link];
}

}  // namespace bsp::sim
