// Refusal of service calls: the program hosting the layer may make chosen calls of the OS
// service layer fail as they would when the OS runs out of the resource (a semaphore, a
// task, a timer, pool memory). By default nothing is refused; a simulated unit refuses
// calls to test how the library copes.
#ifndef BSP_HOST_REFUSAL_H
#define BSP_HOST_REFUSAL_H

namespace bsp::host {

enum class ServiceCall {
    SemCreate,
    SemObtain,
    SemRelease,
    SemDelete,
    TaskCreate,
    TimerCreate,
    PoolCreate,
    PoolAllocate,
};

// Decides, for each call as it is made, whether it fails. Called from any thread.
using RefusalCheck = bool (*)(ServiceCall call);

// Installs the check (null: refuse nothing).
void set_refusal_check(RefusalCheck check);

// Whether the call being made must fail.
bool refused(ServiceCall call);

}  // namespace bsp::host

#endif
