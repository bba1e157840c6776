// SEIS link handling (detection, cold and warm starts, the port handlers) and the "seis"
// debug-shell command (status table, raw form, usage text, bounded output).
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <gmock/gmock.h>

#include <cstring>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using sim::FpgaAccess;
using sim::FpgaWidth;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Args = std::vector<std::string>;

FpgaAccess w16(uint32_t address, uint32_t value) {
    return {FpgaAccess::Write, FpgaWidth::W16, address, value, 0xFFFF};
}

// A family's messages as "level:text".
std::vector<std::string> log_lines(uint32_t module = DBG_SEIS_INDEX) {
    std::vector<std::string> lines;
    for (const sim::LogRecord &r : sim::log_records()) {
        if (r.module == module) {
            lines.push_back(std::to_string(r.level) + ":" + r.text);
        }
    }
    return lines;
}

// The addresses of the register accesses since the last clear (reads only: `reads_only`).
std::vector<uint32_t> accessed(bool reads_only = false) {
    std::vector<uint32_t> out;
    for (const FpgaAccess &a : sim::fpga_log()) {
        if (!reads_only || a.kind == FpgaAccess::Read) {
            out.push_back(a.address);
        }
    }
    return out;
}

// What seis_cmd writes for the command name `name` and `args` into a buffer of `len` bytes.
std::string seis(const Args &args, const char *name = "seis", int len = 2048) {
    Args words{name};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    std::vector<char> out(2048, '\x7f');
    EXPECT_EQ(seis_cmd(static_cast<int>(argv.size()), argv.data(), len, out.data()), 0);
    return out.data();
}

std::string usage(const std::string &name) {
    return "Usage: " + name +
           " [-h] [-r] [-v]\nDisplay SEIS status.\n\nOptions:\n  -h  Print this help text.\n"
           "  -r  Raw output (register values in hexadecimal notation).\n  -v  Verbose "
           "output.\n";
}

const char *const kStatusHeader =
    "SEIS Status:\n"
    "HW-  |        |Ingress              |Egress               |PHY    |\n"
    "port |Enabled |SSM                  |SSM                  |Mode   |\n"
    "-------------------------------------------------------------------\n";
const char *const kNoSeis = "ERROR: No SEIS module in the FPGA.\n";

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
    static void poke16(uint32_t address, uint32_t v) { sim::fpga_poke(FpgaWidth::W16, address, v); }
};

TEST_F(SeisTest, ColdStartDetectsTheLinkAndInitialisesIt) {
    sim::set_reset_type(BSP_RESET_TYPE_COLD);
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);  // fresh unit: one link, serving the SFP cage (port 3)
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x30120, 1), w16(0x32000, 0x0000),
                                                w16(0x32010, 0x0006), w16(0x3201c, 0x002f)));
    EXPECT_THAT(accessed(true), ElementsAre(0x30100u, 0x32000u, 0x3201cu, 0x32010u));
    EXPECT_THAT(
        log_lines(),
        ElementsAre("2:SEIS: Found module supporting 1 links\n",
                    "2:SEIS: seis_detect_modules - hw_port = 3 is  PMAP_SYNCE_HW_SUPPORT \n",
                    "2:SEIS: Main process successfully started.\n"));
    EXPECT_THAT(log_lines(DBG_EHSL_PMAP_INDEX),
                ElementsAre(HasSubstr("hw_port = 3 -  capability = 0x1 ")));
    clear();
    EXPECT_EQ(seis({}), std::string(kStatusHeader) +
                            " 3    no       QL-FAILED             dnu=0 QL-SEC           Bi-dir\n");
    EXPECT_THAT(accessed(), ElementsAre(0x32020u, 0x32014u, 0x3201cu, 0x32000u));
}

// Too many links or no SEIS block: no link is set up, every handler refuses every port, and
// the command prints its error (but still its usage).
TEST_F(SeisTest, WithoutUsableLinksEveryPortIsIllegal) {
    poke16(0x30100, 3);
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    EXPECT_THAT(log_lines(),
                ElementsAre("1:SEIS: ERROR: too many links supported by module supporting 3 "
                            "links (MAX=2)\n",
                            "2:SEIS: Main process successfully started.\n"));
    EXPECT_THAT(log_lines(DBG_EHSL_PMAP_INDEX), IsEmpty());
    EXPECT_EQ(seis({"-r"}), kNoSeis);
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588));
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    int cap = -1;
    ASSERT_EQ(ehsl_pmap_synce_cap_get(1, &cap), 0);  // the capability phase is over: no wait
    for (int port = -1; port <= 4; ++port) {
        EXPECT_EQ(seis_handle_enable_port(port), -1);
        EXPECT_EQ(seis_handle_disable_port(port), -1);
        EXPECT_EQ(seis_handle_set_eth_mode(port, 0, 1), -1);
    }
    sim::raise_port_link_event(3, true, 100);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x30120, 1)));
    for (const char *line : {"enable_port() ERROR: SSM_ENABLE_PORT: illegal hardware port 4\n",
                             "disable_port() ERROR: SSM_DISABLE_PORT: illegal hardware port -1\n",
                             "set_eth_mode() ERROR: SSM_SET_ETH_MODE: illegal hardware port 0\n",
                             "link_up() ERROR: SSM_LINK_UP: illegal hardware port 3\n"}) {
        EXPECT_THAT(log_lines(), Contains(std::string("1:SEIS: seis_handle_") + line));
    }
    EXPECT_EQ(seis({}), kNoSeis);
    EXPECT_EQ(seis({"-h"}), usage("seis"));
}

