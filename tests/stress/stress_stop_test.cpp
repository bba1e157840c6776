// Stopping every family while workers still call it: the calls that race with a stop may
// fail, but none may crash, hang or race (run under ThreadSanitizer), and once the calls
// have ended a second stop leaves nothing behind.
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
        case 1: FlashRead(0, buf, sizeof buf); break;
        case 2: pci_send(buf, 1 + seq % 64, 1); break;
        case 3: FramerWrite(buf, 1 + seq % 64); break;
        case 4: ti_socket_write(reinterpret_cast<char *>(buf), 1 + seq % 64); break;
        default: DpdpSend(buf, 1 + seq % 64); break;
    }
}

TEST_F(StressTest, StoppingWhileCallsRunCrashesNothingAndLeavesNothingBehind) {
    QuietStdout quiet;
    const size_t descriptors = open_descriptor_count();
    const size_t files = sim::open_device_files();  // the PCI node of an earlier test
    bring_up();
    ASSERT_FALSE(HasFatalFailure());
    start_peers();
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> calls{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([w, &stop, &calls] {
            for (uint32_t seq = static_cast<uint32_t>(w); !stop; ++seq) {
                call_any(w, seq);
                ++calls;
            }
        });
    }
    std::this_thread::sleep_for(stress_duration() / 3);  // load before the stop, not a wait
    ASSERT_GT(calls.load(), 0u);
    // The stop order, with the calls still running (results depend on the race).
    DpdpSetCallback(nullptr);
    DpdpClose();
    ti_socket_close();
    FramerClose();
    FramerDelete();
    pci_close();
    pci_install_rx_callback(nullptr);
    FlashDelete();
    DbDelete(0);  // refused while a worker holds an object: done again below
    const uint64_t at_stop = calls.load();
    ASSERT_TRUE(wait_until([&calls, at_stop] { return calls.load() > at_stop + 2000; }));
    stop = true;
    for (std::thread &t : workers) {
        t.join();
    }
    DbDelete(0);
    up_ = false;
    stop_peers();
    EXPECT_TRUE(sim::pci_wait_idle());
    EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    EXPECT_EQ(sim::running_tasks(), 0u);
    EXPECT_TRUE(sim::held_semaphores().empty());
    EXPECT_EQ(sim::open_device_files(), 1u);  // the PCI node, kept for the process's life
    EXPECT_EQ(open_descriptor_count(), descriptors + 1 - files);
    for (const sim::SemaphoreInfo &s : sim::semaphores()) {
        // The socket keeps its (free) semaphore until the next ti_socket_init.
        EXPECT_EQ(s.name, "ti_sock") << "semaphore left";
    }
}

}  // namespace
}  // namespace bsp::test
