#include "support/sim_fixture.h"

#include <thread>

namespace bsp::test {

void SimTest::SetUp() { bsp::sim::reset_unit(); }

void SimTest::TearDown() {}

bool wait_until(const std::function<bool()> &done, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace bsp::test
