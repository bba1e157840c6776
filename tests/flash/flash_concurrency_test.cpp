// Deleting and creating the flash while other threads read, write and ask for its geometry
// (run under ThreadSanitizer: a data race fails the test). No call may reach a descriptor
// that has been closed.
#include <bsp_ctrl/flash_api.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

class FlashConcurrencyTest : public SimTest {
  protected:
    void TearDown() override {
        FlashDelete();
        SimTest::TearDown();
    }
};

TEST_F(FlashConcurrencyTest, DeleteAndCreateWhileCallsRun) {
    ASSERT_EQ(FlashCreate(), 0u);
    const size_t descriptors = open_descriptor_count();
    std::atomic<bool> stop{false};
    std::atomic<unsigned> succeeded{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&stop, &succeeded, t] {
            uint8_t buf[32] = {};
            UINT32 base = 0;
            UINT32 size = 0;
            while (!stop) {
                UINT32 r = t == 0   ? FlashRead(0, buf, sizeof buf)
                           : t == 1 ? FlashWrite(buf, 64, sizeof buf)
                                    : FlashGetSectorInfo(1, &base, &size);
                EXPECT_LE(r, 1u);
                succeeded += r == 0 ? 1 : 0;
            }
        });
    }
    // At least 200 cycles, and on until the callers have been served now and then (a loaded
    // machine may not schedule them during the first cycles).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int i = 0; i < 200 || (succeeded < 10 && std::chrono::steady_clock::now() < deadline);
         ++i) {
        ASSERT_EQ(FlashDelete(), 0u);
        ASSERT_EQ(FlashCreate(), 0u);
    }
    stop = true;
    for (std::thread &t : callers) {
        t.join();
    }
    EXPECT_GT(succeeded.load(), 0u);
    EXPECT_EQ(open_descriptor_count(), descriptors);
    EXPECT_EQ(sim::open_device_files(), 1u);
}

}  // namespace
}  // namespace bsp::test
