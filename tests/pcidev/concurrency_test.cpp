// Several application threads sending while the far side acknowledges and sends: every
// message arrives whole, each sender's in its order, through many wraps of the queue.
#include <thread>

#include "pci_fixture.h"

namespace {

using bsp::test::PciTest;
using bsp::test::wait_until;
namespace sim = bsp::sim;

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
