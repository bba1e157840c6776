// The fault-injection matrix: for one family's representative operation, the n-th call of
// each OS service, device operation or heap allocation it makes is made to fail in turn,
// and the operation must report its failure code, leave no descriptor open, no semaphore
// held, no task or timer running beyond what it had, and succeed when run again.
#ifndef BSP_TESTS_FAULTS_MATRIX_H
#define BSP_TESTS_FAULTS_MATRIX_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/sim_fixture.h"

namespace bsp::test {

// A family's representative operation, built afresh on a fresh unit for every run.
class Operation {
  public:
    virtual ~Operation() = default;
    // The family's result codes for success and for a failure.
    virtual long ok_code() const { return 0; }
    virtual long fail_code() const { return 1; }
    // Whether `result` is one of the family's failure codes (default: fail_code()).
    virtual bool is_failure(long result) const { return result == fail_code(); }
    // Sets up the models and regions the operation needs (the unit is already fresh).
    virtual void prepare() {}
    // Runs the operation; its result code (the first failing step's, else ok_code()).
    virtual long run() = 0;
    // The library's documented clean-up after the operation, whether it failed or not.
    virtual void undo() {}
    // True where the library documents that a failure of this call is ignored: the
    // operation must then succeed.
    virtual bool ignored(sim::FaultOp, unsigned) const { return false; }
    // Simulated descriptors the family documents it keeps open after the clean-up.
    virtual size_t kept_files() const { return 0; }
    // Families that guard their devices with a POSIX semaphore: it must be free again.
    virtual bool device_lock_free() const { return true; }
};

using OperationFactory = std::unique_ptr<Operation> (*)();

template <typename T>
std::unique_ptr<Operation> make_operation() {
    return std::make_unique<T>();
}

// Every fault that the matrix walks. Semaphore release and deletion are not: the OS fails
// them only for a block that is no semaphore, and a failed release leaves the semaphore
// taken by definition, which no caller can mend.
extern const sim::FaultOp kMatrixOps[];
extern const size_t kMatrixOpCount;
std::string op_name(sim::FaultOp op);

// Walks every call of `op` that the operation makes; the number walked (0: none made).
unsigned walk_faults(OperationFactory make, sim::FaultOp op, const char *family);

// Names the matrix's test cases after the fault.
struct FaultName {
    std::string operator()(const ::testing::TestParamInfo<sim::FaultOp> &p) const {
        return op_name(p.param);
    }
};

// One family's matrix: a test per operation, instantiated over every fault.
class FaultMatrix : public ::testing::TestWithParam<sim::FaultOp> {};

}  // namespace bsp::test

// Instantiates a family's matrix suite over every fault.
#define BSP_FAULT_MATRIX(suite)                                                     \
    INSTANTIATE_TEST_SUITE_P(                                                       \
        Calls, suite,                                                               \
        ::testing::ValuesIn(::bsp::test::kMatrixOps,                                \
                            ::bsp::test::kMatrixOps + ::bsp::test::kMatrixOpCount), \
        ::bsp::test::FaultName())

// One operation's test in a family's matrix suite: walks every call of the fault's kind.
#define BSP_FAULT_CASE(suite, name, operation, family)                                   \
    TEST_P(suite, name) {                                                                \
        if (::bsp::test::walk_faults(::bsp::test::make_operation<operation>, GetParam(), \
                                     family) == 0) {                                     \
            GTEST_SKIP() << "the operation makes no such call";                          \
        }                                                                                \
    }                                                                                    \
    static_assert(true)

#endif
