// Diagnostic printouts of the board's port configuration, the stub record and the port map,
// and the command interpreter that runs one named port operation.
#include <bsp_ctrl/ehsl_pmap.h>

#include <cstdio>
#include <cstring>

#include "ehsl_pmap_internal.h"
#include "ehsl_port_internal.h"

namespace bsp::port {

namespace {

void print_stub_row(const char *label, const int (&field)[3]) {
    std::printf("|  %s|  %4d     |    %4d    | \n", label, field[0], field[1]);
}

void print_pmap_row(const char *label, int port1, int port2) {
    std::printf("|  %s|   %10d      |    %10d    | \n", label, port1, port2);
}

// ---- commands: each runs one operation and prints its result or error line ----

void report(int r, const char *error) {
    if (r < 0) {
        std::puts(error);
    }
}

void cmd_port_init(int, int) {
    ehsl_port_init();
}
void cmd_port_conf(int, int) {
    kvu_hal_cmd();
}
void cmd_stub_conf(int, int) {
    kvu_stub_cmd();
}
void cmd_pmap_conf(int, int) {
    kvu_pmap_cmd();
}

void cmd_operstatus_set(int port, int value) {
    report(ehsl_port_oper_status_set(port, value), "Error in Operstatus set");
}

void cmd_operstatus_get(int port, int) {
    int status = -1;
    if (ehsl_port_link_status_get(port, &status) < 0) {
        std::puts("Error in admin status get");
        return;
    }
    std::printf("Oper status port %d  %s\n", port, status != 0 ? "up" : "down");
}

void cmd_adminstatus_set(int port, int value) {
    report(ehsl_port_adminstatus_set(port, value), "Error in admin status set");
}

void cmd_adminstatus_get(int port, int) {
    int status = -1;
    if (ehsl_port_adminstatus_get(port, &status) < 0) {
        std::puts("Error in admin status get");
        return;
    }
    std::printf("Admin status %s\n", status != 0 ? "up" : "down");
}

void cmd_speed_set(int port, int value) {
    report(ehsl_port_speed_set(port, value), "Error in speed set");
}

void cmd_speed_get(int port, int) {
    int speed = 0;
    if (ehsl_port_speed_get(port, &speed) < 0) {
        std::puts("Error reading port speed");
        return;
    }
    std::printf("Speed %d Mbit/s\n", speed);
}

void cmd_link_status(int port, int) {
    int link = 0;
    if (ehsl_port_link_status_get(port, &link) < 0) {
        std::puts("Error reading Link status");
        return;
    }
    std::printf("Link status %s\n", link != 0 ? "UP" : "DOWN");
}

void cmd_mdix_set(int port, int value) {
    report(ehsl_port_mdix_set(port, static_cast<ehsl_port_mdix_t>(value)), "Error in mdix set");
}

void cmd_mdix_get(int port, int) {
    ehsl_port_mdix_t mode = EHSL_PORT_MDIX_AUTO;
    if (ehsl_port_mdix_get(port, &mode) < 0) {
        std::puts("Error reading mdix config status");
        return;
    }
    std::printf("mdix %d\n", static_cast<int>(mode));
}

void cmd_duplex_set(int port, int value) {
    report(ehsl_port_duplex_set(port, static_cast<ehsl_port_cfg_t>(value)), "Error in duplex set");
}

void cmd_duplex_get(int port, int) {
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_FD;
    if (ehsl_port_duplex_get(port, &duplex) < 0) {
        std::puts("Error reading duplex config status");
        return;
    }
    std::printf("duplex %d\n", static_cast<int>(duplex));
}

void cmd_config_get(int port, int) {
    int autoneg = 0;
    ehsl_port_cfg_t speed = static_cast<ehsl_port_cfg_t>(1);
    ehsl_port_cfg_t duplex = static_cast<ehsl_port_cfg_t>(1);
    if (ehsl_port_config_get(port, &autoneg, &speed, &duplex) < 0) {
        std::puts("Error reading config status");
        return;
    }
    std::printf("Config status autoneg=%d, speed=%d, duplex=%d\n", autoneg, static_cast<int>(speed),
                static_cast<int>(duplex));
}

void cmd_config_set(int port, int value) {
    report(ehsl_port_config_set(port, static_cast<ehsl_port_cfg_t>(value)), "Error in config set");
}

// The operator's value: 0 automatic, 1 master, anything else slave.
void cmd_master_set(int port, int value) {
    const int code = value == 0 ? kMasterAuto : value == 1 ? kMasterMaster : kMasterSlave;
    report(ehsl_port_master_set(port, code), "Error in config set");
}

void cmd_autoneg_get(int port, int) {
    int autoneg = 0;
    if (ehsl_port_autoneg_get(port, &autoneg) < 0) {
        std::puts("Error reading autoneg");
        return;
    }
    std::printf("Autoneg: %s\n", autoneg != 0 ? "ON" : "OFF");
}

void cmd_autoneg_set(int port, int value) {
    report(ehsl_port_autoneg_set(port, value), "Error in autoneg set");
}

void cmd_supported_speeds(int port, int) {
    unsigned char b[4] = {0, 0, 0, 0};
    if (ehsl_port_supported_speeds_get(port, b, sizeof b) < 0) {
        std::puts("Error reading supported speeds");
        return;
    }
    std::printf("Supported speeds: %02x%02x%02x%02x/s\n", b[0], b[1], b[2], b[3]);
}

struct CliCommand {
    const char *name;
    void (*run)(int port, int value);
};

constexpr CliCommand kCliCommands[] = {
    {"port_init", cmd_port_init},
    {"port_conf", cmd_port_conf},
    {"stub_conf", cmd_stub_conf},
    {"pmap_conf", cmd_pmap_conf},
    {"Operstatus_set", cmd_operstatus_set},
    {"Operstatus_get", cmd_operstatus_get},
    {"adminstatus_set", cmd_adminstatus_set},
    {"adminstatus_get", cmd_adminstatus_get},
    {"speed_set", cmd_speed_set},
    {"speed_get", cmd_speed_get},
    {"link_status", cmd_link_status},
    {"mdix_set", cmd_mdix_set},
    {"mdix_get", cmd_mdix_get},
    {"duplex_set", cmd_duplex_set},
    {"duplex_get", cmd_duplex_get},
    {"config_get", cmd_config_get},
    {"config_set", cmd_config_set},
    {"master_set", cmd_master_set},
    {"autoneg_get", cmd_autoneg_get},
    {"autoneg_set", cmd_autoneg_set},
    {"supported_speeds", cmd_supported_speeds},
};

}  // namespace

}  // namespace bsp::port

