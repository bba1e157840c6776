// Named FPGA register images of the unit, with and without the 1588 blocks (RTC, RL TSU,
// SFP TSU) and the SEIS block, and the image a fresh unit starts with. In the shell the
// FPGA is kept between runs: a warm start finds the registers as they were left, a cold
// start reloads the image loaded last.
#include <array>
#include <fstream>
#include <mutex>
#include <string_view>
#include <utility>

#include "bsp_sim/board.h"
#include "bsp_sim/fpga.h"
#include "bsp_sim/state.h"
#include "bsp_sim/sync.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

const char *const kImage1588Seis = "vanta-1588-seis";
const char *const kImage1588Seis2 = "vanta-1588-seis2";
const char *const kImage1588 = "vanta-1588";
const char *const kImageSeis = "vanta-seis";
const char *const kImagePlain = "vanta-plain";

namespace {

// A version string is 22 characters in 11 registers; the block's major revision character
// is the 18th (the low byte of the 9th register).
constexpr size_t kVerChars = 22;
constexpr size_t kRevIndex = 17;

constexpr std::string_view kVanta1588 = "VANTA KV7B 4.18 R2 b03";
constexpr std::string_view kVantaNo1588 = "VANTA KV7B 3.07 R1 b11";
constexpr std::string_view kRtc = "RTC-1588 v2.04  R3 a07";
constexpr std::string_view kRlTsu = "RL-TSU   v1.12  R2 c15";
constexpr std::string_view kSfpTsu = "SFP-TSU  v1.12  R2 c15";
static_assert(kVanta1588.size() == kVerChars && kVanta1588[kRevIndex] == '2');
static_assert(kVantaNo1588.size() == kVerChars && kVantaNo1588[kRevIndex] == '1');
static_assert(kRtc.size() == kVerChars && kRlTsu.size() == kVerChars &&
              kSfpTsu.size() == kVerChars);

struct VersionBlock {
    uint32_t address;
    uint32_t stride;
};
constexpr VersionBlock kVantaVersion{0x00000, 2};
constexpr VersionBlock kRtcVersion{0x51000, 4};
constexpr VersionBlock kRlTsuVersion{0x52000, 4};
constexpr VersionBlock kSfpTsuVersion{0x53000, 4};

// SEIS block reset values.
constexpr uint32_t kNoOfLinks = 0x30100;
constexpr uint32_t kTxpllIntValNew = 0x30124;
constexpr uint32_t kLinkBase = 0x32000;
constexpr uint32_t kLinkStride = 0x100;
constexpr uint16_t kTxpllIntValReset = 0x1f40;
constexpr uint16_t kLinkCfgReset = 0x0080;       // rxclk_25m
constexpr uint16_t kLinkQlTdmReset = 0x000f;     // QL-DNU/QL-DUS
constexpr uint16_t kLinkEgrQlTdmReset = 0x000b;  // QL-SEC: the unit's own oscillator
constexpr uint16_t kLinkEgrQlIgfpReset = 0x000f;

struct ImageSpec {
    const char *const *name;
    bool has_1588;
    int seis_links;
};

constexpr std::array<ImageSpec, 5> kImages{{
    {&kImage1588Seis, true, 1},
    {&kImage1588Seis2, true, 2},
    {&kImage1588, true, 0},
    {&kImageSeis, false, 1},
    {&kImagePlain, false, 0},
}};

const char *const kImageNameFile = "fpga-image";
const char *const kRegistersFile = "fpga-registers";

std::mutex &current_mutex() {
    return immortal<std::mutex, struct CurrentMutexTag>();
}

std::string &current() {
    return immortal<std::string, struct CurrentTag>();
}

void put_version(VersionBlock block, std::string_view text) {
    for (uint32_t i = 0; i < kVerChars / 2; ++i) {
        auto hi = static_cast<uint8_t>(text[2 * i]);
        auto lo = static_cast<uint8_t>(text[2 * i + 1]);
        fpga_poke(FpgaWidth::W16, block.address + block.stride * i,
                  static_cast<uint32_t>(hi << 8 | lo));
    }
}

void put_seis_block(int links) {
    fpga_poke(FpgaWidth::W16, kNoOfLinks, static_cast<uint32_t>(links));
    if (links == 0) {
        return;
    }
    fpga_poke(FpgaWidth::W16, kTxpllIntValNew, kTxpllIntValReset);
    for (int n = 0; n < links; ++n) {
        uint32_t base = kLinkBase + kLinkStride * static_cast<uint32_t>(n);
        fpga_poke(FpgaWidth::W16, base + 0x00, kLinkCfgReset);
        fpga_poke(FpgaWidth::W16, base + 0x10, kLinkQlTdmReset);
        fpga_poke(FpgaWidth::W16, base + 0x14, kLinkEgrQlTdmReset);
        fpga_poke(FpgaWidth::W16, base + 0x1c, kLinkEgrQlIgfpReset);
    }
}

void remember(const char *name) {
    std::lock_guard lock(current_mutex());
    current() = name;
    if (persistent()) {
        std::ofstream(state_path(kImageNameFile), std::ios::trunc) << name << '\n';
    }
}

// Loading an image is loading a new FPGA: every register starts from its reset value.
void load_spec(const ImageSpec &spec) {
    fpga_clear_registers();
    put_version(kVantaVersion, spec.has_1588 ? kVanta1588 : kVantaNo1588);
    if (spec.has_1588) {
        put_version(kRtcVersion, kRtc);
        put_version(kRlTsuVersion, kRlTsu);
        put_version(kSfpTsuVersion, kSfpTsu);
    }
    put_seis_block(spec.seis_links);
    remember(*spec.name);
}

template <size_t I>
void load_image_n() {
    load_spec(kImages[I]);
}

template <size_t... I>
void register_images(std::index_sequence<I...>) {
    (fpga_add_image(*kImages[I].name, load_image_n<I>), ...);
}

std::string persisted_image_name() {
    std::ifstream in(state_path(kImageNameFile));
    std::string name;
    if (persistent() && in >> name) {
        for (const ImageSpec &spec : kImages) {
            if (name == *spec.name) {
                return name;
            }
        }
    }
    return kImage1588Seis;
}

void reset_images() {
    register_images(std::make_index_sequence<kImages.size()>());
    std::string name = persisted_image_name();
    if (persistent() && reset_type() != BSP_RESET_TYPE_COLD &&
        fpga_load(state_path(kRegistersFile))) {
        std::lock_guard lock(current_mutex());
        current() = name;
        return;
    }
    fpga_load_image(name);
}

const ResetHook reset_hook{reset_images};

}  // namespace

SyncVersions image_versions(const std::string &image) {
    for (const ImageSpec &spec : kImages) {
        if (image == *spec.name) {
            if (!spec.has_1588) {
                return {std::string(kVantaNo1588), "", "", ""};
            }
            return {std::string(kVanta1588), std::string(kRtc), std::string(kRlTsu),
                    std::string(kSfpTsu)};
        }
    }
    return {};
}

std::string current_fpga_image() {
    std::lock_guard lock(current_mutex());
    return current();
}

void save_fpga_state() {
    if (persistent()) {
        fpga_save(state_path(kRegistersFile));
    }
}

}  // namespace bsp::sim
