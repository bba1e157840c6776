// Fault injection: make the n-th call of an OS service or device operation fail, with a
// given errno, or (for reads and writes) transfer fewer bytes than asked.
#ifndef BSP_SIM_FAULT_H
#define BSP_SIM_FAULT_H

#include <cerrno>
#include <string>

namespace bsp::sim {

enum class FaultOp {
    SemCreate,
    SemObtain,
    SemRelease,
    SemDelete,
    TaskCreate,
    TimerCreate,
    PoolCreate,
    PoolAllocate,
    DriverInit,
    Open,
    Ioctl,
    Read,
    Write,
    Lseek,
    Close,
    HeapAllocate,  // malloc/calloc/realloc called from the library itself; fails with ENOMEM
    Count
};

struct FaultRule {
    FaultOp op;
    unsigned nth = 1;        // 1 = the next matching call; 0 = every matching call
    int error = EIO;         // errno of a failed device operation
    long short_length = -1;  // >= 0: a read or write transfers at most this many bytes
    std::string path = {};   // device operations: only this device path (empty: any)
};

void inject_fault(const FaultRule &rule);
void clear_faults();

// Calls of `op` made since the last reset (device operations on simulated devices only,
// heap allocations made by the library only).
unsigned fault_op_calls(FaultOp op);

// For the models: counts a call of `op` on `path` and tells whether it must fail; on a
// failure `error` is set, and for a short transfer `short_length` (else it stays -1).
bool fault_hit(FaultOp op, const std::string &path, int *error, long *short_length);
bool fault_hit(FaultOp op);

}  // namespace bsp::sim

#endif