using namespace bsp::port;

extern "C" {

BSP_API int kvu_hal_cmd(void) {
    std::puts("OXU HAL: Board specific configuration");
    std::printf("Num lan ports:     %d\n", kvu_hal_get()->lan_ports);
    std::printf("Num wan ports:     %d\n", kvu_hal_get()->wan_ports);
    std::printf("Num SFP ports:     %d\n\n", kvu_hal_get()->sfp_ports);
    std::printf("Enabled ports:     0x%08x (bitmap)\n\n",
                static_cast<unsigned>(kvu_hal_get()->enabled_ports));
    std::puts("Port : MIIaddr : LAN port# : CP#");
    for (int i = 0; i < KVU_HAL_PORT_ENTRIES; ++i) {
        const int mii = kvu_hal_get()->mii_addr_of_entry[i];
        const int lan = kvu_hal_get()->lan_port_of_entry[i];
        const int cp = kvu_hal_get()->cp_num_of_entry[i];
        std::printf(" %02d     %02d        %02d          %02d\n", i, mii, lan, cp);
    }
    return 0;
}

// Before ehsl_port_init the record has not been published yet; its values are shown anyway.
BSP_API int kvu_stub_cmd(void) {
    const kvu_stub &s = kvu_info != nullptr ? *kvu_info : stub_record();
    std::puts("--------------------------------------");
    std::puts("|   INFO       | port_1    |  port_2   | ");
    std::puts("-------------------------------------");
    print_stub_row("OperStatus  ", s.oper_status);
    print_stub_row("AdminStatus ", s.adminstatus);
    print_stub_row("Speed       ", s.speed_value);
    print_stub_row("Auto        ", s.autoneg_value);
    print_stub_row("TxPause     ", s.pause_tx_value);
    print_stub_row("RxPause     ", s.pause_rx_value);
    print_stub_row("Sfp         ", s.num_sfp);
    print_stub_row("Duplex      ", s.duplex_value);
    print_stub_row("Mode        ", s.mode_value);
    std::puts("--------------------------------------");
    return 0;
}

BSP_API int kvu_pmap_cmd(void) {
    const bsp::pmap::lan_eps_port_map a = bsp::pmap::pmap_entry(1);
    const bsp::pmap::lan_eps_port_map b = bsp::pmap::pmap_entry(2);
    std::puts("------------------------------------------");
    std::puts("|   INFO       | port_1      |    port_2  | ");
    std::puts("------------------------------------------");
    print_pmap_row("hwPortNum   ", a.hwPortNum, b.hwPortNum);
    print_pmap_row("epsPortNum  ", a.epsPortNum, b.epsPortNum);
    print_pmap_row("linkState   ", a.linkStateReport, b.linkStateReport);
    print_pmap_row("eventSup    ", a.eventSuppress, b.eventSuppress);
    print_pmap_row("wanLink     ", a.wanLinkNum, b.wanLinkNum);
    print_pmap_row("llSpeed     ", a.llSpeed, b.llSpeed);
    print_pmap_row("mac         ", a.mac[0], b.mac[0]);
    std::puts("------------------------------------------ ");
    return 0;
}

BSP_API int cli_cmd(int /*phy*/, int port, void *cmd_name, int value) {
    if (cmd_name == nullptr) {
        return 0;
    }
    const char *name = static_cast<const char *>(cmd_name);
    for (const CliCommand &c : kCliCommands) {
        if (std::strcmp(name, c.name) == 0) {
            c.run(port, value);
            break;
        }
    }
    return 0;
}

}  // extern "C"
