// The simulated unit's OS service layer is the host layer's: semaphores and tasks.
#ifndef BSP_SIM_OS_H
#define BSP_SIM_OS_H

#include <bsp_host/os.h>

namespace bsp::sim {

using bsp::host::held_semaphores;
using bsp::host::in_task_context;
using bsp::host::join_tasks;
using bsp::host::running_tasks;
using bsp::host::SemaphoreInfo;
using bsp::host::semaphores;

}  // namespace bsp::sim

#endif
