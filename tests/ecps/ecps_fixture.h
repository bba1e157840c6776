// Fixture and helpers of the 1588 tests: a fresh unit with the default FPGA image, the
// register writes and log lines of the 1588 family.
#ifndef BSP_TESTS_ECPS_FIXTURE_H
#define BSP_TESTS_ECPS_FIXTURE_H

#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

using sim::FpgaAccess;
using sim::FpgaWidth;

inline FpgaAccess w32(uint32_t address, uint32_t value, uint32_t mask = 0xFFFFFFFFu) {
    return {FpgaAccess::Write, FpgaWidth::W32, address, value, mask};
}

inline FpgaAccess w16(uint32_t address, uint32_t value) {
    return {FpgaAccess::Write, FpgaWidth::W16, address, value, 0xFFFF};
}

// The register writes since the last clear, and the 1588 log lines since the last clear.
inline std::vector<FpgaAccess> writes() {
    return sim::fpga_writes();
}

inline std::vector<std::string> log_lines_1588() {
    std::vector<std::string> lines;
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == DBG_1588_INDEX) {
            lines.push_back(r.text);
        }
    }
    return lines;
}

inline bool logged_1588(const std::string &text, uint32_t level = 2) {
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == DBG_1588_INDEX && r.text == text && r.level == level) {
            return true;
        }
    }
    return false;
}

class EcpsTest : public SimTest {
  protected:
    // Starts the family with the given reset type, then forgets the start's accesses and log.
    void start(uint32_t reset_type = BSP_RESET_TYPE_COLD) {
        sim::set_reset_type(reset_type);
        ASSERT_EQ(ecps_init(), 0);
        clear();
    }

    static void clear() {
        sim::fpga_clear_log();
        sim::clear_log();
    }

    static void set_vanta_rev(char rev) {
        uint32_t word = sim::fpga_peek(FpgaWidth::W16, 0x10);
        sim::fpga_poke(FpgaWidth::W16, 0x10, (word & 0xFF00u) | static_cast<uint8_t>(rev));
    }

    static uint32_t reg32(uint32_t address) { return sim::fpga_peek(FpgaWidth::W32, address); }
};

}  // namespace bsp::test

#endif
