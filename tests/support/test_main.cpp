// Test entry point: refuses to run unless the simulated devices are reachable, so that no
// test ever talks to a real device of the machine.
#include <gmock/gmock.h>

#include <bsp_sim/unit.h>

int main(int argc, char **argv) {
    ::testing::InitGoogleMock(&argc, argv);
    bsp::sim::require_interposition();
    return RUN_ALL_TESTS();
}
