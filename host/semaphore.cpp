// OS semaphores over a mutex and condition variable, told apart by control-block address.
#include <bsp_ctrl/platform/bsp_os.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "bsp_host/clock.h"
#include "bsp_host/immortal.h"
#include "bsp_host/os.h"
#include "bsp_host/refusal.h"

namespace bsp::host {

namespace {

struct Semaphore {
    std::string name;
    int count = 0;
    int initial = 0;
    int waiters = 0;
    bool deleted = false;
    std::condition_variable cv;
};

struct Table {
    std::mutex mutex;  // guards the map and every semaphore's state
    std::map<const NU_SEMAPHORE *, std::shared_ptr<Semaphore>> sems;
};

Table &table() {
    return immortal<Table>();
}

std::shared_ptr<Semaphore> find(const NU_SEMAPHORE *block) {
    auto it = table().sems.find(block);
    return it == table().sems.end() ? nullptr : it->second;
}

void wake_and_forget_all() {
    std::lock_guard lock(table().mutex);
    for (auto &[block, sem] : table().sems) {
        sem->deleted = true;
        sem->cv.notify_all();
    }
    table().sems.clear();
}

constexpr STATUS kFailure = -1;
constexpr STATUS kTimeout = -50;
constexpr STATUS kUnavailable = -26;
constexpr STATUS kDeleted = -31;

}  // namespace

void reset_semaphores() {
    wake_and_forget_all();
}

std::vector<SemaphoreInfo> semaphores() {
    std::lock_guard lock(table().mutex);
    std::vector<SemaphoreInfo> out;
    for (auto &[block, sem] : table().sems) {
        out.push_back({sem->name, block, sem->count, sem->initial, sem->waiters});
    }
    return out;
}

std::vector<SemaphoreInfo> held_semaphores() {
    std::vector<SemaphoreInfo> out;
    for (const SemaphoreInfo &s : semaphores()) {
        if (s.count < s.initial) {
            out.push_back(s);
        }
    }
    return out;
}

}  // namespace bsp::host

using bsp::host::refused;
using bsp::host::ServiceCall;
using bsp::host::table;

extern "C" {

STATUS OS_Create_Semaphore(NU_SEMAPHORE *semaphore, CHAR *name, UNSIGNED initial_count, OPTION) {
    if (semaphore == nullptr || refused(ServiceCall::SemCreate)) {
        return bsp::host::kFailure;
    }
    auto sem = std::make_shared<bsp::host::Semaphore>();
    sem->name = name ? name : "";
    sem->count = sem->initial = static_cast<int>(initial_count);
    std::lock_guard lock(table().mutex);
    table().sems[semaphore] = sem;
    return NU_SUCCESS;
}

STATUS OS_Obtain_Semaphore(NU_SEMAPHORE *semaphore, UNSIGNED suspend) {
    if (refused(ServiceCall::SemObtain)) {
        return bsp::host::kFailure;
    }
    std::unique_lock lock(table().mutex);
    auto sem = bsp::host::find(semaphore);
    if (!sem) {
        return bsp::host::kFailure;
    }
    if (sem->count == 0 && suspend == NU_NO_SUSPEND) {
        return bsp::host::kUnavailable;
    }
    ++sem->waiters;
    auto ready = [&] { return sem->count > 0 || sem->deleted; };
    bool got = true;
    if (suspend == NU_SUSPEND) {
        sem->cv.wait(lock, ready);
    } else {
        auto limit = std::chrono::milliseconds(uint64_t{suspend} * bsp::host::kTickMs);
        got = sem->cv.wait_for(lock, limit, ready);
    }
    --sem->waiters;
    if (sem->deleted) {
        return bsp::host::kDeleted;
    }
    if (!got) {
        return bsp::host::kTimeout;
    }
    --sem->count;
    return NU_SUCCESS;
}

STATUS OS_Release_Semaphore(NU_SEMAPHORE *semaphore) {
    if (refused(ServiceCall::SemRelease)) {
        return bsp::host::kFailure;
    }
    std::lock_guard lock(table().mutex);
    auto sem = bsp::host::find(semaphore);
    if (!sem) {
        return bsp::host::kFailure;
    }
    ++sem->count;
    sem->cv.notify_one();
    return NU_SUCCESS;
}

STATUS OS_Delete_Semaphore(NU_SEMAPHORE *semaphore) {
    if (refused(ServiceCall::SemDelete)) {
        return bsp::host::kFailure;
    }
    std::lock_guard lock(table().mutex);
    auto sem = bsp::host::find(semaphore);
    if (!sem) {
        return bsp::host::kFailure;
    }
    sem->deleted = true;
    sem->cv.notify_all();
    table().sems.erase(semaphore);
    return NU_SUCCESS;
}

}  // extern "C"
