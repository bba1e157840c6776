#include "support/sim_fixture.h"

#include <dirent.h>

#include <thread>

namespace bsp::test {

void SimTest::SetUp() {
    bsp::sim::reset_unit();
}

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

size_t open_descriptor_count() {
    DIR *d = ::opendir("/proc/self/fd");
    if (d == nullptr) {
        return 0;
    }
    size_t n = 0;
    while (const dirent *e = ::readdir(d)) {
        n += e->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(d);
    return n - 1;  // the directory stream's own descriptor
}

}  // namespace bsp::test
