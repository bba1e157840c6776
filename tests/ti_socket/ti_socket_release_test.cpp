// Everything the socket opens is given back once it is closed.
#include <bsp_sim/sim.h>

#include "ti_socket_fixture.h"

namespace bsp::test {
namespace {

TEST_F(TiSocketTest, CloseGivesBackEveryDescriptor) {
    const size_t before = open_descriptor_count();
    {
        Client client;
        open_socket();
        connect_served(&client);
        ASSERT_EQ(ti_socket_close(), 0);
    }
    EXPECT_EQ(open_descriptor_count(), before);  // the receive task's wake descriptor too
}

}  // namespace
}  // namespace bsp::test
