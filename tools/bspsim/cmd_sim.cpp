// Shell commands of the board services the library leans on (simulated in both builds): FPGA
// registers, board description, log levels, reset type of the next start; and sleep and echo.
#include <bsp_sim/sim.h>

#include <cstdio>
#include <cstring>

#include "json.h"
#include "shell.h"
#include "start.h"

namespace bsp::shell {

namespace {

bool parse_width(const std::string &word, sim::FpgaWidth *width) {
    if (!parse_choice(word, {"16", "32"}, "the register width")) {
        return false;
    }
    *width = word == "16" ? sim::FpgaWidth::W16 : sim::FpgaWidth::W32;
    return true;
}

int cmd_fpga_read(const Args &args) {
    sim::FpgaWidth width;
    uint32_t address = 0;
    uint32_t count = 1;
    if (!parse_width(args[0], &width) || !parse_u32(args[1], &address) ||
        (args.size() > 2 && !parse_range(args[2], 1, kMaxReadCount, "COUNT", &count))) {
        return 1;
    }
    for (uint32_t i = 0; i < count && !interrupted(); ++i) {
        uint32_t a = address + i;
        uint32_t v = sim::fpga_peek(width, a);
        std::printf(width == sim::FpgaWidth::W16 ? "0x%08x: 0x%04x\n" : "0x%08x: 0x%08x\n", a, v);
    }
    return 0;
}

int cmd_fpga_write(const Args &args) {
    sim::FpgaWidth width;
    uint32_t address = 0;
    uint32_t value = 0;
    if (!parse_width(args[0], &width) || !parse_u32(args[1], &address) ||
        !parse_range(args[2], 0, width == sim::FpgaWidth::W16 ? 0xffff : UINT32_MAX,
                     "a register value of this width", &value)) {
        return 1;
    }
    sim::fpga_poke(width, address, value);
    return 0;
}

int cmd_fpga_image(const Args &args) {
    if (args.empty()) {
        for (const std::string &name : sim::fpga_image_names()) {
            std::printf("%s\n", name.c_str());
        }
        return 0;
    }
    if (!sim::fpga_load_image(args[0])) {
        return fail("no such FPGA image: %s (fpga-image lists them)", args[0].c_str());
    }
    return 0;
}

std::string json_ints(const INT *values, int n) {
    std::vector<std::string> items;
    for (int i = 0; i < n; ++i) {
        items.push_back(std::to_string(values[i]));
    }
    return json_array(items);
}

void print_board_json(const kvu_hal_board_t &b) {
    JsonObject()
        .num("max_hw_port", b.max_hw_port)
        .num("lan_ports", b.lan_ports)
        .num("wan_ports", b.wan_ports)
        .num("sfp_ports", b.sfp_ports)
        .num("enabled_ports", b.enabled_ports)
        .raw("hw_port_of_entry", json_ints(b.hw_port_of_entry, KVU_HAL_PORT_ENTRIES))
        .raw("entry_of_hw_port", json_ints(b.entry_of_hw_port, KVU_HAL_HW_PORTS))
        .raw("mii_addr_of_entry", json_ints(b.mii_addr_of_entry, KVU_HAL_PORT_ENTRIES))
        .raw("lan_port_of_entry", json_ints(b.lan_port_of_entry, KVU_HAL_PORT_ENTRIES))
        .raw("seis_link_of_entry", json_ints(b.seis_link_of_entry, KVU_HAL_PORT_ENTRIES))
        .raw("cp_num_of_entry", json_ints(b.cp_num_of_entry, KVU_HAL_PORT_ENTRIES))
        .print();
}

void print_row(const char *label, const INT *values, int n) {
    std::printf("%-22s", label);
    for (int i = 0; i < n; ++i) {
        std::printf(" %4d", static_cast<int>(values[i]));
    }
    std::printf("\n");
}

int cmd_board(const Args &args) {
    if (!args.empty() && !sim::load_board_preset(args[0])) {
        std::string have;
        for (const std::string &n : sim::board_preset_names()) {
            have += " " + n;
        }
        return fail("no such board preset: %s (have:%s)", args[0].c_str(), have.c_str());
    }
    kvu_hal_board_t b = sim::board();
    if (json()) {
        print_board_json(b);
        return 0;
    }
    std::printf("highest hw port       %4d\n", static_cast<int>(b.max_hw_port));
    std::printf("LAN/WAN/SFP ports     %4d %4d %4d\n", static_cast<int>(b.lan_ports),
                static_cast<int>(b.wan_ports), static_cast<int>(b.sfp_ports));
    std::printf("enabled ports         0x%x\n", static_cast<unsigned>(b.enabled_ports));
    print_row("hw port of entry", b.hw_port_of_entry, KVU_HAL_PORT_ENTRIES);
    print_row("entry of hw port", b.entry_of_hw_port, KVU_HAL_HW_PORTS);
    print_row("MII address of entry", b.mii_addr_of_entry, KVU_HAL_PORT_ENTRIES);
    print_row("LAN port of entry", b.lan_port_of_entry, KVU_HAL_PORT_ENTRIES);
    print_row("SEIS link of entry", b.seis_link_of_entry, KVU_HAL_PORT_ENTRIES);
    print_row("CP number of entry", b.cp_num_of_entry, KVU_HAL_PORT_ENTRIES);
    return 0;
}

int cmd_log_level(const Args &args) {
    if (args.empty()) {
        for (const sim::LogModule &m : sim::log_modules()) {
            std::printf("%-10s %d\n", m.name, sim::log_level(m.index));
        }
        return 0;
    }
    int level = 0;
    if (args.size() < 2) {
        return fail("usage: log MODULE|all LEVEL");
    }
    if (!parse_range(args[1], -1, 2,
                     "the log level (-1 silent, 0 and 1 errors and events, 2 tracing)", &level)) {
        return 1;
    }
    if (args[0] == "all") {
        sim::set_all_log_levels(level);
        return 0;
    }
    for (const sim::LogModule &m : sim::log_modules()) {
        if (args[0] == m.name) {
            sim::set_log_level(m.index, level);
            return 0;
        }
    }
    return fail("no such log module: %s (log lists them)", args[0].c_str());
}

int cmd_reset_type(const Args &args) {
    if (!args.empty()) {
        uint32_t type = 0;
        if (args[0] == "cold" || args[0] == "warm") {
            type = args[0] == "cold" ? BSP_RESET_TYPE_COLD : 2;
        } else if (!parse_range(args[0], 0, UINT32_MAX, "the reset type (cold, warm or N)",
                                &type)) {
            return 1;
        }
        sim::set_reset_type(type);
    }
    uint32_t t = sim::reset_type();
    std::printf("reset type %u (%s)\n", t, t == BSP_RESET_TYPE_COLD ? "cold" : "warm");
    return 0;
}

int cmd_sleep(const Args &args) {
    uint32_t ms = 0;
    if (!parse_range(args[0], 0, 3600000, "MS", &ms)) {
        return 1;
    }
    return pause_ms(ms) ? 0 : fail("interrupted");
}

int cmd_echo(const Args &args) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::printf("%s%s", i ? " " : "", args[i].c_str());
    }
    std::printf("\n");
    return 0;
}

