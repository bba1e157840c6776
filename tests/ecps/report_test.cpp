// The 1588 status report: exact text, bounded output, version strings.
#include <gmock/gmock.h>

#include <climits>
#include <cstring>
#include <memory>

#include "ecps_fixture.h"

namespace bsp::test {
namespace {

using ::testing::HasSubstr;

std::string report() {
    std::vector<char> buf(2048, '\x7f');
    EXPECT_EQ(ecps_debug_print(static_cast<int>(buf.size()), buf.data()), 0);
    return std::string(buf.data());
}

const char *const kHeaderLines =
    "TSU|ctl|  DefSi|  DefSo|    DelayC|     AsymC|  RLDelayCSi|  RLDelayCSo|      SyncSi|"
    "      SyncSo|     DelaySi|     DelaySo\n"
    "---+---+-------+-------+----------+----------+------------+------------+------------+"
    "------------+------------+-------------\n";

class EcpsReport : public EcpsTest {
  protected:
    // RL TSU and SFP TSU on, bonding on, TELECOM, delay 100, asymmetry 10, shifts 5/7.
    static void configure() {
        ASSERT_EQ(ecps_tsuCtrl_set(1, 0x2), 0);
        ASSERT_EQ(ecps_tsuCtrl_set(3, 0x8), 0);
        ASSERT_EQ(ecps_rlBondingStatus_set(1, RL_BONDING_ENABLED), 0);
        ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
        ASSERT_TRUE(sim::radio_notify_shift(5, 7, 0));
        ASSERT_EQ(ecps_delayComp_set(1, 100), 0);
        ASSERT_EQ(ecps_asymmetryCompensation_set(1, 10), 0);
    }
};

TEST_F(EcpsReport, FullReportText) {
    start();
    configure();
    std::string expected = std::string(
                               "1588 Vanta status, APU version 5\n"
                               "----------------------------------\n"
                               "VANTA version  : VANTA KV7B 4.18 R2 b03\n"
                               "RTC version    : RTC-1588 v2.04  R3 a07\n"
                               "SFP TSU version: SFP-TSU  v1.12  R2 c15\n"
                               "RL  TSU version: RL-TSU   v1.12  R2 c15\n\n"
                               "RTC SRC: 1PPS\n"
                               "RL TSU: 1\n"
                               "SFP TSU: 1\n\n") +
                           kHeaderLines +
                           "RL | ON|      0|      0|       100|        10|           5|"
                           "           7|          95|         -93|         105|        -103\n"
                           "\n"
                           "TSU|RlBnd|ExtEnhRlBnd| OpMode|CellW|TraLm|IdlLm\n"
                           "---+-----+-----------+-------+-----+-----+------\n"
                           "RL |   ON|        OFF|TELECOM|    1|    2|    2\n"
                           "\n";
    EXPECT_EQ(report(), expected);
}

TEST_F(EcpsReport, RegistersAreReadInTheirOrder) {
    start();
    configure();
    clear();
    report();
    std::vector<uint32_t> reads32;
    for (const FpgaAccess &a : sim::fpga_log()) {
        ASSERT_EQ(a.kind, FpgaAccess::Read);
        if (a.width == FpgaWidth::W32) {
            reads32.push_back(a.address);
        }
    }
    EXPECT_THAT(reads32,
                ::testing::ElementsAre(0x510c0u, 0x52900u, 0x53084u, 0x52900u, 0x52100u, 0x52200u,
                                       0x52300u, 0x52400u, 0x52900u, 0x28030u, 0x28034u));
    EXPECT_EQ(sim::fpga_log().size(), 4 * 11 + reads32.size());
}

TEST_F(EcpsReport, QuietUnitWithoutThe1588Blocks) {
    ASSERT_TRUE(sim::fpga_load_image(sim::kImagePlain));
    start();
    EXPECT_EQ(report(), std::string("1588 Vanta status, APU version 0\n"
                                    "----------------------------------\n"
                                    "VANTA version  : VANTA KV7B 3.07 R1 b11\n"
                                    "RTC version    : \n"
                                    "SFP TSU version: \n"
                                    "RL  TSU version: \n\n"
                                    "RTC SRC: T0\n"
                                    "RL TSU: 0\n"
                                    "SFP TSU: 0\n\n") +
                            kHeaderLines +
                            "RL |OFF|      0|      0|         0|         0|           0|"
                            "           0|           0|           0|           0|           0\n"
                            "\n"
                            "TSU|RlBnd|ExtEnhRlBnd| OpMode|CellW|TraLm|IdlLm\n"
                            "---+-----+-----------+-------+-----+-----+------\n"
                            "RL |  OFF|        OFF|  BASIC|    0|    0|    0\n"
                            "\n");
}

TEST_F(EcpsReport, ValuesOutsideTheTablesAndWarmTakeover) {
    sim::fpga_poke(FpgaWidth::W32, 0x52400, static_cast<uint32_t>(-5));
    sim::fpga_poke(FpgaWidth::W32, 0x28030, 0x12345);
    start(2);
    EXPECT_THAT(report(), HasSubstr("|           0|          -5\n"));
    ASSERT_TRUE(sim::radio_notify_shift(1, 1, -3));
    ASSERT_EQ(ecps_tsuCtrl_set(1, 2), 0);
    ASSERT_EQ(ecps_rlBondingStatus_set(1, 9), 0);
    EXPECT_THAT(report(), HasSubstr("RL |   ON|         ON|TELECOM|    1|    2|    2\n"));
    ASSERT_EQ(ecps_delayCompOperMode_set(1, 42), 0);
    EXPECT_THAT(report(), HasSubstr("|     42|"));
    ASSERT_EQ(ecps_delayCompOperMode_set(1, INT_MIN), 0);
    EXPECT_THAT(report(), HasSubstr("|      ?|"));
}

// All numeric fields at their widest: the documented bound of 797 characters holds.
TEST_F(EcpsReport, LargestReportIs797Characters) {
    start();
    ecps_apu_version_set(1, INT_MIN);
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    ASSERT_TRUE(sim::radio_notify_shift(INT_MIN + 2, INT_MIN + 3, 1));
    ASSERT_EQ(ecps_delayComp_set(1, INT_MIN), 0);
    ASSERT_EQ(ecps_asymmetryCompensation_set(1, 0x80000000u), 0);
    for (uint32_t reg : {0x52100u, 0x52200u, 0x52300u, 0x52400u}) {
        sim::fpga_poke(FpgaWidth::W32, reg, 0x80000000u);
    }
    sim::fpga_poke(FpgaWidth::W32, 0x28030, 0xFFFF);
    sim::fpga_poke(FpgaWidth::W32, 0x28034, 0xFFFF);
    EXPECT_EQ(report().size(), 797u);
}

// Every buffer length from 0 to beyond the full size: the output is the report's prefix,
// terminated, and nothing is written past the buffer (AddressSanitizer watches the heap
// buffer of exactly that size).
TEST_F(EcpsReport, EveryBufferLengthGetsTheTerminatedPrefix) {
    start();
    configure();
    const std::string full = report();
    for (size_t len = 0; len <= full.size() + 2; ++len) {
        std::unique_ptr<char[]> buf(new char[len]);
        std::memset(buf.get(), '\x7f', len);
        ASSERT_EQ(ecps_debug_print(static_cast<int>(len), buf.get()), 0);
        if (len == 0) {
            continue;
        }
        size_t kept = std::min(len - 1, full.size());
        ASSERT_EQ(std::string(buf.get(), kept), full.substr(0, kept)) << "length " << len;
        ASSERT_EQ(buf[kept], '\0') << "length " << len;
    }
}

TEST_F(EcpsReport, NullBufferAndNegativeLengthWriteNothing) {
    start();
    EXPECT_EQ(ecps_debug_print(800, nullptr), 0);
    char c = 'x';
    EXPECT_EQ(ecps_debug_print(-1, &c), 0);
    EXPECT_EQ(c, 'x');
}

TEST_F(EcpsTest, VersionStringsReadTwoCharactersPerRegister) {
    for (uint32_t i = 0; i < 11; ++i) {
        sim::fpga_poke(FpgaWidth::W16, 0x60000 + 4 * i, 0x4142 + i);
        sim::fpga_poke(FpgaWidth::W16, 0x70000 + 2 * i, 0x6162 + i);
    }
    sim::fpga_poke(FpgaWidth::W16, 0x60000 + 4 * 11, 0x5858);  // beyond the 11 registers
    char buf[24];
    std::memset(buf, '#', sizeof buf);
    getVerStr16(0x60000, buf);
    EXPECT_EQ(std::string(buf), "ABACADAEAFAGAHAIAJAKAL");
    EXPECT_EQ(buf[23], '#');  // exactly 23 bytes written
    getVerStr32(0x70000, buf);
    EXPECT_EQ(std::string(buf), "abacadaeafagahaiajakal");
    sim::fpga_poke(FpgaWidth::W16, 0x70000 + 2 * 3, 0x4100);  // a NUL ends the text early
    getVerStr32(0x70000, buf);
    EXPECT_EQ(std::string(buf), "abacadA");
    getVerStr16(0x60000, nullptr);
}

TEST_F(EcpsTest, SyncSourceLineFollowsBitFour) {
    start();
    ASSERT_EQ(ecps_syncSrc_set(1, 0), 0);
    EXPECT_THAT(report(), HasSubstr("\nRTC SRC: T0\n"));
    ASSERT_EQ(ecps_syncSrc_set(1, 1), 0);
    EXPECT_THAT(report(), HasSubstr("\nRTC SRC: 1PPS\n"));
}

}  // namespace
}  // namespace bsp::test
