// Every family driven at once from several threads while every far end talks back, for a
// bounded time (STRESS_SECONDS, 3 s by default); run under ThreadSanitizer a data race fails
// the test. Afterwards nothing may be left behind: descriptors, device files, tasks, taken
// semaphores, and every object, page and sector holds what its owner wrote last.
#include <bsp_sim/sim.h>

#include "stress_rig.h"

namespace bsp::test {

void StressTest::run_workers(std::chrono::milliseconds duration) {
    auto end = std::chrono::steady_clock::now() + duration;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([this, w, end] {
            for (uint32_t seq = 0; std::chrono::steady_clock::now() < end; ++seq) {
                hammer(w, static_cast<int>((seq + static_cast<uint32_t>(w) * 3) % kFamilies), seq);
            }
        });
    }
    for (std::thread &t : workers) {
        t.join();
    }
}

void StressTest::run_cycle(bool at_boot, std::chrono::milliseconds duration) {
    bring_up(at_boot);
    if (HasFatalFailure()) {
        return;
    }
    start_peers();
    run_workers(duration);
    check_owned_contents();
    shut_down();
    stop_peers_and_expect_all_ended();
}

namespace {

TEST_F(StressTest, EveryFamilyAtOnceLeavesNothingBehind) {
    QuietStdout quiet;
    const size_t descriptors = open_descriptor_count();
    const size_t files = sim::open_device_files();  // the PCI node of an earlier test
    ASSERT_LE(files, 1u);
    run_cycle(true, stress_duration());
    // The PCI node stays open for the life of the process: the family has no stop for it.
    EXPECT_EQ(sim::open_device_files(), 1u);
    // That node and the unopened socket of the init that retired the served one.
    EXPECT_EQ(open_descriptor_count(), descriptors + 2 - files);

    const StressCounters &c = stress_counters();
    EXPECT_GT(c.pci_rx.load(), 0u);
    EXPECT_GT(c.framer_rx.load(), 0u);
    EXPECT_GT(c.socket_rx.load(), 0u);
    EXPECT_GT(c.dpdp_rx.load(), 0u);
    EXPECT_GT(c.serial_bytes_seen.load(), 0u);
    EXPECT_GT(c.tcp_bytes_seen.load(), 0u);
    EXPECT_GT(sim::pci_taken_count(), 0u);
    EXPECT_FALSE(sim::hdlc_sent_frames().empty());
    EXPECT_FALSE(sim::link_events().empty());
    RecordProperty("calls", std::to_string(c.calls.load()));
}

// A second start of every family that has a stop takes over what the first left (objects,
// EEPROM pages, flash sectors) and leaves exactly as much behind as the first.
TEST_F(StressTest, RestartedFamiliesLeaveNoMoreThanTheFirstStart) {
    QuietStdout quiet;
    run_cycle(true, stress_duration() / 2);
    const size_t descriptors = open_descriptor_count();
    const size_t semaphores = sim::semaphores().size();
    const size_t device_files = sim::open_device_files();
    const size_t timers = sim::enabled_timers();
    run_cycle(false, stress_duration() / 2);
    EXPECT_EQ(open_descriptor_count(), descriptors);
    EXPECT_EQ(sim::semaphores().size(), semaphores);
    EXPECT_EQ(sim::open_device_files(), device_files);
    EXPECT_EQ(sim::enabled_timers(), timers);
}

}  // namespace
}  // namespace bsp::test
