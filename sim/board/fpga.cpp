// The FPGA register file: two register spaces (16-bit behind vanta_*, 32-bit behind
// vanta2_*), an ordered access log, block-model hooks and named register images.
#include "bsp_sim/fpga.h"

#include <bsp_ctrl/platform/bsp_board.h>

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "bsp_sim/state.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

struct HookRange {
    FpgaWidth width;
    uint32_t first;
    uint32_t last;
};

struct Fpga {
    std::recursive_mutex mutex;  // hooks may poke registers while an access runs
    std::map<uint32_t, uint16_t> regs16;
    std::map<uint32_t, uint32_t> regs32;
    std::vector<FpgaAccess> log;
    std::vector<std::pair<HookRange, FpgaWriteHook>> write_hooks;
    std::vector<std::pair<HookRange, FpgaReadHook>> read_hooks;
    std::map<std::string, FpgaImageLoader> images;
};

Fpga &fpga() {
    return immortal<Fpga>();
}

bool in_range(const HookRange &r, FpgaWidth w, uint32_t a) {
    return r.width == w && a >= r.first && a <= r.last;
}

void reset_fpga() {
    std::lock_guard lock(fpga().mutex);
    fpga().regs16.clear();
    fpga().regs32.clear();
    fpga().log.clear();
    fpga().write_hooks.clear();
    fpga().read_hooks.clear();
}

const ResetHook reset_hook{reset_fpga, kCorePhase};

uint32_t read_access(FpgaWidth w, uint32_t address, uint32_t mask) {
    std::lock_guard lock(fpga().mutex);
    for (auto &[range, hook] : fpga().read_hooks) {
        if (in_range(range, w, address)) {
            hook(address);
        }
    }
    uint32_t v = fpga_peek(w, address) & mask;
    fpga().log.push_back({FpgaAccess::Read, w, address, v, mask});
    return v;
}

void write_access(FpgaWidth w, uint32_t address, uint32_t value, uint32_t mask) {
    std::lock_guard lock(fpga().mutex);
    uint32_t full = w == FpgaWidth::W16 ? 0xFFFFu : 0xFFFFFFFFu;
    uint32_t now = (fpga_peek(w, address) & ~mask) | (value & mask);
    fpga_poke(w, address, now & full);
    fpga().log.push_back({FpgaAccess::Write, w, address, value & full, mask});
    for (auto &[range, hook] : fpga().write_hooks) {
        if (in_range(range, w, address)) {
            hook(address, now & full);
        }
    }
}

}  // namespace

uint32_t fpga_peek(FpgaWidth width, uint32_t address) {
    std::lock_guard lock(fpga().mutex);
    if (width == FpgaWidth::W16) {
        auto it = fpga().regs16.find(address);
        return it == fpga().regs16.end() ? 0 : it->second;
    }
    auto it = fpga().regs32.find(address);
    return it == fpga().regs32.end() ? 0 : it->second;
}

void fpga_poke(FpgaWidth width, uint32_t address, uint32_t value) {
    std::lock_guard lock(fpga().mutex);
    if (width == FpgaWidth::W16) {
        fpga().regs16[address] = static_cast<uint16_t>(value);
    } else {
        fpga().regs32[address] = value;
    }
}

void fpga_clear_registers() {
    std::lock_guard lock(fpga().mutex);
    fpga().regs16.clear();
    fpga().regs32.clear();
}

std::vector<FpgaAccess> fpga_log() {
    std::lock_guard lock(fpga().mutex);
    return fpga().log;
}

void fpga_clear_log() {
    std::lock_guard lock(fpga().mutex);
    fpga().log.clear();
}

std::vector<FpgaAccess> fpga_writes() {
    std::vector<FpgaAccess> out;
    for (const FpgaAccess &a : fpga_log()) {
        if (a.kind == FpgaAccess::Write) {
            out.push_back(a);
        }
    }
    return out;
}

void fpga_on_write(FpgaWidth width, uint32_t first, uint32_t last, FpgaWriteHook hook) {
    std::lock_guard lock(fpga().mutex);
    fpga().write_hooks.push_back({{width, first, last}, std::move(hook)});
}

void fpga_on_read(FpgaWidth width, uint32_t first, uint32_t last, FpgaReadHook hook) {
    std::lock_guard lock(fpga().mutex);
    fpga().read_hooks.push_back({{width, first, last}, std::move(hook)});
}

void fpga_add_image(const std::string &name, FpgaImageLoader loader) {
    std::lock_guard lock(fpga().mutex);
    fpga().images[name] = loader;
}

bool fpga_load_image(const std::string &name) {
    FpgaImageLoader loader = nullptr;
    {
        std::lock_guard lock(fpga().mutex);
        auto it = fpga().images.find(name);
        if (it == fpga().images.end()) {
            return false;
        }
        loader = it->second;
    }
    loader();
    return true;
}

std::vector<std::string> fpga_image_names() {
    std::lock_guard lock(fpga().mutex);
    std::vector<std::string> names;
    for (const auto &[name, loader] : fpga().images) {
        names.push_back(name);
    }
    return names;
}

bool fpga_save(const std::string &path) {
    std::ofstream out(path, std::ios::trunc);
    std::lock_guard lock(fpga().mutex);
    for (const auto &[a, v] : fpga().regs16) {
        out << "16 " << a << ' ' << v << '\n';
    }
    for (const auto &[a, v] : fpga().regs32) {
        out << "32 " << a << ' ' << v << '\n';
    }
    return static_cast<bool>(out);
}

bool fpga_load(const std::string &path) {
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::lock_guard lock(fpga().mutex);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        unsigned width = 0;
        uint32_t address = 0;
        uint32_t value = 0;
        if (words >> width >> address >> value && (width == 16 || width == 32)) {
            fpga_poke(width == 16 ? FpgaWidth::W16 : FpgaWidth::W32, address, value);
        }
    }
    return true;
}

}  // namespace bsp::sim

using namespace bsp::sim;

extern "C" {

int vanta_read(UINT32 address, UINT16 *value) {
    *value = static_cast<UINT16>(read_access(FpgaWidth::W16, address, 0xFFFF));
    return 0;
}

int vanta_write(UINT32 address, UINT16 value) {
    write_access(FpgaWidth::W16, address, value, 0xFFFF);
    return 0;
}

int vanta_read_reg(UINT32 address, UINT16 *value, UINT16 mask) {
    *value = static_cast<UINT16>(read_access(FpgaWidth::W16, address, mask));
    return 0;
}

int vanta2_read32(UINT32 address, UINT32 *value) {
    *value = read_access(FpgaWidth::W32, address, 0xFFFFFFFF);
    return 0;
}

int vanta2_write32(UINT32 address, UINT32 value) {
    write_access(FpgaWidth::W32, address, value, 0xFFFFFFFF);
    return 0;
}

int vanta2_read32_reg(UINT32 address, UINT32 *value, UINT32 mask) {
    *value = read_access(FpgaWidth::W32, address, mask);
    return 0;
}

int vanta2_write32_reg(UINT32 address, UINT32 value, UINT32 mask) {
    write_access(FpgaWidth::W32, address, value, mask);
    return 0;
}

}  // extern "C"
