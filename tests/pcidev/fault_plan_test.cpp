// The PCI channel under the fault plan. A lost acknowledgement leaves the message counted
// in the transmit area, so later messages wait in the queue; repeated ones never cost a message.
// A doorbell of the library's that the far side never sees leaves the message in the transmit
// area: nothing acknowledges it, so later messages only queue and a sender that finds the queue
// full waits, pausing between looks, until the channel is opened again or terminated. One it
// sees twice takes nothing twice. A lost "taken" doorbell for a received message stalls
// nothing, because the cleared length words tell the same.
#include <algorithm>
#include <atomic>
#include <thread>

#include "pci_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;

const std::string kSpuriousAck =
    "[PCI        0 ms] warning: 'pci_tx_hisr' spurious interrupt or driver terminated\n";
const std::string kFullQueue = "[PCI        0 ms] warning: 'pci_send' full queue\n";
const std::string kClosed = "[PCI        0 ms] err: 'pci_send' called when driver is closed\n";

class PciFaultTest : public PciTest {
  protected:
    void SetUp() override {
        PciTest::SetUp();
        sim::clear_log();
        sim::fault_plan_seed(0xbe11);
    }
    static int send(const Bytes &bytes) { return PciTest::send(bytes, 2); }
    // Exactly `n` messages taken once the interrupts have settled.
    static bool taken(size_t n) {
        return wait_until([n] { return sim::pci_taken_count() >= n; }) && sim::pci_wait_idle() &&
               sim::pci_taken_count() == n;
    }
    static std::string log() { return pci_log(); }
};

TEST_F(PciFaultTest, LostAcknowledgementHoldsTheQueueUntilTheNextOne) {
    sim::fault_plan_at(BusFault::DoorbellLost, 1);
    ASSERT_EQ(send({1, 2, 3}), 0);
    ASSERT_TRUE(taken(1));
    ASSERT_EQ(send({4, 5}), 0);  // the area still counts as busy: only queued
    ASSERT_EQ(send({6}), 0);
    EXPECT_TRUE(taken(1));
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxLenL), 0);
    sim::pci_raise(sim::kPciBellTaken);  // the far side's next acknowledgement
    ASSERT_TRUE(taken(3));
    std::vector<sim::PciMessage> all = sim::pci_taken();
    EXPECT_EQ(all[1].bytes, (Bytes{4, 5}));
    EXPECT_EQ(all[2].bytes, (Bytes{6}));
    EXPECT_EQ(log(), "");
}

TEST_F(PciFaultTest, RandomDoorbellFaultsNeverLoseTheChannel) {
    uint64_t seed = sim::fault_plan_seed_from_env();
    RecordProperty("fault_seed", std::to_string(seed));
    sim::fault_plan_chance(BusFault::DoorbellLost, 0.1);
    sim::fault_plan_chance(BusFault::DoorbellRepeat, 0.1);
    for (uint8_t i = 1; i <= 30; ++i) {
        ASSERT_EQ(send({i}), 0);
        ASSERT_TRUE(sim::pci_wait_idle());
    }
    sim::fault_plan_seed(0);
    // The far side makes good each lost acknowledgement, so whatever waits goes out.
    for (int spare = 0; spare < 64 && sim::pci_taken_count() < 30; ++spare) {
        size_t before = sim::pci_taken_count();
        sim::pci_raise(sim::kPciBellTaken);
        ASSERT_TRUE(sim::pci_wait_idle());
        if (sim::pci_taken_count() == before) {
            break;
        }
    }
    std::vector<sim::PciMessage> all = sim::pci_taken();
    ASSERT_EQ(all.size(), 30u);
    for (uint8_t i = 1; i <= 30; ++i) {
        EXPECT_EQ(all[i - 1].bytes, Bytes{i});  // none lost, none twice, in order
    }
}

size_t count_of(const std::string &text, const std::string &line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++n;
    }
    return n;
}

std::vector<std::vector<uint8_t>> taken_bytes(size_t from) {
    std::vector<std::vector<uint8_t>> out;
    std::vector<sim::PciMessage> all = sim::pci_taken();
    for (size_t i = from; i < all.size(); ++i) {
        out.push_back(all[i].bytes);
    }
    return out;
}

