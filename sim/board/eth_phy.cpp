// The copper module's PHY registers and the resolution of its link with the partner.
#include "eth_phy.h"

#include <linux/mii.h>

namespace bsp::sim::eth {

namespace {

constexpr uint16_t kStatusAbilities = BMSR_100FULL | BMSR_100HALF | BMSR_10FULL | BMSR_10HALF |
                                      BMSR_ESTATEN | BMSR_ANEGCAPABLE | BMSR_ERCAP;
constexpr uint16_t kPhyId1 = 0x0050;  // a made-up organisation identifier
constexpr uint16_t kPhyId2 = 0x1230;
constexpr uint16_t kDefaultControl = BMCR_ANENABLE | BMCR_SPEED1000 | BMCR_FULLDPLX;
constexpr uint16_t kDefaultAdvertise = ADVERTISE_CSMA | ADVERTISE_ALL;
constexpr uint16_t kSpeedBits = BMCR_SPEED1000 | BMCR_SPEED100;
constexpr uint16_t kAbility10_100 = ADVERTISE_ALL;
constexpr uint16_t kAbility1000 = ADVERTISE_1000FULL | ADVERTISE_1000HALF;
constexpr uint16_t kManualMaster =
    CTL1000_ENABLE_MASTER | CTL1000_AS_MASTER | CTL1000_PREFER_MASTER;
constexpr uint16_t kLocalSeed = 0x0ABC;

// Clause-28 priority resolution, best first; bits of the 1000BASE-T control register are
// shifted up by 16 to share one table with the advertisement register.
struct Hcd {
    uint32_t bit;
    int speed;
    bool full;
};
constexpr Hcd kPriority[] = {
    {uint32_t{ADVERTISE_1000FULL} << 16, 1000, true},
    {uint32_t{ADVERTISE_1000HALF} << 16, 1000, false},
    {ADVERTISE_100FULL, 100, true},
    {ADVERTISE_100HALF, 100, false},
    {ADVERTISE_10FULL, 10, true},
    {ADVERTISE_10HALF, 10, false},
};

// What the partner offers as seen by autonegotiation. A partner forced to 1000 Mbit/s still
// negotiates (1000BASE-T needs it), offering only its forced mode.
struct Offer {
    bool negotiates;
    uint16_t advertise;
    uint16_t ctrl1000;
};

Offer partner_offer(const LinkPartner &p) {
    if (p.autoneg) {
        return {true, p.advertise, p.ctrl1000};
    }
    if (p.forced_speed == 1000) {
        const uint16_t ability = p.forced_full ? ADVERTISE_1000FULL : ADVERTISE_1000HALF;
        return {true, ADVERTISE_CSMA,
                static_cast<uint16_t>(ability | (p.ctrl1000 & kManualMaster))};
    }
    return {false, 0, 0};
}

// Clause-40 master/slave resolution; false when both sides are forced to the same role.
bool resolve_master(uint16_t local, uint16_t remote, uint16_t remote_seed, bool *master) {
    const bool local_manual = (local & CTL1000_ENABLE_MASTER) != 0;
    const bool remote_manual = (remote & CTL1000_ENABLE_MASTER) != 0;
    const bool local_value = (local & CTL1000_AS_MASTER) != 0;
    const bool remote_value = (remote & CTL1000_AS_MASTER) != 0;
    if (local_manual && remote_manual) {
        *master = local_value;
        return local_value != remote_value;
    }
    if (local_manual || remote_manual) {
        *master = local_manual ? local_value : !remote_value;
        return true;
    }
    const bool local_multiport = (local & CTL1000_PREFER_MASTER) != 0;
    const bool remote_multiport = (remote & CTL1000_PREFER_MASTER) != 0;
    *master = local_multiport != remote_multiport ? local_multiport : kLocalSeed > remote_seed;
    return true;
}

// Annex 28B pause resolution, from the local side.
void resolve_pause(uint16_t local, uint16_t remote, LinkState *s) {
    const bool lp = (local & ADVERTISE_PAUSE_CAP) != 0;
    const bool la = (local & ADVERTISE_PAUSE_ASYM) != 0;
    const bool rp = (remote & LPA_PAUSE_CAP) != 0;
    const bool ra = (remote & LPA_PAUSE_ASYM) != 0;
    s->tx_pause = (lp && rp) || (!lp && la && rp && ra);
    s->rx_pause = (lp && rp) || (lp && la && !rp && ra);
}

}  // namespace

void Phy::reset() {
    regs_.fill(0);
    regs_[MII_BMCR] = kDefaultControl;
    regs_[MII_BMSR] = kStatusAbilities;
    regs_[MII_PHYSID1] = kPhyId1;
    regs_[MII_PHYSID2] = kPhyId2;
    regs_[MII_ADVERTISE] = kDefaultAdvertise;
    regs_[MII_CTRL1000] = ADVERTISE_1000FULL;
    regs_[MII_ESTATUS] = ESTATUS_1000_TFULL | ESTATUS_1000_THALF;
    resolve(true);
}

uint16_t Phy::read(int reg) {
    const uint16_t value = peek(reg);
    if ((reg & 0x1F) == MII_BMSR) {
        latched_down_ = !link_.up;
    }
    return value;
}

void Phy::write(int reg, uint16_t value) {
    reg &= 0x1F;
    switch (reg) {
        case MII_BMCR: {
            if ((value & BMCR_RESET) != 0) {
                reset();
                return;
            }
            const uint16_t old = regs_[MII_BMCR];
            regs_[MII_BMCR] = value & ~BMCR_ANRESTART;
            const bool autoneg = (value & BMCR_ANENABLE) != 0;
            const uint16_t relevant = BMCR_ANENABLE | BMCR_PDOWN | BMCR_ISOLATE |
                                      (autoneg ? 0 : kSpeedBits | BMCR_FULLDPLX);
            const bool restart = autoneg && (value & BMCR_ANRESTART) != 0;
            if (restart || ((old ^ value) & relevant) != 0) {
                resolve(true);
            }
            return;
        }
        case MII_BMSR:
        case MII_PHYSID1:
        case MII_PHYSID2:
        case MII_LPA:
        case MII_STAT1000:
        case MII_ESTATUS:
            return;  // read-only
        default:
            regs_[static_cast<size_t>(reg)] = value;  // advertisements wait for a restart
    }
}

uint16_t Phy::peek(int reg) const {
    reg &= 0x1F;
    uint16_t value = regs_[static_cast<size_t>(reg)];
    if (reg == MII_BMSR && link_.up && !latched_down_) {
        value |= BMSR_LSTATUS;
    }
    return value;
}

void Phy::poke(int reg, uint16_t value) {
    regs_[static_cast<size_t>(reg & 0x1F)] = value;
    resolve(false);
}

void Phy::set_present(bool present) {
    present_ = present;
    resolve(true);
}

void Phy::set_partner(const LinkPartner &partner) {
    partner_ = partner;
    resolve(true);
}

bool Phy::take_dropped() {
    const bool d = dropped_;
    dropped_ = false;
    return d;
}

void Phy::resolve(bool renegotiate) {
    const bool was_up = link_.up;
    const uint16_t control = regs_[MII_BMCR];
    if (!present_ || !partner_.connected || (control & (BMCR_PDOWN | BMCR_ISOLATE)) != 0) {
        link_ = LinkState{};
        regs_[MII_LPA] = 0;
        regs_[MII_STAT1000] = 0;
    } else {
        link_ = (control & BMCR_ANENABLE) != 0 ? resolve_autoneg() : resolve_forced();
    }
    if (was_up && (renegotiate || !link_.up)) {
        dropped_ = true;
        latched_down_ = true;
    }
    if (!link_.up) {
        latched_down_ = true;
    }
    update_status_registers();
}

LinkState Phy::resolve_autoneg() {
    const Offer offer = partner_offer(partner_);
    const uint16_t local = regs_[MII_ADVERTISE];
    const uint16_t local1000 = regs_[MII_CTRL1000];
    LinkState s;
    if (!offer.negotiates) {  // parallel detection of a forced 10/100 partner: half duplex
        const uint16_t ability = partner_.forced_speed == 100
                                     ? ADVERTISE_100HALF | ADVERTISE_100FULL
                                 : partner_.forced_speed == 10 ? ADVERTISE_10HALF | ADVERTISE_10FULL
                                                               : 0;
        s.up = (local & ability) != 0;
        s.speed = s.up ? partner_.forced_speed : 0;
        regs_[MII_LPA] =
            s.up ? static_cast<uint16_t>(ability & (ADVERTISE_100HALF | ADVERTISE_10HALF)) : 0;
        regs_[MII_STAT1000] = 0;
        return s;
    }
    const uint32_t common =
        ((uint32_t{local} & offer.advertise) & kAbility10_100) |
        (uint32_t{static_cast<uint16_t>(local1000 & offer.ctrl1000 & kAbility1000)} << 16);
    regs_[MII_LPA] = static_cast<uint16_t>(offer.advertise | LPA_LPACK);
    uint16_t stat =
        static_cast<uint16_t>(((offer.ctrl1000 & ADVERTISE_1000FULL) ? LPA_1000FULL : 0) |
                              ((offer.ctrl1000 & ADVERTISE_1000HALF) ? LPA_1000HALF : 0));
    for (const Hcd &h : kPriority) {
        if ((common & h.bit) == 0) {
            continue;
        }
        s.speed = h.speed;
        s.full_duplex = h.full;
        s.up = true;
        if (h.speed == 1000 &&
            !resolve_master(local1000, offer.ctrl1000, partner_.seed, &s.master)) {
            s = LinkState{};
            s.master_slave_fault = true;
            stat |= LPA_1000MSFAIL;
        }
        break;
    }
    if (s.up && s.full_duplex) {
        resolve_pause(local, offer.advertise, &s);
    }
    if (s.up && s.speed == 1000) {
        stat |= LPA_1000LOCALRXOK | LPA_1000REMRXOK | (s.master ? LPA_1000MSRES : 0);
    }
    regs_[MII_STAT1000] = stat;
    return s;
}

LinkState Phy::resolve_forced() {
    const uint16_t control = regs_[MII_BMCR];
    const uint16_t bits = control & kSpeedBits;
    LinkState s;
    regs_[MII_LPA] = 0;
    regs_[MII_STAT1000] = 0;
    if (bits == kSpeedBits) {
        return s;  // reserved speed selection
    }
    const int speed = bits == BMCR_SPEED1000 ? 1000 : bits == BMCR_SPEED100 ? 100 : 10;
    const Offer offer = partner_offer(partner_);
    if (speed == 1000) {
        // 1000BASE-T still needs the partner's 1000 ability and a master/slave resolution.
        if (!offer.negotiates || (offer.ctrl1000 & kAbility1000) == 0) {
            return s;
        }
        if (!resolve_master(regs_[MII_CTRL1000], offer.ctrl1000, partner_.seed, &s.master)) {
            s.master_slave_fault = true;
            regs_[MII_STAT1000] = LPA_1000MSFAIL;
            return s;
        }
        regs_[MII_STAT1000] = LPA_1000LOCALRXOK | LPA_1000REMRXOK | (s.master ? LPA_1000MSRES : 0);
    } else if (offer.negotiates) {
        // The partner detects our forced speed in parallel when it offers that speed.
        const uint16_t ability = speed == 100 ? ADVERTISE_100HALF | ADVERTISE_100FULL
                                              : ADVERTISE_10HALF | ADVERTISE_10FULL;
        if ((offer.advertise & ability) == 0) {
            return s;
        }
    } else if (partner_.forced_speed != speed) {
        return s;
    }
    s.up = true;
    s.speed = speed;
    s.full_duplex = (control & BMCR_FULLDPLX) != 0;
    return s;
}

void Phy::update_status_registers() {
    uint16_t status = kStatusAbilities;
    if (link_.up && (regs_[MII_BMCR] & BMCR_ANENABLE) != 0) {
        status |= BMSR_ANEGCOMPLETE;
    }
    regs_[MII_BMSR] = status;
}

}  // namespace bsp::sim::eth
