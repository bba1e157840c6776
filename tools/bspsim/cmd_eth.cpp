// Shell commands of the Ethernet-port families: every command of the port
// layer's command interpreter by name, the port map's start and SyncE
// capability phase, and the simulated SFP cage, link partner and link.
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_sim/sim.h>
#include <linux/mii.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <string>
#include <utility>

#include "json.h"
#include "shell.h"

namespace bsp::shell {

namespace {

// ---- the port layer's command interpreter ----

// The interpreter's commands, which the shell hands on by name with a port and
// a value.
struct CliCommand {
    const char *name;
    int args;  // exactly this many
    const char *usage;
    const char *help;
};

constexpr CliCommand kCliCommands[] = {
    {"port_init", 0, "", "start the port layer and the MAC/SFP driver"},
    {"port_conf", 0, "", "print the board's port configuration"},
    {"stub_conf", 0, "", "print the port layer's stub record"},
    {"pmap_conf", 0, "", "print the port map"},
    {"Operstatus_set", 2, "PORT VALUE", "store an oper status in the stub record"},
    {"Operstatus_get", 1, "PORT", "print a port's oper status"},
    {"adminstatus_set", 2, "PORT VALUE", "set the administrative status (pause off first)"},
    {"adminstatus_get", 1, "PORT", "print the administrative status"},
    {"speed_set", 2, "PORT MBITS", "force a speed"},
    {"speed_get", 1, "PORT", "print the link speed"},
    {"link_status", 1, "PORT", "print the link status"},
    {"mdix_set", 2, "PORT MODE", "set MDI-X (0 auto, 1 normal, 2 crossover)"},
    {"mdix_get", 1, "PORT", "print the MDI-X mode"},
    {"duplex_set", 2, "PORT 10|11", "set full (10) or half (11) duplex"},
    {"duplex_get", 1, "PORT", "print the duplex"},
    {"config_get", 1, "PORT", "print autoneg, configuration and duplex"},
    {"config_set", 2, "PORT CONFIG", "apply a configuration (1 autodetect .. 9 10HD)"},
    {"master_set", 2, "PORT 0|1|2", "master/slave: 0 automatic, 1 master, other slave"},
    {"autoneg_get", 1, "PORT", "print whether autonegotiation is on"},
    {"autoneg_set", 2, "PORT 0|1", "switch autonegotiation off or on"},
    {"supported_speeds", 1, "PORT", "print the supported-speeds bitmap"},
};
static_assert(std::size(kCliCommands) == 21);

// True while ehsl_pmap_synce_cap_init_finished has not run: a capability read
// would wait. The phase ends once for good (a later pmap-init empties the
// semaphore again but reads no longer take it), so a token once seen is
// remembered.
bool capability_phase_open() {
    static std::atomic<bool> ended{false};
    int value = 0;
    if (sem_getvalue(&ehsl_pmap_synce_init_sem, &value) == 0 && value > 0) {
        ended = true;
    }
    return !ended;
}

template <size_t I>
int run_cli(const Args &args) {
    int port = 0;
    int value = 0;
    if ((!args.empty() && !parse_int(args[0], &port)) ||
        (args.size() > 1 && !parse_int(args[1], &value))) {
        return 1;
    }
    const std::string name = kCliCommands[I].name;
    if (name == "supported_speeds" && capability_phase_open()) {
        return fail(
            "the port map's SyncE capability phase has not ended and the query "
            "would wait (run pmap-init and synce-finish, or seis-init)");
    }
    return cli_cmd(0, port, const_cast<char *>(name.c_str()), value);
}

// ---- the port map ----

int cmd_pmap_init(const Args &) {
    ehsl_pmap_init();
    return 0;
}

int cmd_pmap_update(const Args &args) {
    int hw = 0;
    int eps = 0;
    if (!parse_int(args[0], &hw) || !parse_int(args[1], &eps)) {
        return 1;
    }
    return ehsl_pmap_update(hw, eps, 0) == 0 ? 0 : 1;
}

int cmd_synce_cap(const Args &args) {
    int hw = 0;
    int cap = 0;
    if (!parse_int(args[0], &hw) || !parse_int(args[1], &cap)) {
        return 1;
    }
    return ehsl_pmap_synce_cap_init(hw, cap) == 0 ? 0 : 1;
}

int cmd_synce_finish(const Args &) {
    int rc = ehsl_pmap_synce_cap_init_finished();
    capability_phase_open();  // notes the token before a later pmap-init takes it
    return rc;
}

// ---- the simulated cage, partner and link ----

int cmd_sfp_plug(const Args &args) {
    const std::string &t = args[0];
    if (!parse_choice(t, {"copper", "fibre", "fiber", "error"}, "the module type")) {
        return 1;
    }
    sim::plug_sfp(t == "copper" ? SFP_COPPER : t == "error" ? SFP_ERROR : SFP_FIBER);
    return 0;
}

int cmd_sfp_pull(const Args &) {
    sim::pull_sfp();
    return 0;
}

int cmd_link(const Args &args) {
    if (!parse_choice(args[0], {"up", "down"}, "link")) {
        return 1;
    }
    sim::set_link_connected(args[0] == "up");
    return 0;
}

int cmd_partner(const Args &args) {
    sim::LinkPartner p = sim::link_partner();
    uint32_t adv = p.advertise;
    uint32_t c1000 = p.ctrl1000;
    if (args[0] == "auto" && args.size() <= 3) {
        p.autoneg = true;
        if ((args.size() > 1 && !parse_range(args[1], 0, 0xffff, "ADV", &adv)) ||
            (args.size() > 2 && !parse_range(args[2], 0, 0xffff, "C1000", &c1000))) {
            return 1;
        }
    } else if (args[0] == "forced" && args.size() >= 3) {
        p.autoneg = false;
        if (!parse_choice(args[1], {"10", "100", "1000"}, "SPEED") ||
            !parse_choice(args[2], {"full", "half"}, "the duplex") ||
            (args.size() > 3 && !parse_range(args[3], 0, 0xffff, "C1000", &c1000))) {
            return 1;
        }
        p.forced_speed = std::stoi(args[1]);
        p.forced_full = args[2] == "full";
    } else {
        return fail("usage: partner auto [ADV [C1000]] | forced SPEED full|half [C1000]");
    }
    p.advertise = static_cast<uint16_t>(adv);
    p.ctrl1000 = static_cast<uint16_t>(c1000);
    sim::set_link_partner(p);
    return 0;
}

const char *module_name(sfp_hw_t t) {
    switch (t) {
        case SFP_COPPER:
            return "copper";
        case SFP_FIBER:
            return "fibre";
        case SFP_ERROR:
            return "error";
        case SFP_NO_SFP:
            return "none";
        default:
            return "not initialised";
    }
}

void print_eth_status_json(const sim::LinkState &s, const sim::LinkPartner &p) {
    JsonObject link;
    link.flag("up", s.up);
    if (s.up) {
        link.num("speed", s.speed)
            .flag("full_duplex", s.full_duplex)
            .num("tx_pause", s.tx_pause)
            .num("rx_pause", s.rx_pause);
        if (s.speed == 1000) {
            link.flag("master", s.master);
        }
    } else {
        link.flag("master_slave_fault", s.master_slave_fault);
    }
    JsonObject j;
    j.str("module", module_name(sim::sfp_module()))
        .str("monitor", module_name(sfp_mon_get_module_type()))
        .flag("driver_started", sim::eth_driver_initialised())
        .raw("partner", JsonObject()
                            .flag("connected", p.connected)
                            .flag("autoneg", p.autoneg)
                            .num("advertise", p.advertise)
                            .num("ctrl1000", p.ctrl1000)
                            .text())
        .raw("link", link.text());
    if (sim::sfp_module() == SFP_COPPER) {
        j.raw("phy", JsonObject()
                         .num("bmcr", sim::phy_peek(MII_BMCR))
                         .num("bmsr", sim::phy_peek(MII_BMSR))
                         .num("advertise", sim::phy_peek(MII_ADVERTISE))
                         .num("lpa", sim::phy_peek(MII_LPA))
                         .num("ctrl1000", sim::phy_peek(MII_CTRL1000))
                         .num("stat1000", sim::phy_peek(MII_STAT1000))
                         .text());
    }
    j.num("link_events", static_cast<long long>(sim::link_events().size())).print();
}

int cmd_eth_status(const Args &) {
    const sim::LinkState s = sim::link_state();
    const sim::LinkPartner p = sim::link_partner();
    if (json()) {
        print_eth_status_json(s, p);
        return 0;
    }
    std::printf("module %s (monitor: %s), driver %s\n", module_name(sim::sfp_module()),
                module_name(sfp_mon_get_module_type()),
                sim::eth_driver_initialised() ? "started" : "not started");
    std::printf("partner %s, %s, advertise 0x%04x, 1000BASE-T control 0x%04x\n",
                p.connected ? "connected" : "disconnected",
                p.autoneg ? "autonegotiating" : "forced", p.advertise, p.ctrl1000);
    if (s.up) {
        std::printf("link up %d Mbit/s %s duplex%s, pause tx %d rx %d\n", s.speed,
                    s.full_duplex ? "full" : "half",
                    s.speed == 1000 ? (s.master ? ", master" : ", slave") : "", s.tx_pause,
                    s.rx_pause);
    } else {
        std::printf("link down%s\n",
                    s.master_slave_fault ? " (master/slave configuration fault)" : "");
    }
    if (sim::sfp_module() == SFP_COPPER) {
        std::printf(
            "PHY: BMCR 0x%04x BMSR 0x%04x ADV 0x%04x LPA 0x%04x CTRL1000 0x%04x "
            "STAT1000 0x%04x\n",
            sim::phy_peek(MII_BMCR), sim::phy_peek(MII_BMSR), sim::phy_peek(MII_ADVERTISE),
            sim::phy_peek(MII_LPA), sim::phy_peek(MII_CTRL1000), sim::phy_peek(MII_STAT1000));
    }
    std::printf("link events raised: %zu\n", sim::link_events().size());
    return 0;
}

// The shell's own commands, behind the interpreter's.
constexpr Command kOwnCommands[] = {
    {"pmap-init", 0, 0, "", "initialise the port map", cmd_pmap_init},
    {"pmap-update", 2, 2, "HWPORT EPSPORT", "map (>0), unmap (<0) a hardware port",
     cmd_pmap_update},
    {"synce-cap", 2, 2, "HWPORT CAP", "store a port's SyncE capability bits (0..7)", cmd_synce_cap},
    {"synce-finish", 0, 0, "", "end the SyncE capability initialisation phase", cmd_synce_finish},
    {"sfp-plug", 1, 1, "copper|fibre|error", "plug a module into the SFP cage", cmd_sfp_plug},
    {"sfp-pull", 0, 0, "", "pull the module out of the SFP cage", cmd_sfp_pull},
    {"link", 1, 1, "up|down", "raise or drop the link at the far end", cmd_link},
    {"partner", 1, 4, "auto [ADV [C1000]] | forced SPEED full|half [C1000]",
     "set the link partner's abilities", cmd_partner},
    {"eth-status", 0, 0, "", "show the cage, the partner, the link and the PHY", cmd_eth_status},
};

template <size_t... I>
constexpr auto make_commands(std::index_sequence<I...>) {
    constexpr auto cli = [](const CliCommand &c, int (*run)(const Args &)) {
        return Command{c.name, c.args, c.args, c.usage, c.help, run};
    };
    std::array<Command, sizeof...(I) + std::size(kOwnCommands)> table{
        cli(kCliCommands[I], run_cli<I>)...};
    std::copy(std::begin(kOwnCommands), std::end(kOwnCommands), table.begin() + sizeof...(I));
    return table;
}

constexpr auto kCommands = make_commands(std::make_index_sequence<std::size(kCliCommands)>());

}  // namespace

std::span<const Command> eth_commands() {
    return kCommands;
}

}  // namespace bsp::shell
