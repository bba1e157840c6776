// Board services: FPGA register semantics and access log, the board description, the
// debug log, the driver attachment with its interrupt line.
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace {

using bsp::sim::FpgaAccess;
using bsp::sim::FpgaWidth;
using bsp::test::wait_until;

using BoardTest = bsp::test::SimTest;

TEST_F(BoardTest, FpgaMaskedAccessesKeepOtherBitsAndAreLoggedInOrder) {
    vanta2_write32(0x200, 0x12345678);
    vanta2_write32_reg(0x200, 0xFFFFFFFF, 0x0000FF00);
    UINT32 v32 = 0;
    vanta2_read32_reg(0x200, &v32, 0x00FFFF00);
    EXPECT_EQ(v32, 0x0034FF00u) << "masked, not shifted";
    vanta_write(0x10, 0xBEEF);
    UINT16 v16 = 0;
    vanta_read_reg(0x10, &v16, 0x0FF0);
    EXPECT_EQ(v16, 0x0EE0);
    vanta2_read32(0x10, &v32);
    EXPECT_EQ(v32, 0u) << "16- and 32-bit registers are separate spaces";
    std::vector<FpgaAccess> want = {
        {FpgaAccess::Write, FpgaWidth::W32, 0x200, 0x12345678, 0xFFFFFFFF},
        {FpgaAccess::Write, FpgaWidth::W32, 0x200, 0xFFFFFFFF, 0x0000FF00},
        {FpgaAccess::Read, FpgaWidth::W32, 0x200, 0x0034FF00, 0x00FFFF00},
        {FpgaAccess::Write, FpgaWidth::W16, 0x10, 0xBEEF, 0xFFFF},
        {FpgaAccess::Read, FpgaWidth::W16, 0x10, 0x0EE0, 0x0FF0},
        {FpgaAccess::Read, FpgaWidth::W32, 0x10, 0, 0xFFFFFFFF},
    };
    EXPECT_EQ(bsp::sim::fpga_log(), want);
    EXPECT_EQ(bsp::sim::fpga_writes().size(), 3u);
}

TEST_F(BoardTest, BoardPresetKeepsTheRecordAndResetTypeIsReported) {
    const kvu_hal_board_t *b = kvu_hal_get();
    EXPECT_EQ(b->mii_addr_of_entry[2], 0) << "LAN port 3 is the SFP cage";
    ASSERT_TRUE(bsp::sim::load_board_preset("no-sfp"));
    EXPECT_EQ(kvu_hal_get(), b) << "the record keeps its address";
    EXPECT_NE(b->mii_addr_of_entry[2], 0);
    UINT32 t = 0;
    RLBSP_get_reset_type(&t);
    EXPECT_EQ(t, 1u);
    bsp::sim::set_reset_type(2);
    eh_get_reset_type(&t);
    EXPECT_EQ(t, 2u);
    dbg_handle_logs_at_restart();
    EXPECT_EQ(bsp::sim::restart_log_calls(), 1u);
}

TEST_F(BoardTest, EveryLogMessageIsCapturedAndLevelsDecideWhatIsPrinted) {
    bsp::sim::set_log_printing(true);
    bsp::sim::set_log_level(DBG_PCI_INDEX, 1);
    bsp::test::StderrCapture err;
    log_printf(DBG_PCI_INDEX, 1, "[PCI %8d ms] open\n", 120);
    log_printf(DBG_PCI_INDEX, 2, "trace\n");
    log_printf(DBG_1588_INDEX, 0, "[1588] up\n");
    npu_log_printf("[DPDP %8d] hello\n", 5);
    bsp::sim::set_log_printing(false);
    EXPECT_EQ(err.text(), "[PCI      120 ms] open\n[1588] up\n[DPDP        5] hello\n");
    EXPECT_EQ(bsp::sim::log_text(DBG_PCI_INDEX), "[PCI      120 ms] open\ntrace\n");
    EXPECT_EQ(bsp::sim::log_text(bsp::sim::kNpuLogModule), "[DPDP        5] hello\n");
    EXPECT_EQ(bsp::sim::log_records().size(), 4u);
}

// A window backend and device node for an attachment.
class Window : public bsp::sim::DriverBackend, public bsp::sim::Device {
  public:
    void *window(uint32_t, uint32_t length) override {
        memory.resize(length);
        return memory.data();
    }
    std::shared_ptr<bsp::sim::OpenFile> open(int) override {
        return std::make_shared<bsp::sim::OpenFile>(bsp::sim::reserve_fd());
    }
    std::vector<uint8_t> memory;
};

std::vector<UINT16> g_interrupts;
std::atomic<bool> g_in_interrupt_context{false};

void interrupt_entry(UINT16 reg) {
    g_in_interrupt_context = bsp::sim::in_interrupt_context();
    g_interrupts.push_back(reg);
}

TEST_F(BoardTest, DriverInterruptsWaitWhileMaskedAndArriveInOrder) {
    g_interrupts.clear();
    auto w = std::make_shared<Window>();
    bsp::sim::add_device("/dev/pci", w);
    bsp::sim::add_driver("/dev/pci", w);
    void *window = nullptr;
    int fd = OS_Init_Driver(const_cast<CHAR *>("PCI_ISR_HANDLER"), const_cast<CHAR *>("/dev/pci"),
                            0x18000000, 0x200000, 3, 0x2001, 0, interrupt_entry, &window);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(window, w->memory.data());
    EXPECT_EQ(w->memory.size(), 0x200000u);
    bsp::sim::InterruptLine *line = bsp::sim::interrupt_line("/dev/pci");
    ASSERT_NE(line, nullptr);
    line->set_masked(true);
    line->raise(1);
    line->raise(2);
    EXPECT_FALSE(wait_until([&] { return line->delivered() > 0; }, std::chrono::milliseconds(50)));
    line->set_masked(false);
    ASSERT_TRUE(line->wait_idle());
    EXPECT_EQ(g_interrupts, (std::vector<UINT16>{1, 2}));
    EXPECT_TRUE(g_in_interrupt_context);
    close(fd);
    void *none = nullptr;
    EXPECT_EQ(OS_Init_Driver(const_cast<CHAR *>("X"), const_cast<CHAR *>("/dev/none"), 0, 16, 3,
                             0x2001, 0, interrupt_entry, &none),
              -1);
}

}  // namespace