TEST_F(SeisTest, WarmStartTakesTheLinkStateOver) {
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588Seis));
    poke16(0x32000, 0x0025);
    poke16(0x32010, 0x0003);
    sim::set_reset_type(2);
    sim::fpga_clear_log();
    ASSERT_EQ(init_seis(), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x30120, 1)));
    EXPECT_THAT(seis({}),
                HasSubstr("\n 3    yes      QL-FAILED             dnu=0 QL-SEC           -?-\n"));
    clear();
    EXPECT_EQ(seis_handle_enable_port(3), 0);  // already enabled
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    ASSERT_EQ(seis_handle_set_eth_mode(3, 0, 0), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32000, 0x0001), w16(0x32010, 0x0003)));
}

struct RoleCase {
    const char *name;
    int master;
    int slave;
    uint32_t before;  // LINK_CFG before the role is set
    uint32_t after;
    uint32_t tdm;
    uint32_t enabled_cfg;  // LINK_CFG and LINK_ING_QL_TDM written by the enable
    uint32_t enabled_tdm;
};

class SeisRole : public SeisTest, public ::testing::WithParamInterface<RoleCase> {};

const std::string kMode = "2:SEIS: seis_handle_set_eth_mode() SSM_SET_ETH_MODE(3, ";

// The role changes only its bits; enabling programs the link for it, once; disabling clears it.
// The handlers log what they are asked.
TEST_P(SeisRole, SetEnableAndDisable) {
    start(sim::kImage1588Seis);
    const RoleCase &c = GetParam();
    poke16(0x32000, c.before);
    ASSERT_EQ(seis_handle_set_eth_mode(3, c.master, c.slave), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32000, c.after), w16(0x32010, c.tdm)));
    EXPECT_THAT(log_lines(), ElementsAre(kMode + c.name + ")\n"));
    clear();
    ASSERT_EQ(seis_handle_enable_port(3), 0);
    ASSERT_EQ(seis_handle_enable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(),
                ElementsAre(w16(0x32000, c.enabled_cfg), w16(0x32010, c.enabled_tdm)));
    EXPECT_THAT(log_lines(), Contains("2:SEIS: seis_handle_enable_port() SSM_ENABLE_PORT(3)\n"));
    clear();
    ASSERT_EQ(seis_handle_disable_port(3), 0);
    ASSERT_EQ(seis_handle_disable_port(3), 0);
    EXPECT_THAT(sim::fpga_writes(), ElementsAre(w16(0x32000, 0x0000), w16(0x32010, 0x0006)));
    EXPECT_THAT(log_lines(), Contains("2:SEIS: seis_handle_disable_port() SSM_DISABLE_PORT(3)\n"));
}

INSTANTIATE_TEST_SUITE_P(Roles, SeisRole,
                         ::testing::Values(RoleCase{"Master", 1, 0, 0x21, 0x05, 0xf, 0x05, 0xf},
                                           RoleCase{"Slave", 0, 7, 0x05, 0x21, 0x6, 0x21, 0x6},
                                           RoleCase{"Bidirectional", 0, 0, 0xa5, 0x81, 0x6, 0x01,
                                                    0x6}));

// Both roles at once are refused with their error, and the role stays.
TEST_F(SeisTest, BothRolesAtOnceAreRefused) {
    start(sim::kImage1588Seis);
    ASSERT_EQ(seis_handle_set_eth_mode(3, 1, 0), 0);
    clear();
    EXPECT_EQ(seis_handle_set_eth_mode(3, 1, 1), -1);
    EXPECT_THAT(sim::fpga_writes(), IsEmpty());
    EXPECT_THAT(log_lines(), ElementsAre(kMode + "<illegal>)\n",
                                         "1:SEIS: seis_handle_set_eth_mode() ERROR: "
                                         "SSM_SET_ETH_MODE: illegal PHY mode (both Master and "
                                         "Slave set) for hardware port 3\n"));
    EXPECT_THAT(seis({}), HasSubstr("Master\n"));
}

// ---- the command ----

