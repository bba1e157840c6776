// Shell commands that look at the simulated storage chips behind the library's back: dumps
// of the EEPROM and flash images, the I2C buses with their chips, and the bus message log.
#include <bsp_sim/i2c.h>
#include <bsp_sim/mtd.h>

#include <cstdio>

#include "json.h"
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr uint32_t kEepromBytes = sim::EepromChip::kSize;

int cmd_e2prom_dump(const Args &args) {
    uint32_t address = 0;
    uint32_t length = 256;
    if ((!args.empty() && !parse_range(args[0], 0, kEepromBytes - 1, "ADDR", &address)) ||
        (args.size() > 1 && !parse_range(args[1], 0, kEepromBytes, "LEN", &length))) {
        return 1;
    }
    std::vector<uint8_t> data = sim::eeprom_chip()->peek(address, length);
    print_hex_dump(data.data(), data.size(), address);
    return 0;
}

int cmd_flash_dump(const Args &args) {
    uint32_t address = 0;
    uint32_t length = 256;
    if (!parse_u32(args[0], &address) ||
        (args.size() > 1 && !parse_range(args[1], 0, kMaxReadBytes, "LEN", &length))) {
        return 1;
    }
    std::vector<uint8_t> data = sim::flash_peek(address, length);
    print_hex_dump(data.data(), data.size(), address);
    return 0;
}

int cmd_i2c_chips(const Args &) {
    for (int bus : sim::i2c_buses()) {
        std::printf("/dev/i2c-%d:", bus);
        for (uint8_t addr : sim::i2c_chip_addresses(bus)) {
            std::printf(" 0x%02x", addr);
        }
        std::printf("\n");
    }
    return 0;
}

int cmd_i2c_log(const Args &args) {
    int bus = 1;
    if (!args.empty() && !parse_int(args[0], &bus)) {
        return 1;
    }
    std::vector<std::string> lines = sim::i2c_log_text(bus);
    if (json()) {
        std::vector<std::string> items;
        for (const std::string &line : lines) {
            items.push_back(json_string(line));
        }
        JsonObject().num("bus", bus).raw("messages", json_array(items)).print();
        return 0;
    }
    for (const std::string &line : lines) {
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

constexpr Command kCommands[] = {
    {"e2prom-dump", 0, 2, "[ADDR [LEN]]", "hex dump of the EEPROM chip (LEN <= 16384)",
     cmd_e2prom_dump},
    {"flash-dump", 1, 2, "ADDR [LEN]", "hex dump of the flash chip (LEN <= 65536)", cmd_flash_dump},
    {"i2c-chips", 0, 0, "", "list the simulated I2C buses and chips", cmd_i2c_chips},
    {"i2c-log", 0, 1, "[BUS]", "show the messages on a bus", cmd_i2c_log},
};

}  // namespace

std::span<const Command> storage_sim_commands() {
    return kCommands;
}

}  // namespace bsp::shell
