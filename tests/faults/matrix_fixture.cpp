// The matrix walker shared by every family's fault-injection tests.
#include "matrix.h"

#include <bsp_sim/sim.h>

#include <cstdio>

namespace bsp::test {

using sim::FaultOp;

const FaultOp kMatrixOps[] = {
    FaultOp::SemCreate,  FaultOp::SemObtain,    FaultOp::TaskCreate, FaultOp::TimerCreate,
    FaultOp::PoolCreate, FaultOp::PoolAllocate, FaultOp::DriverInit, FaultOp::Open,
    FaultOp::Ioctl,      FaultOp::Read,         FaultOp::Write,      FaultOp::Lseek,
    FaultOp::Close,      FaultOp::HeapAllocate,
};
const size_t kMatrixOpCount = sizeof kMatrixOps / sizeof kMatrixOps[0];

std::string op_name(FaultOp op) {
    static const char *const names[] = {
        "SemCreate",  "SemObtain",    "SemRelease", "SemDelete",    "TaskCreate", "TimerCreate",
        "PoolCreate", "PoolAllocate", "DriverInit", "Open",         "Ioctl",      "Read",
        "Write",      "Lseek",        "Close",      "HeapAllocate",
    };
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(FaultOp::Count));
    return names[static_cast<size_t>(op)];
}

namespace {

// What the unit holds before the operation runs.
struct Residue {
    size_t files;
    size_t tasks;
    size_t timers;
};

Residue residue() {
    return {sim::open_device_files(), sim::running_tasks(), sim::enabled_timers()};
}

// The operation left nothing behind beyond `before`: descriptors, semaphores, tasks, timers.
void expect_clean(const Operation &o, const Residue &before) {
    EXPECT_TRUE(sim::held_semaphores().empty()) << sim::held_semaphores().front().name;
    EXPECT_TRUE(o.device_lock_free());
    EXPECT_TRUE(wait_until([&] { return sim::running_tasks() <= before.tasks; }))
        << sim::running_tasks() << " tasks running";
    EXPECT_LE(sim::open_device_files(), before.files + o.kept_files());
    EXPECT_EQ(sim::enabled_timers(), before.timers);
}

// Calls of `op` that one clean run of the operation makes.
unsigned count_calls(OperationFactory make, FaultOp op) {
    sim::reset_unit();
    auto o = make();
    o->prepare();
    unsigned before = sim::fault_op_calls(op);
    long result = o->run();
    unsigned calls = sim::fault_op_calls(op) - before;
    EXPECT_EQ(result, o->ok_code()) << "the operation fails with no fault injected";
    o->undo();
    return calls;
}

void walk_one(OperationFactory make, FaultOp op, unsigned n) {
    SCOPED_TRACE(op_name(op) + " call " + std::to_string(n));
    sim::reset_unit();
    auto o = make();
    o->prepare();
    Residue before = residue();
    sim::inject_fault({op, n, EIO, -1, ""});
    long result = o->run();
    if (o->ignored(op, n)) {
        EXPECT_EQ(result, o->ok_code()) << "a failure the library ignores";
    } else {
        EXPECT_TRUE(o->is_failure(result)) << "result " << result;
    }
    o->undo();
    expect_clean(*o, before);
    sim::clear_faults();
    EXPECT_EQ(o->run(), o->ok_code()) << "the next call fails";
    o->undo();
    expect_clean(*o, before);
    EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
}

}  // namespace

unsigned walk_faults(OperationFactory make, FaultOp op, const char *family) {
    unsigned count = count_calls(make, op);
    for (unsigned n = 1; n <= count && !::testing::Test::HasFatalFailure(); ++n) {
        walk_one(make, op, n);
    }
    std::printf("[matrix] %s %s %u %s\n", family, op_name(op).c_str(), count,
                ::testing::Test::HasFailure() ? "FAIL" : "ok");
    sim::reset_unit();
    return count;
}

}  // namespace bsp::test
