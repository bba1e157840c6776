// Setting up (attaching the window, the ready flag, masking, a failed attach) and receiving:
// the receive area's words, delivery to the callback, both doorbell bits in one interrupt, the
// interrupt types.
#include <functional>
#include <tuple>

#include "pci_fixture.h"

namespace bsp::test {
namespace {

struct RawLengthCase {
    uint16_t len_h;
    uint16_t len_l;
    size_t delivered;  // 0: nothing is delivered
    uint32_t dev;
};

class PciRawLength : public PciTest, public ::testing::WithParamInterface<RawLengthCase> {};

// Whatever the far side writes into the length words, at most 1536 bytes are delivered; the
// length words are cleared and the far side told with the "taken" doorbell.
TEST_P(PciRawLength, DeliversAtMost1536BytesAndAcknowledges) {
    ASSERT_TRUE(sim::pci_place_rx_raw(GetParam().len_h, GetParam().len_l, numbered(0, 1536)));
    sim::pci_raise(sim::kPciBellMessage);
    ASSERT_TRUE(wait_until([] { return sim::pci_doorbells().size() == 1; }));
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(sim::pci_doorbells(), std::vector<uint16_t>{4});
    EXPECT_EQ(sim::pci_peek16(sim::kPciRxLenH), 0);
    EXPECT_EQ(sim::pci_peek16(sim::kPciRxLenL), 0);
    if (GetParam().delivered == 0) {
        EXPECT_EQ(received().size(), 0u);
        return;
    }
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].bytes, numbered(0, GetParam().delivered));
    EXPECT_EQ(received()[0].dev, GetParam().dev);
    EXPECT_EQ(sim::pci_peek16(sim::kPciApuStatusH), 0x1234);  // the version given to the open
    EXPECT_EQ(sim::pci_peek16(sim::kPciApuStatusL), 0x5678);
}

INSTANTIATE_TEST_SUITE_P(Words, PciRawLength,
                         ::testing::Values(RawLengthCase{0x0500, 0x0010, 16, 5},
                                           RawLengthCase{0x0700, 0x0000, 0, 7},
                                           RawLengthCase{0x0000, 0x05FF, 1535, 0},
                                           RawLengthCase{0x0300, 0x0601, 1536, 3},
                                           RawLengthCase{0x03FF, 0xFFFF, 1536, 3},
                                           RawLengthCase{0xFF01, 0x0000, 1536, 255},
                                           RawLengthCase{0xFFFF, 0xFFFF, 1536, 255}));

// One interrupt with both bits: the message is received first, then the acknowledgement
// puts the next queued message into the transmit area.
std::vector<uint16_t> g_tx_word_at_callback;

int record_tx_area(UINT8 *msg, UINT32 len, UINT32 dev) {
    g_tx_word_at_callback.push_back(sim::pci_peek16(sim::kPciTxBuff));
    return PciTest::record(msg, len, dev);
}

TEST_F(PciTest, BothDoorbellBitsInOneInterruptReceiveFirst) {
    g_tx_word_at_callback.clear();
    pci_install_rx_callback(record_tx_area);
    sim::pci_hold_acks(true);
    ASSERT_EQ(send({0xA1, 0xA2}), 0);
    ASSERT_EQ(send({0xB1, 0xB2}), 0);
    ASSERT_TRUE(sim::pci_place_rx_raw(0x0700, 0x0004, {1, 2, 3, 4}));
    unsigned delivered = sim::interrupt_line("/dev/pci")->delivered();
    ASSERT_TRUE(sim::pci_release_ack(sim::kPciBellMessage));
    ASSERT_TRUE(wait_taken(2));
    EXPECT_EQ(sim::interrupt_line("/dev/pci")->delivered(), delivered + 1);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].bytes, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(received()[0].dev, 7u);
    EXPECT_EQ(g_tx_word_at_callback, std::vector<uint16_t>{0xA1A2});
    EXPECT_EQ(sim::pci_taken()[1].bytes, (Bytes{0xB1, 0xB2}));
    EXPECT_EQ(sim::pci_peek16(sim::kPciRxLenL), 0);
}

int reply_from_handler(UINT8 *msg, UINT32 len, UINT32 dev) {
    std::vector<uint8_t> reply(msg, msg + len);
    reply.push_back(0xFF);
    pci_send(reply.data(), static_cast<UINT32>(reply.size()), dev);
    return 0;
}

// The callback may send from the interrupt context; on a full queue it is refused instead
// of waiting there for ever.
TEST_F(PciTest, CallbackMaySendFromTheInterruptContext) {
    pci_install_rx_callback(reply_from_handler);
    sim::pci_inject({9, 8}, 4);
    ASSERT_TRUE(wait_taken(1));
    EXPECT_EQ(sim::pci_taken()[0].bytes, (Bytes{9, 8, 0xFF}));
    EXPECT_EQ(sim::pci_taken()[0].dev, 4u);
    ASSERT_TRUE(sim::pci_wait_idle());
    sim::pci_hold_acks(true);
    for (uint32_t n = 0; n < 64; ++n) {
        ASSERT_EQ(send(numbered(n, 2)), 0);
    }
    sim::pci_inject({1}, 0);
    ASSERT_TRUE(wait_until([] { return sim::pci_rx_pending() == 0; }));
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(pci_log(), kFullQueue);
    sim::pci_hold_acks(false);
    EXPECT_TRUE(wait_taken(65));
}

