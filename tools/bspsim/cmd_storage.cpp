// Shell commands of the storage families: the inventory EEPROM (device access and layout),
// the flash, and I2C chip access, as the library reaches them on any unit.
#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/i2cdev.h>

#include <cstdio>

#include "json.h"
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr uint32_t kEepromBytes = 16384;

// Numbers of the narrower unsigned C types, refused out of their range.
template <typename T>
bool parse_as(const std::string &word, const char *what, T *value) {
    return parse_range(word, 0, static_cast<T>(~T{0}), what, value);
}

// "result -12 (no such data item in the area)": a call's code with its meaning.
int report(const char *call, int result) {
    std::printf("result %d%s\n", result, result_meaning(call, result).c_str());
    return result == 0 ? 0 : fail("%s = %d", call, result);
}

// ---- EEPROM -------------------------------------------------------------------------------

int cmd_e2prom_probe(const Args &) {
    return report("e2prom_i2c_addr_find", e2prom_i2c_addr_find());
}

int cmd_e2prom_reset(const Args &) {
    return report("e2prom_reset", e2prom_reset());
}

int cmd_e2prom_format(const Args &) {
    return report("e2prom_init", e2prom_init());
}

int cmd_e2prom_area(const Args &args) {
    UINT8 id = 0;
    UINT16 size = 0;
    if (!parse_as(args[0], "ID", &id) || !parse_as(args[1], "SIZE", &size)) {
        return 1;
    }
    return report("e2prom_area_init", e2prom_area_init(id, size));
}

int cmd_e2prom_put(const Args &args) {
    UINT8 area = 0;
    UINT16 id = 0;
    std::vector<uint8_t> bytes;
    if (!parse_as(args[0], "AREA", &area) || !parse_as(args[1], "ID", &id) ||
        !parse_bytes(args[2], &bytes)) {
        return 1;
    }
    if (bytes.size() > kEepromBytes) {
        return fail("at most %u bytes fit the EEPROM", kEepromBytes);
    }
    return report("e2prom_data_write",
                  e2prom_data_write(area, id, static_cast<UINT16>(bytes.size()), bytes.data()));
}

int cmd_e2prom_get(const Args &args) {
    UINT8 area = 0;
    UINT16 id = 0;
    UINT16 size = 0;
    if (!parse_as(args[0], "AREA", &area) || !parse_as(args[1], "ID", &id)) {
        return 1;
    }
    INT rc = e2prom_get_data_size(area, id, &size);
    if (rc != 0) {
        return report("e2prom_get_data_size", rc);
    }
    std::vector<uint8_t> data(size);
    rc = e2prom_data_read(area, id, data.data());
    print_hex_dump(data.data(), data.size(), 0);
    return report("e2prom_data_read", rc);
}

// One size query: its line (or JSON field) and whether the next may follow.
bool show_size(const char *what, const char *call, UINT16 size, INT rc, JsonObject *j) {
    if (json()) {
        rc == 0 ? j->num(what, size) : j->num(what, rc);
    } else if (rc == 0) {
        std::printf("%s %u\n", what, size);
    } else {
        std::printf("%s: result %d%s\n", what, rc, result_meaning(call, rc).c_str());
    }
    return rc == 0 || refuse("%s = %d", call, rc);
}

int cmd_e2prom_sizes(const Args &args) {
    UINT8 area = 0;
    UINT16 id = 0;
    if ((!args.empty() && !parse_as(args[0], "AREA", &area)) ||
        (args.size() > 1 && !parse_as(args[1], "ID", &id))) {
        return 1;
    }
    // Each size is read before it is shown: an argument list does not order the call that
    // fills `size` before the argument that passes it on (32-bit ARM passes the stale value).
    JsonObject j;
    UINT16 size = 0;
    INT rc = e2prom_get_header_size(&size);
    bool ok = show_size("header size", "e2prom_get_header_size", size, rc, &j);
    if (ok && !args.empty()) {
        rc = e2prom_get_area_header_size(area, &size);
        ok = show_size("area header size", "e2prom_get_area_header_size", size, rc, &j);
    }
    if (ok && args.size() > 1) {
        rc = e2prom_get_data_size(area, id, &size);
        ok = show_size("item size", "e2prom_get_data_size", size, rc, &j);
    }
    if (json()) {
        j.print();
    }
    return ok ? 0 : 1;
}

int cmd_e2prom_read(const Args &args) {
    UINT16 address = 0;
    UINT16 length = 0;
    if (!parse_as(args[0], "ADDR", &address) ||
        !parse_range(args[1], 0, kEepromBytes, "LEN", &length)) {
        return 1;
    }
    std::vector<uint8_t> data(length);
    INT n = e2prom_read(address, data.data(), length);
    print_hex_dump(data.data(), static_cast<size_t>(n > 0 ? n : 0), address);
    std::printf("%d bytes read\n", n);
    return n == length ? 0 : fail("e2prom_read = %d of %u bytes", n, length);
}

