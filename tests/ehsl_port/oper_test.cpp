// The oper status store before the port layer is started (a process of its own).
#include "port_fixture.h"

namespace {

TEST(PortBeforeInit, OperStatusSetFailsWithoutTheStub) {
    if (kvu_info != nullptr) {
        GTEST_SKIP() << "the port layer was started earlier in this process";
    }
    EXPECT_EQ(ehsl_port_oper_status_set(1, 1), -1);
}

}  // namespace