class PciIrqType : public PciTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PciIrqType, HandlerUnmasksOnlyForType0) {
    sim::pci_set_irq_type(GetParam());
    init_pci();
    ASSERT_EQ(pci_open(kVersion), 0);
    const std::vector<unsigned long> unmasked = {0xEE00};
    for (int i = 0; i < 3; ++i) {  // a type-0 line masks itself on each interrupt
        sim::pci_clear_ioctls();
        sim::pci_inject({static_cast<uint8_t>(i)}, 0);
        ASSERT_TRUE(wait_until([i] { return received().size() == static_cast<size_t>(i + 1); }));
        ASSERT_TRUE(sim::pci_wait_idle());
        EXPECT_EQ(sim::pci_ioctls(), GetParam() == 0 ? unmasked : std::vector<unsigned long>{});
    }
}

INSTANTIATE_TEST_SUITE_P(Types, PciIrqType, ::testing::Values(0, 1, 2));

// Init attaches the window, and again closes the first descriptor; the ready flag is set.
TEST_F(PciTest, InitAttachesTheWindowWithTheDocumentedArguments) {
    sim::DriverAttach a;
    ASSERT_TRUE(sim::last_attach("/dev/pci", &a));
    EXPECT_EQ(std::tie(a.name, a.physical_base, a.length, a.mode, a.flags, a.options),
              std::make_tuple("PCI_ISR_HANDLER", 0x18000000u, 0x200000u, 3u, 0x2001u, 0u));
    // The interrupt type read by init_pci, enable_pci, then the open's masked section.
    EXPECT_EQ(sim::pci_ioctls(), (std::vector<unsigned long>{0xEE02, 0xEE03, 0xEE01, 0xEE00}));
    EXPECT_TRUE(sim::pci_enabled());
    size_t open_files = sim::open_device_files();
    init_pci();
    EXPECT_EQ(sim::open_device_files(), open_files);
    EXPECT_EQ(sim::pci_peek16(sim::kPciReady), 0);
    toggle_pci_ready();
    EXPECT_EQ(sim::pci_peek16(sim::kPciReady), 1);
}

// Every critical section is masked; a terminated channel still delivers what it receives, a
// closed one drops it.
TEST_F(PciTest, EveryCriticalSectionIsMaskedAndOnlyAClosedChannelDropsReceivedMessages) {
    // The ioctls that `call` makes.
    auto ioctls_of = [](const std::function<void()> &call) {
        sim::pci_clear_ioctls();
        call();
        return sim::pci_ioctls();
    };
    const std::vector<unsigned long> masked = {0xEE01, 0xEE00};
    EXPECT_TRUE(ioctls_of([] { pci_install_rx_callback(record); }).empty());
    EXPECT_EQ(ioctls_of([] { pci_open(kVersion); }), masked);
    sim::pci_hold_acks(true);
    EXPECT_EQ(ioctls_of([] { EXPECT_EQ(send({1, 2}), 0); }), masked);
    EXPECT_EQ(ioctls_of([] { pci_terminate(nullptr, 0, 0); }), masked);
    sim::pci_inject({3, 4}, 0);
    ASSERT_TRUE(wait_until([] { return received().size() == 1; }));
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(ioctls_of(pci_close), masked);
    sim::pci_inject({1, 2}, 0);
    ASSERT_TRUE(wait_until([] { return sim::pci_rx_pending() == 0; }));
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(received().size(), 1u);
}

class PciInitTest : public SimTest {};

TEST_F(PciInitTest, FailedAttachLeavesTheChannelUnusableInsteadOfFaulting) {
    sim::inject_fault({sim::FaultOp::DriverInit, 1, EIO, -1, ""});
    init_pci();
    EXPECT_EQ(sim::log_text(DBG_PCI_INDEX),
              "[PCI        0 ms] err: 'init_pci' device not attached\n");
    toggle_pci_ready();
    enable_pci();
    EXPECT_EQ(pci_open(1), -1);
    UINT8 msg[2] = {1, 2};
    EXPECT_EQ(pci_send(msg, 2, 0), -1);
    EXPECT_EQ(pci_terminate(msg, 2, 0), 0);
    EXPECT_EQ(sim::pci_taken_count(), 0u);
    EXPECT_TRUE(sim::pci_ioctls().empty());
    EXPECT_EQ(sim::open_device_files(), 0u);
}

}  // namespace
}  // namespace bsp::test
