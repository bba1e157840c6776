// Sending: length and state checks, the transmit area's words, the 64-descriptor queue with
// its wait, close and terminate; several application threads sending while the far side
// acknowledges and sends: every message arrives whole, each sender's in its order, through
// many wraps of the queue.
#include <atomic>
#include <thread>

#include "pci_fixture.h"

namespace {

using bsp::test::PciTest;
using bsp::test::wait_until;
namespace sim = bsp::sim;

struct LengthCase {
    UINT32 len;
    int result;
    const char *log;
    bool null_buffer = false;
    unsigned clock_ms = 0;
};

class PciSendLength : public PciTest, public ::testing::WithParamInterface<LengthCase> {};

// The log line carries the clock in milliseconds.
TEST_P(PciSendLength, AcceptsOneTo1536BytesFromABuffer) {
    std::vector<uint8_t> bytes(2000, 0x5A);
    sim::advance_clock_ms(GetParam().clock_ms);
    UINT8 *buffer = GetParam().null_buffer ? nullptr : bytes.data();
    EXPECT_EQ(pci_send(buffer, GetParam().len, 3), GetParam().result);
    EXPECT_EQ(pci_log(), GetParam().log);
    EXPECT_TRUE(wait_taken(GetParam().result == 0 ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PciSendLength,
    ::testing::Values(
        LengthCase{1, 0, ""}, LengthCase{1536, 0, ""},
        LengthCase{1537, -1, "[PCI        0 ms] err: 'pci_send' invalid length=1537\n"},
        LengthCase{0, -1, "[PCI     1230 ms] err: 'pci_send' invalid length=0\n", false, 1230},
        LengthCase{4, -1, "[PCI        0 ms] err: 'pci_send' invalid buffer\n", true}));

TEST_F(PciTest, SendIsRefusedWhenClosedOrTerminated) {
    const char *closed = "[PCI        0 ms] err: 'pci_send' called when driver is closed\n";
    pci_close();
    EXPECT_EQ(send({1}), -1);
    EXPECT_EQ(pci_log(), closed);
    sim::clear_log();
    pci_open(kVersion);
    pci_terminate(nullptr, 0, 0);
    EXPECT_EQ(send({1}), -1);
    EXPECT_EQ(pci_log(), closed);
    EXPECT_EQ(sim::pci_taken_count(), 0u);
}

TEST_F(PciTest, ThreeByteMessageOccupiesTwoWordsWithDeviceInTheHighLengthWord) {
    sim::pci_hold_acks(true);
    ASSERT_EQ(send({0x11, 0x22, 0x33}, 0x1A5), 0);
    ASSERT_TRUE(wait_taken(1));
    sim::PciMessage m = sim::pci_taken()[0];
    EXPECT_EQ(m.len_l, 3);
    EXPECT_EQ(m.len_h, 0xA500);  // only the low 8 bits of the device travel
    EXPECT_EQ(m.bytes, (std::vector<uint8_t>{0x11, 0x22, 0x33}));
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxBuff), 0x1122);
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxBuff + 2), 0x3300);
    EXPECT_EQ(sim::pci_doorbells(), std::vector<uint16_t>{1});
}

// A sender that finds the 64 descriptors in use waits for an acknowledgement; a close while
// it waits refuses it, and lets the queued messages go out.
TEST_F(PciTest, FullQueueSendersWaitForAnAcknowledgementOrAClose) {
    sim::pci_hold_acks(true);
    for (uint32_t n = 0; n < 64; ++n) {
        ASSERT_EQ(send(numbered(n, 8)), 0) << n;
    }
    std::atomic<int> first{1};
    std::thread waiting([&] { first = send(numbered(64, 8)); });
    EXPECT_TRUE(wait_until([&] {
        return pci_log().find("[PCI        0 ms] warning: 'pci_send' full queue\n") !=
               std::string::npos;
    }));
    EXPECT_EQ(first.load(), 1);  // still waiting
    EXPECT_EQ(sim::pci_taken_count(), 1u);
    sim::pci_release_ack();
    EXPECT_TRUE(wait_until([&] { return first.load() != 1; }));
    waiting.join();
    EXPECT_EQ(first.load(), 0);
    sim::clear_log();  // the queue is full again
    std::atomic<int> second{1};
    std::thread refused([&] { second = send(numbered(65, 8)); });
    ASSERT_TRUE(wait_until([&] { return pci_log().find("full queue") != std::string::npos; }));
    pci_close();
    sim::pci_release_ack();
    EXPECT_TRUE(wait_until([&] { return second.load() != 1; }));
    refused.join();
    EXPECT_EQ(second.load(), -1);
    EXPECT_NE(pci_log().find("err: 'pci_send' called when driver is closed\n"), std::string::npos);
    sim::pci_hold_acks(false);
    ASSERT_TRUE(wait_taken(65));
    std::vector<sim::PciMessage> taken = sim::pci_taken();
    for (uint32_t n = 0; n < 65; ++n) {
        EXPECT_EQ(taken[n].bytes, numbered(n, 8)) << n;
    }
}

