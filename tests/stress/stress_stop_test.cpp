// Stopping every family that has a stop, and starting it again, while workers still call
// it: the calls that race with a stop or a start may fail, but none may crash, hang or race
// (run under ThreadSanitizer); afterwards nothing is left behind and a new start serves.
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/pcidev.h>
#include <bsp_ctrl/ti_socket_drv.h>
#include <bsp_sim/sim.h>

#include <string>

#include "stress_rig.h"

namespace bsp::test {
namespace {

// One call of a family with a stop; any result is accepted.
void call_any(int worker, uint32_t seq) {
    uint8_t buf[64] = {0x21, static_cast<uint8_t>(seq)};
    switch (seq % 6) {
        case 0: {
            UINT32 id = 0;
            std::string name = "own" + std::to_string(worker);
            std::string mode = seq % 12 ? "w+" : "r";
            if (DbObjOpen(0, &id, name.data(), mode.data()) == 0) {
                DbObjWrite(id, buf, sizeof buf);
                DbObjRead(id, buf, sizeof buf);
                DbObjClose(id);
            }
            break;
        }
        case 1:
            FlashRead(0, buf, sizeof buf);
            break;
        case 2:
            pci_send(buf, 1 + seq % 64, 1);
            break;
        case 3:
            FramerWrite(buf, 1 + seq % 64);
            break;
        case 4:
            ti_socket_write(reinterpret_cast<char *>(buf), 1 + seq % 64);
            break;
        default:
            DpdpSend(buf, 1 + seq % 64);
            break;
    }
}

// Workers making call_any until destroyed.
class CallLoad {
  public:
    explicit CallLoad(int workers) {
        for (int w = 0; w < workers; ++w) {
            threads_.emplace_back([this, w] {
                for (uint32_t seq = static_cast<uint32_t>(w); !stop_; ++seq) {
                    call_any(w, seq);
                    ++calls_;
                }
            });
        }
    }
    ~CallLoad() { stop(); }
    CallLoad(const CallLoad &) = delete;
    CallLoad &operator=(const CallLoad &) = delete;

    // Waits until `n` more calls have been made.
    bool more_calls(uint64_t n) {
        const uint64_t from = calls_.load();
        return wait_until([this, from, n] { return calls_.load() >= from + n; });
    }
    void stop() {
        stop_ = true;
        for (std::thread &t : threads_) {
            t.join();
        }
        threads_.clear();
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> calls_{0};
    std::vector<std::thread> threads_;
};

// The stop order; results depend on the race with the calls.
void stop_stoppable() {
    DpdpSetCallback(nullptr);
    DpdpClose();
    ti_socket_init(0);  // retires the socket: the one way to stop it
    FramerClose();
    FramerDelete();
    pci_close();
    pci_install_rx_callback(nullptr);
    FlashDelete();
    // Refused while a worker holds an object; it comes through between two of its calls.
    EXPECT_TRUE(wait_until([] { return DbDelete(0) == 0; }));
}

TEST_F(StressTest, StoppingWhileCallsRunCrashesNothingAndLeavesNothingBehind) {
    QuietStdout quiet;
    const size_t descriptors = open_descriptor_count();
    const size_t files = sim::open_device_files();  // the PCI node of an earlier test
    bring_up();
    ASSERT_FALSE(HasFatalFailure());
    start_peers();
    CallLoad load(kWorkers);
    std::this_thread::sleep_for(stress_duration() / 3);  // load before the stop, not a wait
    stop_stoppable();
    EXPECT_TRUE(load.more_calls(2000));
    load.stop();
    up_ = false;
    stop_peers_and_expect_all_ended();
    EXPECT_EQ(sim::open_device_files(), 1u);  // the PCI node, kept for the process's life
    // That node and the unopened socket of the init that retired the served one.
    EXPECT_EQ(open_descriptor_count(), descriptors + 2 - files);
    for (const sim::SemaphoreInfo &s : sim::semaphores()) {
        // The unopened socket's (free) semaphore.
        EXPECT_EQ(s.name, "ti_sock") << "semaphore left";
    }
}

TEST_F(StressTest, StartingAgainWhileCallsRunServesAgain) {
    QuietStdout quiet;
    bring_up();
    ASSERT_FALSE(HasFatalFailure());
    start_peers();
    CallLoad load(kWorkers);
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(stress_duration() / 6);  // load, not a wait
        stop_stoppable();
        ASSERT_TRUE(load.more_calls(500));
        start_stoppable(false);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
    const uint64_t framer_rx = stress_counters().framer_rx.load();
    const uint64_t socket_rx = stress_counters().socket_rx.load();
    EXPECT_TRUE(wait_until([framer_rx] { return stress_counters().framer_rx.load() > framer_rx; }));
    EXPECT_TRUE(wait_until([socket_rx] { return stress_counters().socket_rx.load() > socket_rx; }));
    load.stop();
    shut_down();
    stop_peers_and_expect_all_ended();
}

}  // namespace
}  // namespace bsp::test
