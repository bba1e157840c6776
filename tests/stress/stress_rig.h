// The stress rig: every family of the library brought up on one simulated unit in its start
// order, the far ends of every line played by peer threads, worker threads that call every
// family at once, and a shut-down in the stop order.
#ifndef BSP_TESTS_STRESS_STRESS_RIG_H
#define BSP_TESTS_STRESS_STRESS_RIG_H

#include <bsp_ctrl/bsp_types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

// Traffic the callbacks and peers saw (read after the run).
struct StressCounters {
    std::atomic<uint64_t> pci_rx{0};
    std::atomic<uint64_t> framer_rx{0};
    std::atomic<uint64_t> socket_rx{0};
    std::atomic<uint64_t> dpdp_rx{0};
    std::atomic<uint64_t> serial_bytes_seen{0};
    std::atomic<uint64_t> tcp_bytes_seen{0};
    std::atomic<uint64_t> calls{0};
};

StressCounters &stress_counters();

// How long the workers run: STRESS_SECONDS from the environment, 3 by default.
std::chrono::milliseconds stress_duration();

// Keeps the receive tasks' announcement of every buffer they allocate off standard output
// for its life, and passes everything else written there (test failures) on at the end.
class QuietStdout {
  public:
    QuietStdout();
    ~QuietStdout();
    QuietStdout(const QuietStdout &) = delete;
    QuietStdout &operator=(const QuietStdout &) = delete;

  private:
    std::unique_ptr<StdoutCapture> capture_;
};

class StressTest : public SimTest {
  public:
    static constexpr size_t kRegionSize = 64 * 1024;
    static constexpr int kWorkers = 4;
    static constexpr int kFamilies = 12;

  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts every family in its start order; fails the test when one does not start. The
    // families that start once per boot (port layer, port map, 1588, SEIS) only when
    // `at_boot`.
    void bring_up(bool at_boot = true);
    // The families that have a stop, in the start order: store, flash, PCI channel, framer,
    // socket, DPDP channel; with `at_boot` also the steps done once per boot (EEPROM probe,
    // PCI node attached, DPDP reconfiguration registered).
    void start_stoppable(bool at_boot);
    // Stops every family in its stop order.
    void shut_down();
    void start_peers();
    void stop_peers();
    // Stops the peers, then expects the far ends idle, every task ended and no semaphore held.
    void stop_peers_and_expect_all_ended();

    // Runs `kWorkers` workers for `duration`, each calling every family in turn.
    void run_workers(std::chrono::milliseconds duration);
    // One call (valid or invalid) of family `family` by worker `worker`.
    void hammer(int worker, int family, uint32_t seq);

    // Start, peers, workers for `duration`, contents check, stop, and the wait until the
    // far ends and every task are done.
    void run_cycle(bool at_boot, std::chrono::milliseconds duration);
    // After the run: every object, page and sector a worker owns holds its last write.
    void check_owned_contents();

    UINT8 *region_ = nullptr;
    std::atomic<int> tcp_port_{0};  // changes with every start of the socket
    uint32_t flash_size_ = 0;
    uint32_t flash_sectors_ = 0;
    std::vector<std::vector<uint8_t>> last_own_;  // per worker: last bytes of "own<i>"
    std::vector<uint32_t> last_flash_seq_;
    std::vector<uint32_t> last_e2prom_seq_;
    std::atomic<bool> stop_peers_{false};
    std::vector<std::thread> peers_;
    bool up_ = false;
};

// The self-describing record a worker writes to a shared object: header, bytes derived from
// it, trailing sum; `consistent` checks one read back.
std::vector<uint8_t> shared_record(int worker, uint32_t seq);
bool consistent_record(const std::vector<uint8_t> &bytes);

// The bytes worker `worker` writes on turn `seq` to its own object, page or sector.
std::vector<uint8_t> own_bytes(int worker, uint32_t seq, size_t size);

}  // namespace bsp::test

#endif