// Two SyncE links on a two-cage board (only six bits of the link count count): port 3 (link 0)
// a master, enabled and up, its far end sending QL-SSU-A; port 2 (link 1) a slave, not enabled,
// whose link-up writes only its own register (link 0 also has its state register).
TEST_F(SeisTest, TwoLinksStatusTableAndRawRegisters) {
    ASSERT_TRUE(sim::load_board_preset("two-sfp"));
    start(sim::kImage1588Seis2);
    poke16(0x30100, 0x0042);
    ASSERT_EQ(init_seis(), 0);
    EXPECT_THAT(log_lines(), Contains("2:SEIS: Found module supporting 2 links\n"));
    ASSERT_EQ(seis_handle_set_eth_mode(3, 1, 0), 0);
    ASSERT_EQ(seis_handle_enable_port(3), 0);
    ASSERT_EQ(seis_handle_set_eth_mode(2, 0, 1), 0);
    sim::seis_set_far_end_ql(0, 4);
    sim::raise_port_link_event(3, true, 1000);
    sim::wait_link_events_delivered();
    std::string expected = std::string(kStatusHeader) +
                           " 3    yes      QL-SSU-A/QL-TNC       dnu=0 QL-SEC           Master\n"
                           " 2    no       QL-FAILED             dnu=1 QL-SEC           Slave\n";
    EXPECT_EQ(seis({}), expected);
    EXPECT_EQ(seis({"-v"}), expected);
    clear();
    EXPECT_EQ(
        seis({"-r"}),
        "SEIS Wrapper @ 0x00030000\n"
        "   NO_OF_LINKS:           66\n"
        "   TXPLL_CFG:           0x01\n"
        "   TXPLL_STAT:          0x01\n"
        "   TXPLL_INT_VAL_NEW: 0x1f40\n"
        "   TXPLL_INT_VAL:     0x1f40\n"
        "HW  LINK_CFG    LINK_ING_QL_TDM  LINK_ING_QL_IGFP  LINK_ING_QL_SEIS  LINK_EGR_QL_TDM\n"
        " 3  0x00000005  0x0000000f       0x00000000        0x00000004        0x0000000b\n"
        " 2  0x00000020  0x00000006       0x00000000        0x00000006        0x0000000b\n");
    EXPECT_THAT(accessed(), ElementsAre(0x30100u, 0x30120u, 0x30124u, 0x30128u, 0x3012cu, 0x32000u,
                                        0x32010u, 0x32014u, 0x32018u, 0x32020u, 0x32100u, 0x32110u,
                                        0x32114u, 0x32118u, 0x32120u));
    clear();
    sim::raise_port_link_event(3, false, 0);
    sim::raise_port_link_event(3, true, 1000);
    sim::raise_port_link_event(2, false, 0);
    sim::raise_port_link_event(2, true, 1000);
    sim::wait_link_events_delivered();
    EXPECT_THAT(sim::fpga_writes(),
                ElementsAre(w16(0x0033c, 0), w16(0x3200c, 1), w16(0x0033c, 1), w16(0x3210c, 1)));
    EXPECT_THAT(log_lines(), Contains("2:SEIS: seis_handle_link_up() SSM_LINK_UP(3)\n"));
}

// With software DNU on, the DNU flag comes from the IGFP register and the SSM's upper bits are
// ignored. Each argument is one option; "-h" or anything unknown gives the usage text. The output
// is cut to the buffer (every length is the text writer's own test's); no buffer, a negative length
// or missing arguments are no harm.
TEST_F(SeisTest, DnuColumnOptionsAndBuffers) {
    start(sim::kImage1588Seis);
    poke16(0x32014, 0x0020 | 15);  // TDM egress: dnu, QL-DNU
    poke16(0x3201c, 0x0000);
    EXPECT_THAT(seis({}), HasSubstr("dnu=1 QL-DNU/QL-DUS    "));
    poke16(0x32000, 0x0020);
    poke16(0x32014, 0x0030);
    EXPECT_THAT(seis({}), HasSubstr("dnu=0 QL-STU           "));
    EXPECT_EQ(seis({"-v", "-r"}), seis({"-r"}));
    for (const Args &args : {Args{"-r", "-x"}, Args{"-rv"}, Args{""}}) {
        EXPECT_EQ(seis(args, "seis-x"), usage("seis-x"));
    }
    EXPECT_EQ(seis({"-r"}, "seis", 10), "SEIS Wrap");
    char out[400];
    char *argv[] = {const_cast<char *>("seis"), nullptr};
    EXPECT_EQ(seis_cmd(1, argv, 500, nullptr), 0);
    char c = 'x';
    EXPECT_EQ(seis_cmd(1, argv, -3, &c), 0);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(seis_cmd(0, nullptr, sizeof out, out), 0);
    EXPECT_THAT(out, ::testing::StartsWith(kStatusHeader));
    EXPECT_EQ(seis_cmd(2, argv, sizeof out, out), 0);  // a missing argument is no option
    EXPECT_EQ(std::string(out), usage("seis"));
}

}  // namespace
}  // namespace bsp::test
