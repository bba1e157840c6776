// The simulated NOR flash behind the MTD character device "/dev/mtd0". It behaves as the
// kernel's mtdchar driver over a NOR chip: reads and writes at the file position, short at
// the end of the device (a write that starts at the end fails with ENOSPC, a seek past it
// with EINVAL); a write can only clear bits; MEMERASE sets whole sectors to 0xFF and refuses
// a range that is not sector-aligned or leaves the device (EINVAL) or a descriptor opened
// read-only (EPERM); MEMGETINFO, MEMGETREGIONCOUNT and MEMGETREGIONINFO report the geometry.
#ifndef BSP_SIM_MTD_H
#define BSP_SIM_MTD_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bsp::sim {

struct FlashGeometry {
    uint32_t size = 8u << 20;        // 8 MiB
    uint32_t erasesize = 64u << 10;  // 64 KiB sectors
    uint32_t erase_regions = 0;      // reported by MEMGETREGIONCOUNT
};

constexpr const char *kFlashPath = "/dev/mtd0";

// Replaces the flash with an erased one of this geometry (tests; the default unit has the
// default geometry). In the shell the contents live in the state folder as "flash.bin".
void configure_flash(const FlashGeometry &geometry);
FlashGeometry flash_geometry();

// Behind the driver's back: raw contents, no NOR rules.
std::vector<uint8_t> flash_peek(uint32_t offset, uint32_t count);
void flash_poke(uint32_t offset, std::span<const uint8_t> bytes);

// What reached the chip, oldest first: "read 0x10000 16", "write 0x10000 4",
// "erase 0x10000 65536".
std::vector<std::string> flash_ops();
void clear_flash_ops();

}  // namespace bsp::sim

#endif
