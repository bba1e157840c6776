// The 1588 control block shared with the timer and driver contexts (run under
// ThreadSanitizer: a data race fails the test).
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "ecps_fixture.h"

namespace bsp::test {
namespace {

TEST_F(EcpsTest, PollingTimerRunsWhileTheAlarmPeriodChanges) {
    start();
    ASSERT_EQ(ecps_alarmPeriod_set(1, 1), 0);
    std::atomic<bool> stop{false};
    std::thread setter([&] {
        for (unsigned i = 2; !stop; ++i) {
            ASSERT_EQ(ecps_alarmPeriod_set(1, i), 0);
            unsigned int period = 0;
            ASSERT_EQ(ecps_alarmPeriod_get(1, &period), 0);
            ASSERT_GE(period, 2u);
        }
    });
    for (int i = 0; i < 300; ++i) {
        sim::advance_clock_ms(sim::kTickMs * 10);
    }
    stop = true;
    setter.join();
    EXPECT_EQ(sim::enabled_timers(), 1u);
}

TEST_F(EcpsTest, ShiftNotificationsWhileTheApplicationSetsCompensation) {
    start();
    ASSERT_EQ(ecps_delayCompOperMode_set(1, TELECOM), 0);
    std::thread radio([] {
        for (int i = 0; i < 500; ++i) {
            sim::radio_notify_shift(i % 7, -(i % 5), i & 1);
        }
    });
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(ecps_delayComp_set(1, i), 0);
        ASSERT_EQ(ecps_asymmetryCompensation_set(1, static_cast<unsigned>(i)), 0);
    }
    radio.join();
    ASSERT_TRUE(sim::radio_notify_shift(100, 200, 0));
    int delay = 0;
    ASSERT_EQ(ecps_delayComp_get(1, &delay), 0);
    EXPECT_EQ(delay, 499);
    EXPECT_EQ(reg32(0x52300), 499u + 100u);  // all inputs settled: the last write is whole
}

}  // namespace
}  // namespace bsp::test