int cmd_e2prom_write(const Args &args) {
    UINT16 address = 0;
    std::vector<uint8_t> bytes;
    if (!parse_as(args[0], "ADDR", &address) || !parse_bytes(args[1], &bytes)) {
        return 1;
    }
    if (bytes.size() > kEepromBytes) {
        return fail("at most %u bytes fit the EEPROM", kEepromBytes);
    }
    INT n = e2prom_write(address, bytes.data(), static_cast<UINT16>(bytes.size()));
    std::printf("%d bytes written\n", n);
    return n == static_cast<INT>(bytes.size())
               ? 0
               : fail("e2prom_write = %d of %zu bytes", n, bytes.size());
}

// ---- flash --------------------------------------------------------------------------------

// The flash is opened on the first flash command and closed when the shell ends.
bool flash_ready() {
    static bool created = false;
    if (!created) {
        if (FlashCreate() != 0) {
            return refuse("FlashCreate = 1");
        }
        created = true;
        at_shell_exit([] { FlashDelete(); });
    }
    return true;
}

int cmd_flash_info(const Args &) {
    UINT32 base = 0, size = 0, sectors = 0, sector_base = 0, sector_size = 0;
    if (!flash_ready() || FlashGetInfo(&base, &size, &sectors) != 0 ||
        FlashGetSectorInfo(0, &sector_base, &sector_size) != 0) {
        return fail("FlashGetInfo or FlashGetSectorInfo = 1");
    }
    if (json()) {
        JsonObject()
            .num("base", base)
            .num("size", size)
            .num("sectors", sectors)
            .num("sector_size", sector_size)
            .print();
        return 0;
    }
    std::printf("base 0x%08x size %u sectors %u of %u bytes\n", base, size, sectors, sector_size);
    return 0;
}

int cmd_flash_read(const Args &args) {
    uint32_t address = 0;
    uint32_t length = 0;
    if (!parse_u32(args[0], &address) || !parse_range(args[1], 0, kMaxReadBytes, "LEN", &length) ||
        !flash_ready()) {
        return 1;
    }
    std::vector<uint8_t> data(length);
    if (FlashRead(address, data.data(), length) != 0) {
        return fail("FlashRead = 1: the range passes the end of the flash, or the device failed");
    }
    print_hex_dump(data.data(), data.size(), address);
    return 0;
}

int cmd_flash_write(const Args &args) {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
    if (!parse_u32(args[0], &address) || !parse_bytes(args[1], &bytes) || !flash_ready()) {
        return 1;
    }
    if (FlashWrite(bytes.data(), address, static_cast<UINT32>(bytes.size())) != 0) {
        return fail("FlashWrite = 1: the range passes the end of the flash, or the device failed");
    }
    return 0;
}

int cmd_flash_erase(const Args &args) {
    uint32_t sector = 0;
    if (!parse_u32(args[0], &sector) || !flash_ready()) {
        return 1;
    }
    if (FlashEraseSector(sector) != 0) {
        return fail("FlashEraseSector = 1: no such sector, or the device failed");
    }
    return 0;
}

// ---- I2C ----------------------------------------------------------------------------------

// BUS CHIP DATA_ADDR ADDR_LEN: the leading arguments of the buffer commands.
struct Target {
    int bus = 0;
    int chip = 0;
    UINT16 data_addr = 0;
    UINT8 addr_len = 0;
};

bool parse_target(const Args &args, Target *t) {
    return parse_int(args[0], &t->bus) && parse_int(args[1], &t->chip) &&
           parse_as(args[2], "DADDR", &t->data_addr) && parse_as(args[3], "DLEN", &t->addr_len);
}

int cmd_i2c_read(const Args &args) {
    Target t;
    UINT16 length = 0;
    UINT16 block = 0;
    if (!parse_target(args, &t) || !parse_as(args[4], "LEN", &length) ||
        (args.size() > 5 && !parse_as(args[5], "BLOCK", &block))) {
        return 1;
    }
    std::vector<uint8_t> data(length);
    int n = i2c_read_buf(t.bus, t.chip, t.data_addr, t.addr_len, data.data(), length, block);
    print_hex_dump(data.data(), static_cast<size_t>(n > 0 ? n : 0), t.data_addr);
    return report("i2c_read_buf", n == length ? 0 : n);
}

int cmd_i2c_write(const Args &args) {
    Target t;
    std::vector<uint8_t> bytes;
    UINT16 block = 0;
    if (!parse_target(args, &t) || !parse_bytes(args[4], &bytes) ||
        (args.size() > 5 && !parse_as(args[5], "BLOCK", &block))) {
        return 1;
    }
    if (bytes.empty() || bytes.size() > 0xffff) {
        return fail("BYTES are 1..65535 bytes");
    }
    int n = i2c_write_buf(t.bus, t.chip, t.data_addr, t.addr_len, bytes.data(),
                          static_cast<UINT16>(bytes.size()), block);
    return report("i2c_write_buf", n == static_cast<int>(bytes.size()) ? 0 : n);
}

