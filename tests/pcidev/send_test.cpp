// Sending: length and state checks, the transmit area's words, the 64-descriptor queue with
// its wait, open and terminate; several application threads sending while the far side
// acknowledges and sends. Then the channel under the fault plan: a doorbell of the library's
// that the far side never sees leaves the message in the transmit area, so later messages
// only queue until the channel is opened again or terminated; one it sees twice, or a
// repeated acknowledgement, never costs or doubles a message.
#include <atomic>
#include <thread>

#include "pci_fixture.h"

namespace bsp::test {
namespace {

using sim::BusFault;

enum class Before { Nothing, Close, Terminate };

struct LengthCase {
    UINT32 len;
    int result;
    std::string log;
    bool null_buffer = false;
    unsigned clock_ms = 0;
    Before before = Before::Nothing;
};

class PciSendLength : public PciTest, public ::testing::WithParamInterface<LengthCase> {};

// The log line carries the clock in milliseconds; a closed or terminated channel refuses.
TEST_P(PciSendLength, AcceptsOneTo1536BytesFromABufferOnAnOpenChannel) {
    std::vector<uint8_t> bytes(2000, 0x5A);
    if (GetParam().before == Before::Close) {
        pci_close();
    } else if (GetParam().before == Before::Terminate) {
        pci_terminate(nullptr, 0, 0);
    }
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
        LengthCase{4, -1, "[PCI        0 ms] err: 'pci_send' invalid buffer\n", true},
        LengthCase{1, -1, kClosed, false, 0, Before::Close},
        LengthCase{1, -1, kClosed, false, 0, Before::Terminate}));

TEST_F(PciTest, ThreeByteMessageOccupiesTwoWordsWithDeviceInTheHighLengthWord) {
    sim::pci_hold_acks(true);
    ASSERT_EQ(send({0x11, 0x22, 0x33}, 0x1A5), 0);
    ASSERT_TRUE(wait_taken(1));
    sim::PciMessage m = sim::pci_taken()[0];
    EXPECT_EQ(m.len_l, 3);
    EXPECT_EQ(m.len_h, 0xA500);  // only the low 8 bits of the device travel
    EXPECT_EQ(m.bytes, (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxBuff), 0x1122);
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxBuff + 2), 0x3300);
    EXPECT_EQ(sim::pci_doorbells(), std::vector<uint16_t>{1});
}

// A close lets the queued messages go out all the same. (A sender that finds the queue full
// waits: the several senders below, and the one behind a lost doorbell.)
TEST_F(PciTest, CloseKeepsTheQueue) {
    sim::pci_hold_acks(true);
    for (uint32_t n = 0; n < 3; ++n) {
        ASSERT_EQ(send(numbered(n, 8)), 0);
    }
    pci_close();
    sim::pci_hold_acks(false);
    ASSERT_TRUE(wait_taken(3));
    EXPECT_EQ(taken_bytes(), (std::vector<Bytes>{numbered(0, 8), numbered(1, 8), numbered(2, 8)}));
}

// Several senders at once against a queue that fills, while the far side sends: every
// message arrives whole, each sender's in its order, through many wraps of the queue.
constexpr uint32_t kSenders = 4;
constexpr uint32_t kPerSender = 150;

// Sender, sequence number and a pattern of them.
Bytes sender_message(uint32_t sender, uint32_t seq) {
    Bytes bytes = PciTest::numbered(seq, 3 + (sender * 31 + seq) % 90);
    bytes[2] = static_cast<uint8_t>(sender);
    return bytes;
}

TEST_F(PciTest, SeveralSendersAgainstAFullQueueWhileTheFarSideSends) {
    sim::pci_hold_acks(true);
    std::jthread releaser([](const std::stop_token &stop) {
        while (!stop.stop_requested()) {
            if (!sim::pci_release_ack()) {
                std::this_thread::yield();
            }
        }
    });
    std::thread far_sender([] {
        for (uint32_t n = 0; n < 100; ++n) {
            sim::pci_inject(numbered(n, 1 + n % 50), n);
        }
    });
    std::vector<std::jthread> threads;
    for (uint32_t s = 0; s < kSenders; ++s) {
        threads.emplace_back([s] {
            for (uint32_t seq = 0; seq < kPerSender; ++seq) {
                EXPECT_EQ(send(sender_message(s, seq), s), 0);
            }
        });
    }
    threads.clear();
    far_sender.join();
    releaser = {};  // stopped and joined
    sim::pci_hold_acks(false);
    ASSERT_TRUE(wait_taken(kSenders * kPerSender));
    std::vector<uint32_t> next(kSenders, 0);
    for (const sim::PciMessage &m : sim::pci_taken()) {
        ASSERT_GE(m.bytes.size(), 3u);
        uint32_t sender = m.bytes[2];
        ASSERT_LT(sender, kSenders);
        EXPECT_EQ(m.bytes, sender_message(sender, next[sender]++));
        EXPECT_EQ(m.dev, sender);
    }
    ASSERT_TRUE(wait_until([] { return received().size() == 100; }));
    std::vector<PciReceived> got = received();
    for (uint32_t n = 0; n < 100; ++n) {
        EXPECT_EQ(got[n].bytes, numbered(n, 1 + n % 50));
        EXPECT_EQ(got[n].dev, n);
    }
}

