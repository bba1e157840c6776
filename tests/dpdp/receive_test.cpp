// Receiving: dispatch on the first byte, the 0 byte that ends the handler's loop after a
// reconfiguration, frames the service fails to give.
#include "dpdp_fixture.h"

namespace {

using bsp::test::DpdpPacket;
using bsp::test::DpdpTest;
namespace sim = bsp::sim;

using bsp::test::Bytes;

struct DispatchCase {
    Bytes packet;
    bool dispatched;
    bool dispatch_function = true;  // without one, every packet goes to the callback
};

class DpdpDispatch : public DpdpTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DpdpDispatch, HeaderValueSelectsTheDispatchFunction) {
    set_header(0x21);
    DpdpSetCallback(GetParam().dispatch_function ? record_dispatch : nullptr);
    ASSERT_TRUE(sim::hdlc_receive(GetParam().packet));
    ASSERT_EQ(packets().size(), 1u);
    EXPECT_EQ(packets()[0].bytes, GetParam().packet);
    EXPECT_EQ(packets()[0].dispatched, GetParam().dispatched);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, DpdpDispatch,
    ::testing::Values(DispatchCase{{0x21, 0x01, 0x02}, true}, DispatchCase{{0x21}, true},
                      DispatchCase{{0x22, 0x01}, false}, DispatchCase{{0x20, 0x21}, false},
                      DispatchCase{{0xFF}, false}, DispatchCase{{0x21, 0x05}, false, false}));

TEST_F(DpdpTest, WithoutHeaderValueEveryPacketGoesToTheCallback) {
    if (header_ever_set()) {
        GTEST_SKIP() << "a header value, once set, stays for the life of the process";
    }
    DpdpSetCallback(record_dispatch);
    ASSERT_TRUE(sim::hdlc_receive({0x21, 0x01}));
    ASSERT_TRUE(sim::hdlc_receive({0x00 + 1}));
    ASSERT_EQ(packets().size(), 2u);
    EXPECT_FALSE(packets()[0].dispatched);
    EXPECT_FALSE(packets()[1].dispatched);
}

TEST_F(DpdpTest, AllWaitingFramesAreHandledInOneCall) {
    sim::hdlc_queue_rx({1});
    sim::hdlc_queue_rx({2, 2});
    sim::hdlc_queue_rx(Bytes(256, 3));
    ASSERT_TRUE(sim::hdlc_deliver());
    ASSERT_EQ(packets().size(), 3u);
    EXPECT_EQ(packets()[2].bytes, Bytes(256, 3));
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
}

TEST_F(DpdpTest, ZeroDispatcherByteReconfiguresAndEndsTheLoop) {
    sim::hdlc_clear_calls();
    sim::hdlc_queue_rx({1});
    sim::hdlc_queue_rx({0, 5});
    sim::hdlc_queue_rx({2});
    ASSERT_TRUE(sim::hdlc_deliver());
    ASSERT_EQ(packets().size(), 1u);
    EXPECT_EQ(sim::hdlc_calls(), (std::vector<std::string>{"close", "open 3 1000000 0 15 128"}));
    EXPECT_EQ(npu_log(), "[HDLC channel 0] Dp/Dp reconfiguration");
    EXPECT_EQ(sim::hdlc_rx_pending(), 1u);  // left for the next call
    ASSERT_TRUE(sim::hdlc_deliver());
    ASSERT_EQ(packets().size(), 2u);
    EXPECT_EQ(packets()[1].bytes, Bytes{2});
}

TEST_F(DpdpTest, FrameTheServiceFailsToGiveIsSkipped) {
    sim::advance_clock_ms(77);  // the log line carries the clock
    sim::hdlc_fail(sim::HdlcOp::Get);
    sim::hdlc_queue_rx({0, 0});         // its bytes are never looked at
    sim::hdlc_queue_rx({});             // an empty frame is skipped
    sim::hdlc_queue_rx(Bytes(257, 4));  // too long for the receive buffer: the service drops it
    sim::hdlc_queue_rx({6});
    ASSERT_TRUE(sim::hdlc_deliver());
    ASSERT_EQ(packets().size(), 1u);
    EXPECT_EQ(packets()[0].bytes, Bytes{6});
    EXPECT_EQ(npu_log(), "");
    EXPECT_EQ(dpdp_log(),
              "[DPDP       77] DpdpRxHandler: received packet, size: 1, id dispatcher: 6\n");
}

// A frame lost on the line is simply not delivered; the frames around it are.
TEST_F(DpdpTest, DroppedFrameIsNotDelivered) {
    sim::fault_plan_seed(0xd9d9);
    sim::fault_plan_at(sim::BusFault::HdlcDrop, 2);
    EXPECT_TRUE(sim::hdlc_receive({0x31, 1}));
    EXPECT_TRUE(sim::hdlc_receive({0x32, 2}));  // the service finds nothing waiting
    EXPECT_TRUE(sim::hdlc_receive({0x33, 3}));
    ASSERT_EQ(packets().size(), 2u);
    EXPECT_EQ(packets()[1].bytes, (Bytes{0x33, 3}));
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_EQ(dpdp_log(),
              "[DPDP        0] DpdpRxHandler: received packet, size: 2, id dispatcher: 49\n"
              "[DPDP        0] DpdpRxHandler: received packet, size: 2, id dispatcher: 51\n");
}

}  // namespace
