// The simulated HDLC channel service on its own, where the library's tests do not reach it:
// other channels, failures that last several calls, and a reset.
#include <bsp_ctrl/platform/bsp_board.h>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace {

namespace sim = bsp::sim;
using bsp::test::Bytes;

class HdlcModelTest : public bsp::test::SimTest {};

void ignore_frame(UINT32) {}
INT reconfigure() {
    return 0;
}

TEST_F(HdlcModelTest, OnlyChannelZeroExists) {
    EXPECT_EQ(hdlc_open(1, 3, 1000000, 0, 15, 128), -1);
    EXPECT_EQ(hdlc_close(1), -1);
    EXPECT_EQ(hdlc_install_rx_callback(2, ignore_frame), -1);
    EXPECT_EQ(hdlc_set_reconf_ch_data(1, reconfigure, reconfigure), -1);
    UINT8 byte = 1;
    UINT32 n = 0;
    EXPECT_EQ(hdlc_put_frame(1, &byte, 1, &n), -1);
    EXPECT_EQ(hdlc_data_ready(1), 0);
    EXPECT_TRUE(sim::hdlc_calls().empty());
}

TEST_F(HdlcModelTest, InjectedFailuresCountDown) {
    sim::hdlc_fail(sim::HdlcOp::Open, 2);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), 0);
}

TEST_F(HdlcModelTest, ResetForgetsEverything) {
    hdlc_install_rx_callback(0, ignore_frame);
    hdlc_open(0, 0, 0, 0, 0, 0);
    sim::hdlc_queue_rx({1});
    sim::reset_unit();
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_FALSE(sim::hdlc_deliver());
    EXPECT_EQ(sim::hdlc_call_enable(), -1);  // no reconfiguration installed
    EXPECT_TRUE(sim::hdlc_calls().empty());
}

}  // namespace