TEST_F(PciTest, OpenEmptiesTheQueue) {
    sim::pci_hold_acks(true);
    ASSERT_EQ(send(numbered(1, 3)), 0);
    ASSERT_EQ(send(numbered(2, 3)), 0);
    ASSERT_EQ(pci_open(kVersion), 0);
    ASSERT_EQ(send(numbered(3, 3)), 0);  // the queue is empty: placed at once
    ASSERT_TRUE(wait_taken(2));
    EXPECT_EQ(sim::pci_taken()[1].bytes, numbered(3, 3));
}

TEST_F(PciTest, TerminatePlacesTheLastMessageDirectlyAndDropsTheQueue) {
    sim::pci_hold_acks(true);
    ASSERT_EQ(send(numbered(1, 3)), 0);
    ASSERT_EQ(send(numbered(2, 3)), 0);
    std::vector<uint8_t> last(2000, 0xEE);
    EXPECT_EQ(pci_terminate(last.data(), 2000, 0x42), 0);
    EXPECT_EQ(sim::restart_log_calls(), 1u);
    ASSERT_TRUE(wait_taken(2));
    sim::PciMessage m = sim::pci_taken()[1];
    EXPECT_EQ(m.bytes, std::vector<uint8_t>(1536, 0xEE));  // clamped
    EXPECT_EQ(m.dev, 0x42u);
    sim::clear_log();
    sim::pci_hold_acks(false);  // both acknowledgements arrive; the queue is empty
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(pci_log(),
              "[PCI        0 ms] warning: 'pci_tx_hisr' spurious interrupt or driver "
              "terminated\n"
              "[PCI        0 ms] warning: 'pci_tx_hisr' spurious interrupt or driver "
              "terminated\n");
    EXPECT_EQ(sim::pci_taken_count(), 2u);
}

TEST_F(PciTest, TerminateWithoutMessageSendsNothing) {
    EXPECT_EQ(pci_terminate(nullptr, 5, 0), 0);
    UINT8 byte = 1;
    EXPECT_EQ(pci_terminate(&byte, 0, 0), 0);
    EXPECT_EQ(sim::restart_log_calls(), 2u);
    EXPECT_TRUE(sim::pci_doorbells().empty());
}

// Several senders at once.
constexpr uint32_t kSenders = 4;
constexpr uint32_t kPerSender = 150;

std::vector<uint8_t> sender_message(uint32_t sender, uint32_t seq) {
    std::vector<uint8_t> bytes(3 + (sender * 31 + seq) % 90);
    bytes[0] = static_cast<uint8_t>(sender);
    bytes[1] = static_cast<uint8_t>(seq >> 8);
    bytes[2] = static_cast<uint8_t>(seq);
    for (size_t i = 3; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(sender ^ seq ^ i);
    }
    return bytes;
}

void check_per_sender_order(const std::vector<sim::PciMessage> &taken) {
    std::vector<uint32_t> next(kSenders, 0);
    for (const sim::PciMessage &m : taken) {
        ASSERT_GE(m.bytes.size(), 3u);
        uint32_t sender = m.bytes[0];
        ASSERT_LT(sender, kSenders);
        uint32_t seq = static_cast<uint32_t>(m.bytes[1] << 8 | m.bytes[2]);
        EXPECT_EQ(seq, next[sender]);
        EXPECT_EQ(m.bytes, sender_message(sender, seq));
        EXPECT_EQ(m.dev, sender);
        next[sender] = seq + 1;
    }
}

void run_senders() {
    std::vector<std::thread> threads;
    for (uint32_t s = 0; s < kSenders; ++s) {
        threads.emplace_back([s] {
            for (uint32_t seq = 0; seq < kPerSender; ++seq) {
                std::vector<uint8_t> m = sender_message(s, seq);
                EXPECT_EQ(pci_send(m.data(), static_cast<UINT32>(m.size()), s), 0);
            }
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
}

TEST_F(PciTest, SeveralSendersWhileTheFarSideSends) {
    std::thread far_sender([] {
        for (uint32_t n = 0; n < 100; ++n) {
            sim::pci_inject(numbered(n, 1 + n % 50), n);
        }
    });
    run_senders();
    far_sender.join();
    ASSERT_TRUE(wait_taken(kSenders * kPerSender));
    check_per_sender_order(sim::pci_taken());
    ASSERT_TRUE(wait_until([] { return received_count() == 100; }));
    std::vector<bsp::test::PciReceived> got = received();
    for (uint32_t n = 0; n < 100; ++n) {
        EXPECT_EQ(got[n].bytes, numbered(n, 1 + n % 50));
        EXPECT_EQ(got[n].dev, n);
    }
}

TEST_F(PciTest, SeveralSendersAgainstAFullQueue) {
    sim::pci_hold_acks(true);
    std::atomic<bool> done{false};
    std::thread releaser([&done] {
        while (!done.load()) {
            if (!sim::pci_release_ack()) {
                std::this_thread::yield();
            }
        }
    });
    run_senders();
    done = true;
    releaser.join();
    sim::pci_hold_acks(false);
    ASSERT_TRUE(wait_taken(kSenders * kPerSender));
    check_per_sender_order(sim::pci_taken());
}

}  // namespace
