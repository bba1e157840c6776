// The I2C side of the default unit: bus 1 with the inventory EEPROM at 0x57, the SFP PHY at
// 0x56 and the SFP module's identification EEPROM at 0x50. The inventory EEPROM's contents
// live in "eeprom.bin" of the shell's state folder, so that they survive a restart.
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "bsp_sim/i2c.h"
#include "bsp_sim/unit.h"
#include "devices/i2c_bus.h"
#include "devices/image_file.h"
#include "devices/interpose.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

constexpr int kUnitBus = 1;
constexpr uint8_t kEepromAddr = 0x57;
constexpr uint8_t kSfpPhyAddr = 0x56;
constexpr uint8_t kSfpIdAddr = 0x50;
constexpr size_t kSfpIdSize = 256;
constexpr uint8_t kErased = 0xff;

struct DefaultChips {
    std::mutex mutex;
    std::shared_ptr<EepromChip> eeprom;
    std::shared_ptr<SfpPhyChip> phy;
    std::shared_ptr<RegisterChip> sfp_id;
};

DefaultChips &chips() {
    return immortal<DefaultChips>();
}

std::shared_ptr<EepromChip> make_eeprom() {
    bool fresh = true;
    int fd = open_image("eeprom.bin", EepromChip::kSize, &fresh);
    auto chip = std::make_shared<EepromChip>(fd);
    if (fd >= 0) {
        real_libc().close(fd);
    }
    if (fresh) {
        chip->fill(kErased);
    }
    return chip;
}

// The identification page of an SFP module: identifier (SFP), connector, vendor name.
std::shared_ptr<RegisterChip> make_sfp_id() {
    auto chip = std::make_shared<RegisterChip>(kSfpIdSize, 1);
    const uint8_t head[] = {0x03, 0x04, 0x22};
    chip->poke(0, head);
    const char vendor[] = "BSPSIM          ";
    chip->poke(20, {reinterpret_cast<const uint8_t *>(vendor), 16});
    return chip;
}

void reset_i2c() {
    unbind_eeprom_drivers();
    clear_i2c_buses();
    std::lock_guard lock(chips().mutex);
    chips().eeprom = make_eeprom();
    chips().phy = std::make_shared<SfpPhyChip>();
    chips().sfp_id = make_sfp_id();
    add_i2c_chip(kUnitBus, kEepromAddr, chips().eeprom);
    add_i2c_chip(kUnitBus, kSfpPhyAddr, chips().phy);
    add_i2c_chip(kUnitBus, kSfpIdAddr, chips().sfp_id);
}

const ResetHook reset_hook{reset_i2c};

}  // namespace

std::shared_ptr<EepromChip> eeprom_chip() {
    std::lock_guard lock(chips().mutex);
    return chips().eeprom;
}

std::shared_ptr<SfpPhyChip> sfp_phy_chip() {
    std::lock_guard lock(chips().mutex);
    return chips().phy;
}

std::shared_ptr<RegisterChip> sfp_id_chip() {
    std::lock_guard lock(chips().mutex);
    return chips().sfp_id;
}

}  // namespace bsp::sim
