// The channel's set-up: attaching the window, the ready flag, masking, a failed attach.
#include "pci_fixture.h"

namespace {

using bsp::test::PciTest;

TEST_F(PciTest, InitAttachesTheWindowWithTheDocumentedArguments) {
    bsp::sim::DriverAttach attach;
    ASSERT_TRUE(bsp::sim::last_attach("/dev/pci", &attach));
    EXPECT_EQ(attach.name, "PCI_ISR_HANDLER");
    EXPECT_EQ(attach.physical_base, 0x18000000u);
    EXPECT_EQ(attach.length, 0x200000u);
    EXPECT_EQ(attach.mode, 3u);
    EXPECT_EQ(attach.flags, 0x2001u);
    EXPECT_EQ(attach.options, 0u);
    std::vector<unsigned long> ioctls = bsp::sim::pci_ioctls();
    ASSERT_GE(ioctls.size(), 2u);
    EXPECT_EQ(ioctls[0], 0xEE02u);  // interrupt type, read by init_pci
    EXPECT_EQ(ioctls[1], 0xEE03u);  // enable_pci
    EXPECT_TRUE(bsp::sim::pci_enabled());
}

TEST_F(PciTest, ToggleReadyWritesOneToTheReadyFlag) {
    EXPECT_EQ(bsp::sim::pci_peek16(bsp::sim::kPciReady), 0);
    toggle_pci_ready();
    EXPECT_EQ(bsp::sim::pci_peek16(bsp::sim::kPciReady), 1);
}

TEST_F(PciTest, EveryCriticalSectionIsMasked) {
    using bsp::sim::pci_ioctls;
    const std::vector<unsigned long> masked = {0xEE01, 0xEE00};
    bsp::sim::pci_clear_ioctls();
    pci_install_rx_callback(record);
    EXPECT_TRUE(pci_ioctls().empty());
    pci_open(kVersion);
    EXPECT_EQ(pci_ioctls(), masked);
    bsp::sim::pci_hold_acks(true);
    bsp::sim::pci_clear_ioctls();
    EXPECT_EQ(send({1, 2}), 0);
    EXPECT_EQ(pci_ioctls(), masked);
    bsp::sim::pci_clear_ioctls();
    pci_close();
    EXPECT_EQ(pci_ioctls(), masked);
    bsp::sim::pci_clear_ioctls();
    pci_terminate(nullptr, 0, 0);
    EXPECT_EQ(pci_ioctls(), masked);
}

TEST_F(PciTest, InitAgainClosesTheFirstDescriptor) {
    size_t open_files = bsp::sim::open_device_files();
    init_pci();
    init_pci();
    EXPECT_EQ(bsp::sim::open_device_files(), open_files);
}

class PciInitTest : public bsp::test::SimTest {};

TEST_F(PciInitTest, FailedAttachLeavesTheChannelUnusableInsteadOfFaulting) {
    bsp::sim::inject_fault({bsp::sim::FaultOp::DriverInit, 1, EIO, -1, ""});
    init_pci();
    EXPECT_EQ(bsp::sim::log_text(DBG_PCI_INDEX),
              "[PCI        0 ms] err: 'init_pci' device not attached\n");
    toggle_pci_ready();
    enable_pci();
    EXPECT_EQ(pci_open(1), -1);
    UINT8 msg[2] = {1, 2};
    EXPECT_EQ(pci_send(msg, 2, 0), -1);
    EXPECT_EQ(pci_terminate(msg, 2, 0), 0);
    EXPECT_EQ(bsp::sim::pci_taken_count(), 0u);
    EXPECT_TRUE(bsp::sim::pci_ioctls().empty());
    EXPECT_EQ(bsp::sim::open_device_files(), 0u);
}

}  // namespace
