// The simulated HDLC channel service on its own, driven through the calls the library makes.
#include <bsp_ctrl/platform/bsp_board.h>

#include "support/sim_fixture.h"

namespace {

namespace sim = bsp::sim;
using Bytes = std::vector<uint8_t>;

class HdlcModelTest : public bsp::test::SimTest {};

std::vector<UINT32> g_handler_ids;
void record_handler(UINT32 id) {
    g_handler_ids.push_back(id);
}

INT g_enable_result = 0;
INT enable_op() {
    return g_enable_result;
}
INT disable_op() {
    return 7;
}

TEST_F(HdlcModelTest, OnlyChannelZeroExists) {
    EXPECT_EQ(hdlc_open(1, 3, 1000000, 0, 15, 128), -1);
    EXPECT_EQ(hdlc_close(1), -1);
    EXPECT_EQ(hdlc_install_rx_callback(2, record_handler), -1);
    EXPECT_EQ(hdlc_set_reconf_ch_data(1, enable_op, disable_op), -1);
    UINT8 byte = 1;
    UINT32 n = 0;
    EXPECT_EQ(hdlc_put_frame(1, &byte, 1, &n), -1);
    EXPECT_TRUE(sim::hdlc_calls().empty());
}

TEST_F(HdlcModelTest, FramesArePutOnlyWhileOpen) {
    UINT8 frame[3] = {1, 2, 3};
    UINT32 taken = 99;
    EXPECT_EQ(hdlc_put_frame(0, frame, 3, &taken), -1);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(hdlc_close(0), -1);
    ASSERT_EQ(hdlc_open(0, 3, 1000000, 0, 15, 128), 0);
    EXPECT_EQ(hdlc_put_frame(0, frame, 3, &taken), 0);
    EXPECT_EQ(taken, 3u);
    EXPECT_EQ(hdlc_close(0), 0);
    EXPECT_EQ(sim::hdlc_sent_frames(), std::vector<Bytes>{Bytes({1, 2, 3})});
    EXPECT_EQ(
        sim::hdlc_calls(),
        (std::vector<std::string>{"put 3", "close", "open 3 1000000 0 15 128", "put 3", "close"}));
}

TEST_F(HdlcModelTest, ReceivedFramesAreGivenInOrderAndTooLongOnesDropped) {
    sim::hdlc_queue_rx({1, 2});
    sim::hdlc_queue_rx(Bytes(9, 5));
    sim::hdlc_queue_rx({3});
    EXPECT_EQ(hdlc_data_ready(0), 1);
    EXPECT_EQ(hdlc_data_ready(1), 0);
    UINT8 buf[8] = {};
    UINT32 size = 0;
    ASSERT_EQ(hdlc_get_frame(0, buf, 8, &size), 0);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(buf[1], 2);
    EXPECT_EQ(hdlc_get_frame(0, buf, 8, &size), -1);
    ASSERT_EQ(hdlc_get_frame(0, buf, 8, &size), 0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(hdlc_data_ready(0), 0);
    EXPECT_EQ(hdlc_get_frame(0, buf, 8, &size), -1);
}

TEST_F(HdlcModelTest, InjectedFailuresCountDown) {
    sim::hdlc_fail(sim::HdlcOp::Open, 2);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(hdlc_open(0, 0, 0, 0, 0, 0), 0);
    sim::hdlc_fail(sim::HdlcOp::Get);
    sim::hdlc_queue_rx({1});
    sim::hdlc_queue_rx({2});
    UINT8 buf[4];
    UINT32 size = 0;
    EXPECT_EQ(hdlc_get_frame(0, buf, 4, &size), -1);
    EXPECT_EQ(hdlc_get_frame(0, buf, 4, &size), 0);
    EXPECT_EQ(buf[0], 2);
}

TEST_F(HdlcModelTest, FarEndCallsTheInstalledOperations) {
    g_handler_ids.clear();
    EXPECT_FALSE(sim::hdlc_deliver());
    EXPECT_EQ(sim::hdlc_call_enable(), -1);
    hdlc_install_rx_callback(0, record_handler);
    hdlc_set_reconf_ch_data(0, enable_op, disable_op);
    EXPECT_TRUE(sim::hdlc_receive({1}));
    EXPECT_EQ(g_handler_ids, std::vector<UINT32>{0});
    g_enable_result = 1;
    EXPECT_EQ(sim::hdlc_call_enable(), 1);
    EXPECT_EQ(sim::hdlc_call_disable(), 7);
}

TEST_F(HdlcModelTest, ResetForgetsEverything) {
    hdlc_install_rx_callback(0, record_handler);
    hdlc_open(0, 0, 0, 0, 0, 0);
    sim::hdlc_queue_rx({1});
    sim::reset_unit();
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_FALSE(sim::hdlc_deliver());
    EXPECT_TRUE(sim::hdlc_calls().empty());
}

}  // namespace
