// Fixture and helpers of the SEIS tests: a fresh unit with the port map started, the
// register writes and the SEIS log lines.
#ifndef BSP_TESTS_SEIS_FIXTURE_H
#define BSP_TESTS_SEIS_FIXTURE_H

#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

using sim::FpgaAccess;
using sim::FpgaWidth;

inline FpgaAccess w16(uint32_t address, uint32_t value) {
    return {FpgaAccess::Write, FpgaWidth::W16, address, value, 0xFFFF};
}

inline std::vector<std::string> log_lines(uint32_t module) {
    std::vector<std::string> lines;
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == module) {
            lines.push_back(r.text);
        }
    }
    return lines;
}

inline bool logged_seis(const std::string &text, uint32_t level) {
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == DBG_SEIS_INDEX && r.text == text && r.level == level) {
            return true;
        }
    }
    return false;
}

// The addresses of the register accesses since the last clear (reads only: `reads_only`).
inline std::vector<uint32_t> accessed(bool reads_only = false) {
    std::vector<uint32_t> out;
    for (const FpgaAccess &a : sim::fpga_log()) {
        if (!reads_only || a.kind == FpgaAccess::Read) {
            out.push_back(a.address);
        }
    }
    return out;
}

// Runs seis_cmd with the command name and `args` into `out` of `len` bytes; returns its result.
inline int run_seis(const std::vector<std::string> &args, int len, char *out,
                    const char *name = "seis") {
    std::vector<std::string> words{name};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    return seis_cmd(static_cast<int>(argv.size()), argv.data(), len, out);
}

// Runs seis_cmd with the given arguments after the command name into a large buffer.
inline std::string seis(const std::vector<std::string> &args, const char *name = "seis") {
    std::vector<char> out(2048, '\x7f');
    EXPECT_EQ(run_seis(args, static_cast<int>(out.size()), out.data(), name), 0);
    return out.data();
}

class SeisTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ehsl_pmap_init();
        sim::clear_log();
    }

    // Starts the family on the given image and reset type, then forgets the start's
    // accesses and log.
    void start(const char *image, uint32_t reset_type = BSP_RESET_TYPE_COLD) {
        ASSERT_TRUE(sim::fpga_load_image(image));
        sim::set_reset_type(reset_type);
        ASSERT_EQ(init_seis(), 0);
        clear();
    }

    static void clear() {
        sim::fpga_clear_log();
        sim::clear_log();
    }

    static uint32_t reg16(uint32_t address) { return sim::fpga_peek(FpgaWidth::W16, address); }
    static void poke16(uint32_t address, uint32_t v) { sim::fpga_poke(FpgaWidth::W16, address, v); }
};

}  // namespace bsp::test

#endif
