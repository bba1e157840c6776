// Heap allocation faults reach only the allocations the library makes itself.
#include <bsp_ctrl/i2cdev.h>

#include <bsp_sim/sim.h>

#include <cerrno>
#include <cstdlib>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using sim::FaultOp;

class HeapFaultTest : public SimTest {
  protected:
    void TearDown() override {
        sim::clear_faults();
        SimTest::TearDown();
    }
};

TEST_F(HeapFaultTest, OwnAllocationsAreNeitherCountedNorFailed) {
    sim::inject_fault({FaultOp::HeapAllocate, 0});  // every call
    void *m = std::malloc(32);
    void *c = std::calloc(4, 8);
    void *r = std::realloc(m, 64);
    EXPECT_NE(c, nullptr);
    EXPECT_NE(r, nullptr);
    std::free(c);
    std::free(r);
    EXPECT_EQ(sim::fault_op_calls(FaultOp::HeapAllocate), 0u);
}

// i2c_write_buf allocates its transfer buffer once per call, before touching the bus.
TEST_F(HeapFaultTest, LibraryAllocationIsCountedAndFailsWithEnomem) {
    sim::add_i2c_chip(1, 0x20, std::make_shared<sim::RegisterChip>(256, 1));
    UINT8 data[2] = {1, 2};
    ASSERT_EQ(i2c_write_buf(1, 0x20, 0, 1, data, 2, 0), 2);
    EXPECT_EQ(sim::fault_op_calls(FaultOp::HeapAllocate), 1u);
    sim::inject_fault({FaultOp::HeapAllocate, 1});
    errno = 0;
    EXPECT_EQ(i2c_write_buf(1, 0x20, 0, 1, data, 2, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(sim::fault_op_calls(FaultOp::HeapAllocate), 2u);
    EXPECT_EQ(sim::fault_op_calls(FaultOp::Open), 1u);       // the failed call reached no device
    EXPECT_EQ(i2c_write_buf(1, 0x20, 0, 1, data, 2, 0), 2);  // the rule is spent
}

}  // namespace
}  // namespace bsp::test
