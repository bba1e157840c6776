// The "seis" debug-shell command: status table, raw form, usage text, bounded output.
#include <gmock/gmock.h>

#include <cstring>
#include <memory>

#include "seis_fixture.h"

namespace bsp::test {
namespace {

using ::testing::HasSubstr;

const char *const kStatusHeader =
    "SEIS Status:\n"
    "HW-  |        |Ingress              |Egress               |PHY    |\n"
    "port |Enabled |SSM                  |SSM                  |Mode   |\n"
    "-------------------------------------------------------------------\n";

const char *const kRawHeader =
    "HW  LINK_CFG    LINK_ING_QL_TDM  LINK_ING_QL_IGFP  LINK_ING_QL_SEIS  LINK_EGR_QL_TDM\n";

std::string usage(const std::string &name) {
    return "Usage: " + name +
           " [-h] [-r] [-v]\nDisplay SEIS status.\n\nOptions:\n  -h  Print this help text.\n"
           "  -r  Raw output (register values in hexadecimal notation).\n  -v  Verbose "
           "output.\n";
}

class SeisCmd : public SeisTest {
  protected:
    // Two SyncE links: port 3 (link 0) a master, enabled and up, its far end sending
    // QL-SSU-A; port 2 (link 1) a slave, not enabled.
    void two_links() {
        ASSERT_TRUE(sim::load_board_preset("two-sfp"));
        start(sim::kImage1588Seis2);
        ASSERT_EQ(seis_handle_set_eth_mode(3, 1, 0), 0);
        ASSERT_EQ(seis_handle_enable_port(3), 0);
        ASSERT_EQ(seis_handle_set_eth_mode(2, 0, 1), 0);
        sim::seis_set_far_end_ql(0, 4);
        sim::raise_port_link_event(3, true, 1000);
        sim::wait_link_events_delivered();
    }
};

TEST_F(SeisCmd, StatusTable) {
    two_links();
    std::string expected = std::string(kStatusHeader) +
                           " 3    yes      QL-SSU-A/QL-TNC       dnu=0 QL-SEC           Master\n"
                           " 2    no       QL-FAILED             dnu=1 QL-SEC           Slave\n";
    EXPECT_EQ(seis({}), expected);
    EXPECT_EQ(seis({"-v"}), expected);
}

TEST_F(SeisCmd, StatusRowReadsItsRegistersInOrder) {
    start(sim::kImage1588Seis);
    clear();
    seis({});
    EXPECT_THAT(accessed(), ::testing::ElementsAre(0x32020u, 0x32014u, 0x3201cu, 0x32000u));
}

TEST_F(SeisCmd, RawRegisters) {
    two_links();
    clear();
    EXPECT_EQ(
        seis({"-r"}),
        std::string("SEIS Wrapper @ 0x00030000\n"
                    "   NO_OF_LINKS:            2\n"
                    "   TXPLL_CFG:           0x01\n"
                    "   TXPLL_STAT:          0x01\n"
                    "   TXPLL_INT_VAL_NEW: 0x1f40\n"
                    "   TXPLL_INT_VAL:     0x1f40\n") +
            kRawHeader +
            " 3  0x00000005  0x0000000f       0x00000000        0x00000004        0x0000000b\n"
            " 2  0x00000020  0x00000006       0x00000000        0x00000006        0x0000000b\n");
    EXPECT_THAT(accessed(),
                ::testing::ElementsAre(0x30100u, 0x30120u, 0x30124u, 0x30128u, 0x3012cu, 0x32000u,
                                       0x32010u, 0x32014u, 0x32018u, 0x32020u, 0x32100u, 0x32110u,
                                       0x32114u, 0x32118u, 0x32120u));
}

struct OptionCase {
    std::vector<std::string> args;
    const char *expect;  // "usage", "raw" or "status"
};

class SeisOptions : public SeisCmd, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(SeisOptions, ChooseTheOutput) {
    start(sim::kImage1588Seis);
    std::string out = seis(GetParam().args, "seis-x");
    std::string kind = GetParam().expect;
    if (kind == "usage") {
        EXPECT_EQ(out, usage("seis-x"));
    } else if (kind == "raw") {
        EXPECT_THAT(out, ::testing::StartsWith("SEIS Wrapper @ 0x00030000\n"));
    } else {
        EXPECT_THAT(out, ::testing::StartsWith("SEIS Status:\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, SeisOptions,
    ::testing::Values(OptionCase{{}, "status"}, OptionCase{{"-v"}, "status"},
                      OptionCase{{"-r"}, "raw"}, OptionCase{{"-v", "-r"}, "raw"},
                      OptionCase{{"-r", "-v"}, "raw"}, OptionCase{{"-r", "-r"}, "raw"},
                      OptionCase{{"-h"}, "usage"}, OptionCase{{"-r", "-x"}, "usage"},
                      OptionCase{{"-x", "-r"}, "usage"}, OptionCase{{"-rv"}, "usage"},
                      OptionCase{{"r"}, "usage"}, OptionCase{{""}, "usage"},
                      OptionCase{{"-v", "-h", "-r"}, "usage"}));

TEST_F(SeisCmd, NoLinksGiveTheErrorButStillTheUsage) {
    start(sim::kImagePlain);
    EXPECT_EQ(seis({"-r"}), "ERROR: No SEIS module in the FPGA.\n");
    EXPECT_EQ(seis({}), "ERROR: No SEIS module in the FPGA.\n");
    EXPECT_EQ(seis({"-h"}), usage("seis"));
}

TEST_F(SeisCmd, LinkNeverEnabledShowsNoAndBidirectional) {
    start(sim::kImage1588Seis);
    EXPECT_EQ(seis({}), std::string(kStatusHeader) +
                            " 3    no       QL-FAILED             dnu=0 QL-SEC           Bi-dir\n");
}

TEST_F(SeisCmd, DnuComesFromTheIgfpRegisterWhenSoftwareDnuIsOn) {
    start(sim::kImage1588Seis);
    poke16(0x32014, 0x0020 | 15);  // TDM egress: dnu, QL-DNU
    poke16(0x3201c, 0x0000);
    EXPECT_THAT(seis({}), HasSubstr("dnu=1 QL-DNU/QL-DUS    "));
    poke16(0x32000, 0x0020);
    EXPECT_THAT(seis({}), HasSubstr("dnu=0 QL-DNU/QL-DUS    "));
}

class SeisQlNames : public SeisCmd,
                    public ::testing::WithParamInterface<std::pair<int, const char *>> {};

TEST_P(SeisQlNames, ReceivedAndSentQl) {
    start(sim::kImage1588Seis);
    ASSERT_EQ(seis_handle_enable_port(3), 0);
    sim::raise_port_link_event(3, true, 1000);
    sim::wait_link_events_delivered();
    sim::seis_set_far_end_ql(0, static_cast<unsigned>(GetParam().first));
    poke16(0x32014, 0x0030 | static_cast<uint32_t>(GetParam().first));  // upper bits ignored
    char row[128];
    std::snprintf(row, sizeof row, "\n 3    yes      %-20s  dnu=1 %-15s  Bi-dir\n",
                  GetParam().second, GetParam().second);
    EXPECT_THAT(seis({}), HasSubstr(row));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SeisQlNames,
    ::testing::Values(std::pair{0, "QL-STU"}, std::pair{1, "QL-PRS"}, std::pair{2, "QL-PRC"},
                      std::pair{3, "QL-FAILED-NO-HOLDOFF"}, std::pair{4, "QL-SSU-A/QL-TNC"},
                      std::pair{5, "QL-NSUPP"}, std::pair{6, "QL-FAILED"}, std::pair{7, "QL-ST2"},
                      std::pair{8, "QL-SSU-B"}, std::pair{9, "QL-INV"}, std::pair{10, "QL-ST3"},
                      std::pair{11, "QL-SEC"}, std::pair{12, "QL-SMC"}, std::pair{13, "QL-ST3E"},
                      std::pair{14, "QL-PROV"}, std::pair{15, "QL-DNU/QL-DUS"}));

// The widest outputs: 16-bit values in the raw header fields, the longest QL names.
TEST_F(SeisCmd, LargestOutputsHaveTheDocumentedSizes) {
    two_links();
    poke16(0x30100, 0xFFC2);
    poke16(0x30120, 0xFFFF);
    poke16(0x30128, 0xFFFF);
    EXPECT_EQ(seis({"-r"}).size(), 421u);
    for (uint32_t link : {0x32000u, 0x32100u}) {
        poke16(link + 0x14, 3);  // QL-FAILED-NO-HOLDOFF sent
    }
    sim::seis_set_far_end_ql(0, 3);
    ASSERT_EQ(seis_handle_set_eth_mode(2, 1, 0), 0);
    std::string status = seis({});
    EXPECT_THAT(status, HasSubstr("QL-FAILED-NO-HOLDOFF  Master\n"));
    EXPECT_EQ(status.size(), 361u);
}

// Every buffer length from 0 to beyond the full size: the output is the text's prefix,
// terminated, and nothing is written past the buffer (AddressSanitizer watches the heap
// buffer of exactly that size).
TEST_F(SeisCmd, EveryBufferLengthGetsTheTerminatedPrefix) {
    two_links();
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, std::vector<std::string>{"-r"},
          std::vector<std::string>{"-h"}}) {
        const std::string full = seis(args);
        for (size_t len = 0; len <= full.size() + 2; ++len) {
            std::unique_ptr<char[]> buf(new char[len]);
            std::memset(buf.get(), '\x7f', len);
            ASSERT_EQ(run_seis(args, static_cast<int>(len), buf.get()), 0);
            if (len == 0) {
                continue;
            }
            size_t kept = std::min(len - 1, full.size());
            ASSERT_EQ(std::string(buf.get(), kept), full.substr(0, kept)) << "length " << len;
            ASSERT_EQ(buf[kept], '\0') << "length " << len;
        }
    }
}

TEST_F(SeisCmd, NullBufferMissingArgumentsAndNegativeLength) {
    start(sim::kImage1588Seis);
    char *argv[] = {const_cast<char *>("seis"), nullptr};
    EXPECT_EQ(seis_cmd(1, argv, 500, nullptr), 0);
    char c = 'x';
    EXPECT_EQ(seis_cmd(1, argv, -3, &c), 0);
    EXPECT_EQ(c, 'x');
    char out[400];
    EXPECT_EQ(seis_cmd(0, nullptr, sizeof out, out), 0);
    EXPECT_THAT(out, ::testing::StartsWith("SEIS Status:\n"));
    char *bad[] = {const_cast<char *>("seis"), nullptr};
    EXPECT_EQ(seis_cmd(2, bad, sizeof out, out), 0);  // a missing argument is no option
    EXPECT_EQ(std::string(out), usage("seis"));
}

TEST_F(SeisCmd, ExportedCommandTexts) {
    EXPECT_STREQ(seis_synopsis, "seis [-h] [-r] [-v]");
    EXPECT_STREQ(seis_descr, "SEIS Status.");
}

}  // namespace
}  // namespace bsp::test