TEST_F(PciFaultTest, LostOutgoingDoorbellLeavesTheMessageUntakenUntilReopened) {
    sim::fault_plan_at(BusFault::DoorbellOutLost, 1);
    ASSERT_EQ(send({1, 2, 3}), 0);  // the library cannot tell
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(sim::pci_taken_count(), 0u);
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxLenL), 3);  // still in the area
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxLenH), 0x0200);
    EXPECT_TRUE(sim::pci_doorbells().empty());
    EXPECT_EQ(send({4, 5}), 0);  // queued behind it, no doorbell rung
    EXPECT_EQ(send({6}), 0);
    EXPECT_TRUE(taken(0));
    EXPECT_EQ(log(), "");
    // Opening again drops the queue; the next message overwrites the area and goes out.
    ASSERT_EQ(pci_open(kVersion), 0);
    ASSERT_EQ(send({7, 8}), 0);
    ASSERT_TRUE(taken(1));
    EXPECT_EQ(taken_bytes(0), (std::vector<Bytes>{{7, 8}}));
    EXPECT_EQ(sim::pci_doorbells(), std::vector<uint16_t>{1});
    EXPECT_EQ(sim::fault_plan_events(BusFault::DoorbellOutLost), 2u);
    ASSERT_EQ(sim::fault_plan_log().size(), 1u);
    EXPECT_EQ(to_string(sim::fault_plan_log()[0]), "doorbell-out-lost #1 at 0");
}

TEST_F(PciFaultTest, FullQueueBehindALostDoorbellWaitsWithPausesUntilTerminated) {
    sim::fault_plan_at(BusFault::DoorbellOutLost, 1);
    for (uint8_t i = 1; i <= 64; ++i) {
        ASSERT_EQ(send({i}), 0);
    }
    std::atomic<int> result{1};
    auto start = std::chrono::steady_clock::now();
    std::thread sender([&] { result = send({65}); });
    // Five looks at the full queue, each after a pause of at least a millisecond.
    ASSERT_TRUE(wait_until([] { return count_of(log(), kFullQueue) >= 5; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4));
    EXPECT_EQ(result, 1);  // still waiting
    Bytes last = {0xee};
    EXPECT_EQ(pci_terminate(last.data(), 1, 3), 0);
    sender.join();
    EXPECT_EQ(result, -1);  // released, refused: the channel is no longer open
    // The last message replaced the stale one in the area and the far side took it; its
    // acknowledgement finds the queue dropped. Sender and interrupt log in either order.
    ASSERT_TRUE(taken(1));
    std::string text = log();
    size_t waits = count_of(text, kFullQueue);
    EXPECT_EQ(count_of(text, kClosed), 1u);
    EXPECT_EQ(count_of(text, kSpuriousAck), 1u);
    EXPECT_EQ(text.size(), waits * kFullQueue.size() + kClosed.size() + kSpuriousAck.size());
    EXPECT_EQ(sim::pci_taken()[0].bytes, last);
    EXPECT_EQ(sim::pci_taken()[0].dev, 3u);
    ASSERT_EQ(pci_open(kVersion), 0);
    EXPECT_EQ(send({66}), 0);
    EXPECT_TRUE(taken(2));
}

TEST_F(PciFaultTest, RepeatedOutgoingDoorbellTakesNothingTwice) {
    sim::fault_plan_at(BusFault::DoorbellOutRepeat, 1);
    ASSERT_EQ(send({1, 2}), 0);
    ASSERT_TRUE(taken(1));
    EXPECT_EQ(sim::pci_doorbells(), (std::vector<uint16_t>{1, 1}));
    ASSERT_EQ(send({3}), 0);
    ASSERT_TRUE(taken(2));
    EXPECT_EQ(taken_bytes(0), (std::vector<Bytes>{{1, 2}, {3}}));
    EXPECT_EQ(log(), "");  // one acknowledgement each: no spurious interrupt
}

TEST_F(PciFaultTest, LostTakenDoorbellOfAReceivedMessageStallsNothing) {
    sim::fault_plan_at(BusFault::DoorbellOutLost, 1);
    sim::pci_inject({0x11, 0x22}, 4);
    sim::pci_inject({0x33}, 4);  // waits for the area
    ASSERT_TRUE(wait_until([] { return sim::pci_rx_pending() == 0; }));
    ASSERT_TRUE(sim::pci_wait_idle());
    ASSERT_EQ(received_count(), 2u);
    EXPECT_EQ(received()[0].bytes, (Bytes{0x11, 0x22}));
    EXPECT_EQ(received()[1].bytes, Bytes{0x33});
    EXPECT_EQ(sim::pci_doorbells(), std::vector<uint16_t>{4});  // the first never arrived
    EXPECT_EQ(sim::fault_plan_log().size(), 1u);
}

}  // namespace

}  // namespace bsp::test
