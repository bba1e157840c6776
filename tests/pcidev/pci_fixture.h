// Fixture of the PCI channel's tests: a fresh unit with the channel initialised and open,
// a receive callback that records what arrives, and helpers to look at the far side.
#ifndef BSP_TESTS_PCIDEV_PCI_FIXTURE_H
#define BSP_TESTS_PCIDEV_PCI_FIXTURE_H

#include <bsp_ctrl/pcidev.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

struct PciReceived {
    std::vector<uint8_t> bytes;
    uint32_t dev;
};

class PciTest : public SimTest {
  public:
    static constexpr UINT32 kVersion = 0x12345678;

    // What the receive callback has been given so far.
    static std::vector<PciReceived> received();
    static size_t received_count();
    static int record(UINT8 *msg, UINT32 len, UINT32 dev);

    // A message whose bytes tell its number: n, n >> 8, then a pattern.
    static std::vector<uint8_t> numbered(uint32_t n, size_t len);
    static int send(const std::vector<uint8_t> &bytes, UINT32 dev = 1);

    static std::string pci_log();
    // Waits until the far side has taken `n` messages in all.
    static bool wait_taken(size_t n);

  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    static std::mutex mutex_;
    static std::vector<PciReceived> received_;
};

}  // namespace bsp::test

#endif
