// OS tasks as threads started at once.
#include <bsp_ctrl/platform/bsp_os.h>

#include <condition_variable>
#include <cstdlib>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "bsp_host/immortal.h"
#include "bsp_host/os.h"
#include "bsp_host/refusal.h"

namespace bsp::host {

namespace {

struct Task {
    std::string name;
    std::thread thread;
    bool finished = false;
};

struct Tasks {
    std::mutex mutex;
    std::condition_variable finished_cv;
    std::list<Task> list;
};

Tasks &tasks() {
    return immortal<Tasks>();
}

thread_local bool t_in_task = false;

void join_finished_locked(std::unique_lock<std::mutex> &lock) {
    for (auto it = tasks().list.begin(); it != tasks().list.end();) {
        if (it->finished) {
            std::thread t = std::move(it->thread);
            it = tasks().list.erase(it);
            lock.unlock();
            if (t.joinable()) {  // not when detached at exit
                t.join();
            }
            lock.lock();
        } else {
            ++it;
        }
    }
}

// At exit, a task that has ended is joined and one still running is detached: it may end
// during the rest of the exit (when a library's static objects go), and must not be left
// unjoined then.
void settle_tasks_at_exit() {
    std::unique_lock lock(tasks().mutex);
    join_finished_locked(lock);
    for (Task &t : tasks().list) {
        t.thread.detach();
    }
}

}  // namespace

size_t running_tasks() {
    std::lock_guard lock(tasks().mutex);
    size_t n = 0;
    for (const Task &t : tasks().list) {
        n += t.finished ? 0 : 1;
    }
    return n;
}

bool join_tasks(std::chrono::milliseconds deadline) {
    std::unique_lock lock(tasks().mutex);
    bool all = tasks().finished_cv.wait_for(lock, deadline, [] {
        for (const Task &t : tasks().list) {
            if (!t.finished) {
                return false;
            }
        }
        return true;
    });
    join_finished_locked(lock);
    return all;
}

bool in_task_context() {
    return t_in_task;
}

}  // namespace bsp::host

extern "C" STATUS OS_Create_Task(NU_TASK *task, CHAR *name, OS_TASK_ENTRY entry, UNSIGNED argc,
                                 void *argv) {
    using namespace bsp::host;
    if (task == nullptr || entry == nullptr || refused(ServiceCall::TaskCreate)) {
        return -1;
    }
    static const bool settled_at_exit = std::atexit(settle_tasks_at_exit) == 0;
    (void)settled_at_exit;
    std::unique_lock lock(tasks().mutex);
    join_finished_locked(lock);
    Task &t = tasks().list.emplace_back();
    t.name = name ? name : "";
    t.thread = std::thread([&t, entry, argc, argv] {
        t_in_task = true;
        entry(argc, argv);
        std::lock_guard done(tasks().mutex);
        t.finished = true;
        tasks().finished_cv.notify_all();
    });
    return NU_SUCCESS;
}
