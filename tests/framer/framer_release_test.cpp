// Everything the framer opens is given back once it is closed and deleted.
#include <bsp_sim/sim.h>

#include "framer_fixture.h"

namespace bsp::test {
namespace {

TEST_F(FramerTest, CloseAndDeleteGiveBackEveryDescriptor) {
    const size_t before = open_descriptor_count();
    open_framer();
    peer_send(frame_of({1, 2, 3}));
    ASSERT_EQ(FramerClose(), 0u);
    ASSERT_EQ(FramerDelete(), 0u);
    ASSERT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    EXPECT_EQ(open_descriptor_count(), before);  // the receive task's wake descriptor too
}

}  // namespace
}  // namespace bsp::test
