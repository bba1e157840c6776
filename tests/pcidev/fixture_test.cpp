// The PCI fixture's definitions (the file name makes it part of the test executable).
#include "pci_fixture.h"

#include <bsp_ctrl/platform/bsp_os.h>

namespace bsp::test {

std::mutex PciTest::mutex_;
std::vector<PciReceived> PciTest::received_;

void PciTest::SetUp() {
    SimTest::SetUp();
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    init_pci();
    enable_pci();
    pci_install_rx_callback(record);
    ASSERT_EQ(pci_open(kVersion), 0);
}

void PciTest::TearDown() {
    pci_close();
    pci_install_rx_callback(nullptr);
    sim::pci_hold_acks(false);
    EXPECT_TRUE(sim::pci_wait_idle());
    SimTest::TearDown();
}

std::vector<PciReceived> PciTest::received() {
    std::lock_guard lock(mutex_);
    return received_;
}

size_t PciTest::received_count() {
    std::lock_guard lock(mutex_);
    return received_.size();
}

int PciTest::record(UINT8 *msg, UINT32 len, UINT32 dev) {
    std::lock_guard lock(mutex_);
    received_.push_back({std::vector<uint8_t>(msg, msg + len), dev});
    return 0;
}

std::vector<uint8_t> PciTest::numbered(uint32_t n, size_t len) {
    std::vector<uint8_t> bytes(len);
    for (size_t i = 0; i < len; ++i) {
        bytes[i] = i == 0   ? static_cast<uint8_t>(n)
                   : i == 1 ? static_cast<uint8_t>(n >> 8)
                            : static_cast<uint8_t>(n * 7 + i);
    }
    return bytes;
}

int PciTest::send(const std::vector<uint8_t> &bytes, UINT32 dev) {
    std::vector<uint8_t> copy = bytes;
    return pci_send(copy.data(), static_cast<UINT32>(copy.size()), dev);
}

std::string PciTest::pci_log() {
    return sim::log_text(DBG_PCI_INDEX);
}

bool PciTest::wait_taken(size_t n) {
    return wait_until([n] { return sim::pci_taken_count() >= n; }) && sim::pci_taken_count() == n;
}

}  // namespace bsp::test

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
