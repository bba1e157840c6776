// Inspection of the OS service layer: semaphores and tasks.
#ifndef BSP_HOST_OS_H
#define BSP_HOST_OS_H

#include <bsp_ctrl/platform/bsp_os.h>

#include <chrono>
#include <string>
#include <vector>

namespace bsp::host {

struct SemaphoreInfo {
    std::string name;
    const NU_SEMAPHORE *block;
    int count;    // current count
    int initial;  // count given at creation
    int waiters;  // threads suspended in OS_Obtain_Semaphore
};

// Every semaphore created and not deleted.
std::vector<SemaphoreInfo> semaphores();

// Wakes every suspended caller with the "deleted" result and forgets every semaphore.
void reset_semaphores();

// Semaphores whose count is below their initial count (held by someone).
std::vector<SemaphoreInfo> held_semaphores();

// Tasks created and still running.
size_t running_tasks();

// Waits until every task has returned from its entry (joins them); false on time-out.
bool join_tasks(std::chrono::milliseconds deadline);

// True when the calling thread is one of the tasks started through OS_Create_Task.
bool in_task_context();

}  // namespace bsp::host

#endif
