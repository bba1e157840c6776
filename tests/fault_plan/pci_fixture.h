// The PCI channel opened on a fresh unit with a seeded plan, for the fault tests of both
// directions.
#ifndef BSP_TESTS_FAULT_PLAN_PCI_FIXTURE_H
#define BSP_TESTS_FAULT_PLAN_PCI_FIXTURE_H

#include <bsp_ctrl/pcidev.h>
#include <bsp_os.h>

#include "support/sim_fixture.h"

namespace bsp::test {

inline const std::string kSpuriousAck =
    "[PCI        0 ms] warning: 'pci_tx_hisr' spurious interrupt or driver terminated\n";

class PciFaultTest : public SimTest {
  protected:
    using Bytes = std::vector<uint8_t>;

    void SetUp() override {
        SimTest::SetUp();
        init_pci();
        enable_pci();
        ASSERT_EQ(pci_open(1), 0);
        sim::clear_log();
        sim::fault_plan_seed(0xbe11);
    }
    void TearDown() override {
        pci_close();
        EXPECT_TRUE(sim::pci_wait_idle());
        SimTest::TearDown();
    }
    static int send(Bytes bytes) {
        return pci_send(bytes.data(), static_cast<UINT32>(bytes.size()), 2);
    }
    // Exactly `n` messages taken once the interrupts have settled.
    static bool taken(size_t n) {
        return wait_until([n] { return sim::pci_taken_count() >= n; }) && sim::pci_wait_idle() &&
               sim::pci_taken_count() == n;
    }
    static std::string log() { return sim::log_text(DBG_PCI_INDEX); }
};

}  // namespace bsp::test

#endif
