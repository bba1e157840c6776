// The fixture every family's tests start from: a fresh simulated unit per test, with the
// manual clock and the debug log captured.
#ifndef BSP_TESTS_SUPPORT_SIM_FIXTURE_H
#define BSP_TESTS_SUPPORT_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <bsp_sim/sim.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace bsp::test {

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override;
};

// What a family's callbacks have handed over, in order. The callbacks run on the library's
// tasks, so every access takes the lock.
template <typename T>
class Recorded {
  public:
    void add(T item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    std::vector<T> all() const {
        std::lock_guard lock(mutex_);
        return items_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        items_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<T> items_;
};

// Polls `done` until it holds or `deadline` passes; true when it held.
bool wait_until(const std::function<bool()> &done,
                std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Descriptors the process has open right now (entries of /proc/self/fd).
size_t open_descriptor_count();

}  // namespace bsp::test

#endif
