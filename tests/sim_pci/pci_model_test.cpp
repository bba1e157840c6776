// The simulated PCI device on its own: a test entry stands in for the library, so that the
// interrupt line's masking is checked without the channel code (the far side's doorbells and
// queueing are what the channel's own tests observe).
// And the simulated HDLC channel service where the library's tests do not reach it.
#include <bsp_ctrl/platform/bsp_board.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/sim_fixture.h"

namespace {

namespace sim = bsp::sim;
using bsp::test::wait_until;

std::atomic<size_t> g_entries{0};  // entries run to their end so far
std::atomic<bool> g_block{false};  // the entry waits while this is set
std::atomic<bool> g_in_entry{false};

void test_entry(UINT16) {
    g_in_entry = true;
    while (g_block.load()) {
        std::this_thread::yield();
    }
    ++g_entries;
    g_in_entry = false;
}

class PciModelTest : public bsp::test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        g_entries = 0;
        g_block = false;
        sim::pci_set_irq_type(1);  // the test entry does not unmask
        char name[] = "TEST";
        char path[] = "/dev/pci";
        void *window = nullptr;
        fd_ = OS_Init_Driver(name, path, 0x18000000, 0x200000, 3, 0x2001, 0, test_entry, &window);
    }
    void TearDown() override {
        g_block = false;
        close(fd_);
        SimTest::TearDown();
    }

    int fd_ = -1;
};

TEST_F(PciModelTest, TypeZeroInterruptMasksTheLineUntilUnmasked) {
    sim::pci_set_irq_type(0);
    sim::pci_raise(sim::kPciBellTaken);
    sim::pci_raise(sim::kPciBellTaken);
    ASSERT_TRUE(wait_until([] { return g_entries.load() == 1; }));
    EXPECT_FALSE(sim::pci_wait_idle());  // the second stays pending
    EXPECT_TRUE(sim::interrupt_line("/dev/pci")->masked());
    EXPECT_EQ(g_entries.load(), 1u);
    ASSERT_EQ(ioctl(fd_, 0xEE00), 0);
    EXPECT_TRUE(wait_until([] { return g_entries.load() == 2; }));
}

TEST_F(PciModelTest, MaskingWaitsForTheEntryInProgress) {
    g_block = true;
    sim::pci_raise(sim::kPciBellTaken);
    ASSERT_TRUE(wait_until([] { return g_in_entry.load(); }));
    std::atomic<bool> masked{false};
    std::thread masker([&] {
        ioctl(fd_, 0xEE01);
        masked = true;
    });
    ASSERT_TRUE(wait_until([] { return sim::pci_ioctls().size() == 1; }));
    // The request must not complete while the entry runs.
    EXPECT_FALSE(wait_until([&] { return masked.load(); }, std::chrono::milliseconds(50)));
    EXPECT_FALSE(sim::interrupt_line("/dev/pci")->masked());
    g_block = false;
    EXPECT_TRUE(wait_until([&] { return masked.load(); }));
    masker.join();
    EXPECT_FALSE(g_in_entry.load());
    EXPECT_TRUE(sim::interrupt_line("/dev/pci")->masked());
}

class HdlcModelTest : public bsp::test::SimTest {};

void ignore_frame(UINT32) {}
INT reconfigure() {
    return 0;
}

// Only channel 0 exists; injected failures last the calls asked for; a reset forgets all.
TEST_F(HdlcModelTest, OnlyChannelZeroFailuresCountDownAndResetForgets) {
    EXPECT_EQ(hdlc_open(1, 3, 1000000, 0, 15, 128), -1);
    EXPECT_EQ(hdlc_close(1), -1);
    EXPECT_EQ(hdlc_install_rx_callback(2, ignore_frame), -1);
    EXPECT_EQ(hdlc_set_reconf_ch_data(1, reconfigure, reconfigure), -1);
    UINT8 byte = 1;
    UINT32 n = 0;
    EXPECT_EQ(hdlc_put_frame(1, &byte, 1, &n), -1);
    EXPECT_EQ(hdlc_data_ready(1), 0);
    EXPECT_TRUE(sim::hdlc_calls().empty());
    sim::hdlc_fail(sim::HdlcOp::Open, 2);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), 0);
    hdlc_install_rx_callback(0, ignore_frame);
    sim::hdlc_queue_rx({1});
    sim::reset_unit();
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_FALSE(sim::hdlc_deliver());
    EXPECT_EQ(sim::hdlc_call_enable(), -1);  // no reconfiguration installed
    EXPECT_TRUE(sim::hdlc_calls().empty());
}

}  // namespace