class PciFaultTest : public PciTest {
  protected:
    void SetUp() override {
        PciTest::SetUp();
        sim::clear_log();
        sim::fault_plan_seed(0xbe11);
    }
    static int send(const Bytes &bytes) { return PciTest::send(bytes, 2); }
};

TEST_F(PciFaultTest, RandomDoorbellFaultsNeverLoseTheChannel) {
    RecordProperty("fault_seed", std::to_string(sim::fault_plan_seed_from_env()));
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
    std::vector<Bytes> all = taken_bytes();
    ASSERT_EQ(all.size(), 30u);
    for (uint8_t i = 1; i <= 30; ++i) {
        EXPECT_EQ(all[i - 1], Bytes{i});  // none lost, none twice, in order
    }
}

TEST_F(PciFaultTest, LostOutgoingDoorbellLeavesTheMessageUntakenUntilReopened) {
    sim::fault_plan_at(BusFault::DoorbellOutLost, 1);
    ASSERT_EQ(send({1, 2, 3}), 0);  // the library cannot tell
    ASSERT_TRUE(sim::pci_wait_idle());
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxLenL), 3);  // still in the area
    EXPECT_EQ(sim::pci_peek16(sim::kPciTxLenH), 0x0200);
    EXPECT_TRUE(sim::pci_doorbells().empty());
    EXPECT_EQ(send({4, 5}), 0);  // queued behind it, no doorbell rung
    EXPECT_EQ(send({6}), 0);
    EXPECT_TRUE(wait_taken(0));
    EXPECT_EQ(pci_log(), "");
    // Opening again empties the queue; the next message overwrites the area and goes out.
    ASSERT_EQ(pci_open(kVersion), 0);
    ASSERT_EQ(send({7, 8}), 0);
    ASSERT_TRUE(wait_taken(1));
    EXPECT_EQ(taken_bytes(), (std::vector<Bytes>{{7, 8}}));
    EXPECT_EQ(sim::pci_doorbells(), std::vector<uint16_t>{1});
    EXPECT_EQ(sim::fault_plan_events(BusFault::DoorbellOutLost), 2u);
}

size_t count_of(const std::string &text, const std::string &line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++n;
    }
    return n;
}

// A sender that finds the queue full behind the lost doorbell waits, pausing between looks,
// until the channel is terminated, and is then refused. A terminate without a message sends
// nothing; one with a message places it directly, clamped, and drops the queue, so that the
// acknowledgement finds nothing to send. Each terminate has the logs handled for a restart.
TEST_F(PciFaultTest, FullQueueBehindALostDoorbellWaitsWithPausesUntilTerminated) {
    sim::fault_plan_at(BusFault::DoorbellOutLost, 1);
    for (uint8_t i = 1; i <= 64; ++i) {
        ASSERT_EQ(send({i}), 0);
    }
    std::atomic<int> result{1};
    auto start = std::chrono::steady_clock::now();
    std::thread sender([&] { result = send({65}); });
    // Five looks at the full queue, each after a pause of at least a millisecond.
    ASSERT_TRUE(wait_until([] { return count_of(pci_log(), kFullQueue) >= 5; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4));
    EXPECT_EQ(result, 1);  // still waiting
    UINT8 byte = 1;
    EXPECT_EQ(pci_terminate(nullptr, 5, 0), 0);
    EXPECT_EQ(pci_terminate(&byte, 0, 0), 0);
    sender.join();
    EXPECT_EQ(result, -1);  // released, refused: the channel is no longer open
    EXPECT_TRUE(sim::pci_doorbells().empty());
    Bytes last(2000, 0xEE);
    EXPECT_EQ(pci_terminate(last.data(), 2000, 3), 0);
    EXPECT_EQ(sim::restart_log_calls(), 3u);
    // The last message replaced the stale one in the area and the far side took it; its
    // acknowledgement finds the queue dropped. Sender and interrupt log in either order.
    ASSERT_TRUE(wait_taken(1));
    std::string text = pci_log();
    size_t waits = count_of(text, kFullQueue);
    EXPECT_EQ(count_of(text, kClosed), 1u);
    EXPECT_EQ(count_of(text, kSpuriousAck), 1u);
    EXPECT_EQ(text.size(), waits * kFullQueue.size() + kClosed.size() + kSpuriousAck.size());
    EXPECT_EQ(sim::pci_taken()[0].bytes, Bytes(1536, 0xEE));  // clamped
    EXPECT_EQ(sim::pci_taken()[0].dev, 3u);
    ASSERT_EQ(pci_open(kVersion), 0);
    EXPECT_EQ(send({66}), 0);
    EXPECT_TRUE(wait_taken(2));
}

TEST_F(PciFaultTest, RepeatedOutgoingDoorbellTakesNothingTwice) {
    sim::fault_plan_at(BusFault::DoorbellOutRepeat, 1);
    ASSERT_EQ(send({1, 2}), 0);
    ASSERT_TRUE(wait_taken(1));
    EXPECT_EQ(sim::pci_doorbells(), (std::vector<uint16_t>{1, 1}));
    ASSERT_EQ(send({3}), 0);
    ASSERT_TRUE(wait_taken(2));
    EXPECT_EQ(taken_bytes(), (std::vector<Bytes>{{1, 2}, {3}}));
    EXPECT_EQ(pci_log(), "");  // one acknowledgement each: no spurious interrupt
}

}  // namespace
}  // namespace bsp::test
