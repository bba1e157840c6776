// Fixture of the PCI channel's tests: a fresh unit with the channel initialised and open,
// a receive callback that records what arrives, and helpers to look at the far side.
#ifndef BSP_TESTS_PCIDEV_PCI_FIXTURE_H
#define BSP_TESTS_PCIDEV_PCI_FIXTURE_H

#include <bsp_ctrl/pcidev.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

inline const std::string kClosed =
    "[PCI        0 ms] err: 'pci_send' called when driver is closed\n";
inline const std::string kFullQueue = "[PCI        0 ms] warning: 'pci_send' full queue\n";
inline const std::string kSpuriousAck =
    "[PCI        0 ms] warning: 'pci_tx_hisr' spurious interrupt or driver terminated\n";

struct PciReceived {
    Bytes bytes;
    uint32_t dev;
};

class PciTest : public SimTest {
  public:
    static constexpr UINT32 kVersion = 0x12345678;

    // What the receive callback has been given so far.
    static std::vector<PciReceived> received() { return state().all(); }
    static int record(UINT8 *msg, UINT32 len, UINT32 dev) {
        state().add({Bytes(msg, msg + len), dev});
        return 0;
    }

    // A message whose bytes tell its number: n, n >> 8, then a pattern.
    static Bytes numbered(uint32_t n, size_t len) {
        Bytes bytes(len);
        for (size_t i = 0; i < len; ++i) {
            bytes[i] = static_cast<uint8_t>(i == 0 ? n : i == 1 ? n >> 8 : n * 7 + i);
        }
        return bytes;
    }
    static int send(Bytes bytes, UINT32 dev = 1) {
        return pci_send(bytes.data(), static_cast<UINT32>(bytes.size()), dev);
    }

    static std::string pci_log() { return sim::log_text(DBG_PCI_INDEX); }
    // The bytes of every message the far side has taken so far.
    static std::vector<Bytes> taken_bytes() {
        std::vector<Bytes> out;
        for (const sim::PciMessage &m : sim::pci_taken()) {
            out.push_back(m.bytes);
        }
        return out;
    }
    // Waits until the far side has taken `n` messages in all and the interrupts have settled;
    // false if it took another number.
    static bool wait_taken(size_t n) {
        return wait_until([n] { return sim::pci_taken_count() >= n; }) && sim::pci_wait_idle() &&
               sim::pci_taken_count() == n;
    }

  protected:
    void SetUp() override {
        SimTest::SetUp();
        state().clear();
        init_pci();
        enable_pci();
        pci_install_rx_callback(record);
        ASSERT_EQ(pci_open(kVersion), 0);
    }
    void TearDown() override {
        pci_close();
        pci_install_rx_callback(nullptr);
        sim::pci_hold_acks(false);
        EXPECT_TRUE(sim::pci_wait_idle());
        SimTest::TearDown();
    }

  private:
    static Recorded<PciReceived> &state() {
        static Recorded<PciReceived> s;
        return s;
    }
};

}  // namespace bsp::test

#endif