int cmd_i2c_reg_read(const Args &args) {
    int bus = 0, chip = 0;
    UINT8 reg = 0, addr_len = 1;
    if (!parse_int(args[0], &bus) || !parse_int(args[1], &chip) ||
        !parse_as(args[2], "REG", &reg) ||
        (args.size() > 3 && !parse_as(args[3], "DLEN", &addr_len))) {
        return 1;
    }
    std::printf("0x%02x\n", i2c_read_reg(bus, chip, reg, addr_len));
    return 0;
}

int cmd_i2c_reg_write(const Args &args) {
    int bus = 0, chip = 0;
    UINT8 reg = 0, value = 0, addr_len = 1;
    if (!parse_int(args[0], &bus) || !parse_int(args[1], &chip) ||
        !parse_as(args[2], "REG", &reg) || !parse_as(args[3], "VALUE", &value) ||
        (args.size() > 4 && !parse_as(args[4], "DLEN", &addr_len))) {
        return 1;
    }
    return report("i2c_write_reg", i2c_write_reg(bus, chip, reg, addr_len, value));
}

int cmd_sfp_phy_read(const Args &args) {
    UINT8 reg = 0;
    UINT16 value = 0;
    if (!parse_as(args[0], "REG", &reg)) {
        return 1;
    }
    int rc = i2c_read_sfp_phy(0, reg, &value);
    if (rc == 0) {
        std::printf("0x%04x\n", value);
    }
    return report("i2c_read_sfp_phy", rc);
}

int cmd_sfp_phy_write(const Args &args) {
    UINT8 reg = 0;
    UINT16 value = 0;
    if (!parse_as(args[0], "REG", &reg) || !parse_as(args[1], "VALUE", &value)) {
        return 1;
    }
    return report("i2c_write_sfp_phy", i2c_write_sfp_phy(0, reg, value));
}

constexpr Command kCommands[] = {
    {"e2prom-probe", 0, 0, "", "find the EEPROM on bus 1", cmd_e2prom_probe},
    {"e2prom-reset", 0, 0, "", "write 0xFF over the whole EEPROM", cmd_e2prom_reset},
    {"e2prom-format", 0, 0, "", "write the empty EEPROM header", cmd_e2prom_format},
    {"e2prom-area", 2, 2, "ID SIZE", "create an EEPROM area", cmd_e2prom_area},
    {"e2prom-put", 3, 3, "AREA ID BYTES", "write an EEPROM data item", cmd_e2prom_put},
    {"e2prom-get", 2, 2, "AREA ID", "read and check an EEPROM data item", cmd_e2prom_get},
    {"e2prom-sizes", 0, 2, "[AREA [ID]]", "header, area header and item sizes", cmd_e2prom_sizes},
    {"e2prom-read", 2, 2, "ADDR LEN", "read EEPROM bytes through the library (LEN <= 16384)",
     cmd_e2prom_read},
    {"e2prom-write", 2, 2, "ADDR BYTES", "write EEPROM bytes through the library",
     cmd_e2prom_write},
    {"flash-info", 0, 0, "", "flash geometry", cmd_flash_info},
    {"flash-read", 2, 2, "ADDR LEN", "read flash bytes (LEN <= 65536)", cmd_flash_read},
    {"flash-write", 2, 2, "ADDR BYTES", "write flash bytes (NOR: clears bits only)",
     cmd_flash_write},
    {"flash-erase", 1, 1, "SECTOR", "erase one flash sector", cmd_flash_erase},
    {"i2c-read", 5, 6, "BUS CHIP DADDR DLEN LEN [BLOCK]", "read a chip's buffer", cmd_i2c_read},
    {"i2c-write", 5, 6, "BUS CHIP DADDR DLEN BYTES [BLOCK]", "write a chip's buffer",
     cmd_i2c_write},
    {"i2c-reg-read", 3, 4, "BUS CHIP REG [DLEN]", "read one chip register", cmd_i2c_reg_read},
    {"i2c-reg-write", 4, 5, "BUS CHIP REG VALUE [DLEN]", "write one chip register",
     cmd_i2c_reg_write},
    {"sfp-phy-read", 1, 1, "REG", "read an SFP PHY register", cmd_sfp_phy_read},
    {"sfp-phy-write", 2, 2, "REG VALUE", "write an SFP PHY register", cmd_sfp_phy_write},
};

}  // namespace

std::span<const Command> storage_commands() {
    return kCommands;
}

}  // namespace bsp::shell
