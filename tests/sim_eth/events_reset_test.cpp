// A reset while link events are still on their way: every one of them reaches the callback
// before the board description it may read is put back (under ThreadSanitizer, a callback
// reading the board during its reset is a data race).
#include <bsp_ctrl/platform/bsp_board.h>

#include <atomic>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

std::atomic<int> g_delivered{0};
std::atomic<int> g_saw_default{0};

int read_board(int, int) {
    ++g_delivered;
    g_saw_default += kvu_hal_get()->mii_addr_of_entry[0] == 1 ? 1 : 0;
    return 0;
}

TEST_F(SimTest, ResetDeliversPendingLinkEventsBeforeTheBoardIsReset) {
    kvu_hal_board_t b = sim::default_board();
    ASSERT_EQ(b.mii_addr_of_entry[0], 1);
    b.mii_addr_of_entry[0] = 7;
    sim::set_board(b);
    ASSERT_EQ(eth_ctrl_emac_sfp_SeisLinkUpEvent_install(read_board), 0);
    constexpr int kEvents = 300;
    for (int i = 0; i < kEvents; ++i) {
        sim::raise_port_link_event(1, i % 2 == 0, 100);
    }
    sim::reset_unit();
    EXPECT_EQ(g_delivered.load(), kEvents);
    EXPECT_EQ(g_saw_default.load(), 0);
    EXPECT_EQ(sim::board().mii_addr_of_entry[0], 1);
    EXPECT_TRUE(sim::link_events().empty());
}

}  // namespace
}  // namespace bsp::test