constexpr Command kCommands[] = {
    {"fpga-read", 2, 3, "16|32 ADDR [COUNT]", "show FPGA registers (COUNT at most 4096)",
     cmd_fpga_read},
    {"fpga-write", 3, 3, "16|32 ADDR VALUE", "set an FPGA register", cmd_fpga_write},
    {"fpga-image", 0, 1, "[NAME]", "load an FPGA register image, or list them", cmd_fpga_image},
    {"board", 0, 1, "[PRESET]", "show the board description, or load a preset", cmd_board},
    {"log", 0, 2, "[MODULE|all LEVEL]", "show or set debug log levels (-1..2)", cmd_log_level},
    {"reset-type", 0, 1, "[cold|warm|N]", "show or set the reset type of the start",
     cmd_reset_type},
    {"sleep", 1, 1, "MS", "wait in real time (at most 3600000; Ctrl-C ends it)", cmd_sleep},
    {"echo", 0, -1, "[WORDS]", "print the words", cmd_echo},
};

}  // namespace

void keep_fpga_registers() {
    std::string registers = sim::state_path("fpga-registers");
    sim::fpga_load(registers);
    at_shell_exit([registers] { sim::fpga_save(registers); });
}

std::span<const Command> sim_commands() {
    return kCommands;
}

}  // namespace bsp::shell
