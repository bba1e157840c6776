// The FPGA register file behind vanta_* (16-bit registers) and vanta2_* (32-bit registers),
// with an ordered access log and hooks for the models of the blocks the library drives.
#ifndef BSP_SIM_FPGA_H
#define BSP_SIM_FPGA_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bsp::sim {

enum class FpgaWidth { W16, W32 };

struct FpgaAccess {
    enum Kind { Read, Write } kind;
    FpgaWidth width;
    uint32_t address;
    uint32_t value;  // value read or written (for masked reads: after the mask)
    uint32_t mask;   // 0xFFFF / 0xFFFFFFFF for whole-register accesses
    bool operator==(const FpgaAccess &) const = default;
};

// Plain register state, without logging or hooks.
uint32_t fpga_peek(FpgaWidth width, uint32_t address);
void fpga_poke(FpgaWidth width, uint32_t address, uint32_t value);
void fpga_clear_registers();

std::vector<FpgaAccess> fpga_log();
void fpga_clear_log();
// Only the writes of the log, in order.
std::vector<FpgaAccess> fpga_writes();

// A model hook: called after every library write to an address in [first, last] of the
// given width with the new register value; it may change registers with fpga_poke.
using FpgaWriteHook = std::function<void(uint32_t address, uint32_t value)>;
void fpga_on_write(FpgaWidth width, uint32_t first, uint32_t last, FpgaWriteHook hook);
// Called before every library read in [first, last]; it may update the register first.
using FpgaReadHook = std::function<void(uint32_t address)>;
void fpga_on_read(FpgaWidth width, uint32_t first, uint32_t last, FpgaReadHook hook);

// Register images: a loader fills registers for an FPGA variant; images register by name.
using FpgaImageLoader = void (*)();
void fpga_add_image(const std::string &name, FpgaImageLoader loader);
bool fpga_load_image(const std::string &name);
std::vector<std::string> fpga_image_names();

// Persistence of the register state as text lines "16|32 address value".
bool fpga_save(const std::string &path);
bool fpga_load(const std::string &path);

}  // namespace bsp::sim

#endif
