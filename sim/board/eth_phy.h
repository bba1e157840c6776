// The copper SFP module's PHY: clause-22 basic registers and clause-40 1000BASE-T registers,
// with the link to a partner resolved as IEEE 802.3 resolves it (clause 28 priority and
// pause, clause 40 master/slave, parallel detection of a forced partner).
#ifndef BSP_SIM_BOARD_ETH_PHY_H
#define BSP_SIM_BOARD_ETH_PHY_H

#include <array>
#include <cstdint>

#include "bsp_sim/eth.h"

namespace bsp::sim::eth {

class Phy {
  public:
    Phy() { reset(); }

    // Power-on defaults: autonegotiation on, every 10/100/1000 full-duplex ability advertised.
    void reset();

    // Register access as over MDIO: the status register's link bit latches low until read;
    // the reset and autonegotiation restart bits clear themselves.
    uint16_t read(int reg);
    void write(int reg, uint16_t value);

    // Register content without the side effects of an MDIO access.
    uint16_t peek(int reg) const;
    void poke(int reg, uint16_t value);

    // The medium: whether the module is plugged, and what is at the far end.
    void set_present(bool present);
    void set_partner(const LinkPartner &partner);
    const LinkPartner &partner() const { return partner_; }

    // Resolves the link again as after an autonegotiation restart (a new master/slave or
    // forced setting taking effect).
    void renegotiate() { resolve(true); }

    const LinkState &link() const { return link_; }
    // True when the link went down at some point since the last call (a restart or a drop
    // that recovered at once); cleared by the call.
    bool take_dropped();

  private:
    void resolve(bool renegotiate);
    LinkState resolve_autoneg();
    LinkState resolve_forced();
    void update_status_registers();

    std::array<uint16_t, 32> regs_{};
    LinkPartner partner_{};
    LinkState link_{};
    bool present_ = true;
    bool latched_down_ = true;  // the link bit reads 0 once after any loss of link
    bool dropped_ = false;
};

}  // namespace bsp::sim::eth

#endif
