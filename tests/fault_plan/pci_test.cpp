// The PCI far side under the fault plan: a lost acknowledgement leaves the message counted
// in the transmit area, so later messages wait in the queue; a repeated one finds the queue
// empty and is reported as a spurious interrupt.
#include "pci_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;

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

TEST_F(PciFaultTest, RepeatedAcknowledgementIsASpuriousInterrupt) {
    sim::fault_plan_at(BusFault::DoorbellRepeat, 1);
    ASSERT_EQ(send({1}), 0);
    ASSERT_TRUE(taken(1));
    EXPECT_EQ(log(), kSpuriousAck);
    ASSERT_EQ(send({2}), 0);  // the queue is intact
    EXPECT_TRUE(taken(2));
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

}  // namespace

}  // namespace bsp::test
