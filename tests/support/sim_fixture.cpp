#include "support/sim_fixture.h"

#include <filesystem>
#include <thread>

namespace bsp::test {

void SimTest::SetUp() {
    bsp::sim::reset_unit();
}

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

size_t open_descriptor_count() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<size_t>(std::distance(entries, {})) - 1;  // the listing's own descriptor
}

}  // namespace bsp::test
