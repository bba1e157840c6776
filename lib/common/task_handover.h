// Hands a control block to a task that the OS layer starts without an argument: the creator
// posts the block before creating the task and waits until the task has taken it. Every
// member runs under the owning family's state mutex, which also guards what the task marks
// about itself when it takes the block.
#ifndef BSP_LIB_COMMON_TASK_HANDOVER_H
#define BSP_LIB_COMMON_TASK_HANDOVER_H

#include <condition_variable>
#include <mutex>

namespace bsp {

template <typename Block>
class TaskHandover {
  public:
    constexpr TaskHandover(std::mutex &(*mutex)(), std::condition_variable &(*cv)())
        : mutex_(mutex), cv_(cv) {}

    void post(Block *block) {
        std::lock_guard lock(mutex_());
        pending_ = block;
    }
    // The task could not be created: nothing waits to be taken.
    void cancel() { post(nullptr); }
    void wait_taken() {
        std::unique_lock lock(mutex_());
        cv_().wait(lock, [this] { return pending_ == nullptr; });
    }
    // In the new task, with the state mutex held: the block it is to serve.
    Block *take_locked() {
        Block *block = pending_;
        pending_ = nullptr;
        cv_().notify_all();
        return block;
    }

  private:
    std::mutex &(*mutex_)();
    std::condition_variable &(*cv_)();
    Block *pending_ = nullptr;
};

}  // namespace bsp

#endif
