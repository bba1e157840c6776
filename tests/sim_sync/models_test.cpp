// The synchronisation models of the simulated unit: FPGA images, the 1588 and SEIS block
// models, the radio-link driver and the keeping of the FPGA between shell runs. (The SEIS
// block's received QL, following the far end while a link is enabled and up, shows in the
// SEIS family's link tables.)
#include <bsp_ctrl/platform/bsp_board.h>
#include <unistd.h>

#include <filesystem>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using sim::FpgaWidth;

std::string version_at(uint32_t address, uint32_t stride) {
    std::string s;
    for (uint32_t i = 0; i < 11; ++i) {
        uint32_t w = sim::fpga_peek(FpgaWidth::W16, address + stride * i);
        s += static_cast<char>(w >> 8);
        s += static_cast<char>(w & 0xFF);
    }
    return s.substr(0, s.find('\0'));
}

struct ImageCase {
    const char *const *name;
    char vanta_rev;
    uint32_t links;
};

class SimSyncImages : public SimTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(SimSyncImages, CarryVersionsRevisionsAndLinks) {
    const ImageCase &c = GetParam();
    sim::fpga_poke(FpgaWidth::W32, 0x52100, 5);
    ASSERT_TRUE(sim::fpga_load_image(*c.name));
    EXPECT_EQ(sim::current_fpga_image(), *c.name);
    EXPECT_EQ(sim::fpga_peek(FpgaWidth::W32, 0x52100), 0u);  // a new FPGA load
    EXPECT_EQ(sim::fpga_peek(FpgaWidth::W16, 0x10) & 0xFF, static_cast<uint32_t>(c.vanta_rev));
    EXPECT_EQ(sim::fpga_peek(FpgaWidth::W16, 0x30100), c.links);
    sim::SyncVersions v = sim::image_versions(*c.name);
    EXPECT_EQ(version_at(0x00000, 2), v.vanta);
    EXPECT_EQ(version_at(0x51000, 4), v.rtc);
    EXPECT_EQ(version_at(0x52000, 4), v.rl_tsu);
    EXPECT_EQ(version_at(0x53000, 4), v.sfp_tsu);
    EXPECT_EQ(v.rtc.empty(), c.vanta_rev < '2');
}

INSTANTIATE_TEST_SUITE_P(Images, SimSyncImages,
                         ::testing::Values(ImageCase{&sim::kImage1588Seis, '2', 1},
                                           ImageCase{&sim::kImage1588Seis2, '2', 2},
                                           ImageCase{&sim::kImage1588, '2', 0},
                                           ImageCase{&sim::kImageSeis, '1', 1},
                                           ImageCase{&sim::kImagePlain, '1', 0}));

// Edges, not levels, count. (The SEIS transmit PLL, locking once configured, shows in the SEIS
// family's link start.)
TEST_F(SimTest, SfpTsuPulsesCountEdges) {
    vanta2_write32_reg(0x53084, 4, 4);
    vanta2_write32_reg(0x53084, 4, 4);  // still high: no new edge
    vanta2_write32_reg(0x53084, 0, 4);
    vanta2_write32_reg(0x53084, 5, 5);
    EXPECT_EQ(sim::sfp_tsu_link_pulses(), 2u);
}

// The shell keeps the FPGA in its state folder: cold starts reload the image loaded last. (Warm
// starts taking the registers over show in the shell's own state folder test.)
TEST_F(SimTest, ShellKeepsTheFpgaBetweenRuns) {
    char tmpl[] = "/tmp/sim_sync_stateXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    sim::set_state_dir(tmpl);
    ASSERT_TRUE(sim::fpga_load_image(sim::kImage1588));
    sim::fpga_poke(FpgaWidth::W32, 0x52100, 1234);
    sim::save_fpga_state();
    sim::set_reset_type(BSP_RESET_TYPE_COLD);
    sim::reset_unit();
    EXPECT_EQ(sim::fpga_peek(FpgaWidth::W32, 0x52100), 0u);
    EXPECT_EQ(sim::current_fpga_image(), sim::kImage1588);
    sim::set_state_dir("");
    std::filesystem::remove_all(tmpl);
    sim::reset_unit();
    EXPECT_EQ(sim::current_fpga_image(), sim::kImage1588Seis);
}

}  // namespace
}  // namespace bsp::test
