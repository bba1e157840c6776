// Sending: packets go out unchanged, the 0 byte reconfigures instead, every failure is 1;
// a frame the line loses still reports sent.
#include "dpdp_fixture.h"

namespace {

using bsp::test::DpdpTest;
namespace sim = bsp::sim;

using Frames = std::vector<std::vector<uint8_t>>;

TEST_F(DpdpTest, PacketGoesOutUnchanged) {
    set_header(0x21);  // the header value is not added to sent packets
    EXPECT_EQ(send({0x30, 0x01, 0x02}), 0u);
    EXPECT_EQ(sim::hdlc_sent_frames(), (Frames{{0x30, 0x01, 0x02}}));
    EXPECT_EQ(dpdp_log(), "[DPDP        0] DpdpSend 3 VS 3 bytes\n");
    EXPECT_TRUE(sim::held_semaphores().empty());
}

TEST_F(DpdpTest, ZeroDispatcherByteReconfiguresInsteadOfSending) {
    sim::hdlc_clear_calls();
    EXPECT_EQ(send({0x00, 0x01}), 1u);
    EXPECT_EQ(sim::hdlc_calls(), (std::vector<std::string>{"close", "open 3 1000000 0 15 128"}));
    EXPECT_TRUE(sim::hdlc_is_open());
    EXPECT_TRUE(sim::hdlc_sent_frames().empty());
    EXPECT_EQ(npu_log(), "[HDLC channel 0] Dp/Dp reconfiguration");
    EXPECT_EQ(dpdp_log(), "");
}

TEST_F(DpdpTest, NullOrEmptyPacketIsRefused) {
    sim::hdlc_clear_calls();
    UINT8 byte = 0x21;
    EXPECT_EQ(DpdpSend(nullptr, 4), 1u);
    EXPECT_EQ(DpdpSend(&byte, 0), 1u);
    EXPECT_TRUE(sim::hdlc_calls().empty());
    EXPECT_EQ(npu_log(), "");
}

TEST_F(DpdpTest, RefusedPacketIsReportedAsFailure) {
    sim::hdlc_fail(sim::HdlcOp::Put);
    EXPECT_EQ(send({0x30, 0x01, 0x02}), 1u);
    EXPECT_EQ(dpdp_log(), "[DPDP        0] DpdpSend 0 VS 3 bytes\n");
    EXPECT_TRUE(sim::held_semaphores().empty());
}

TEST_F(DpdpTest, SendOnAClosedChannelFails) {
    ASSERT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(send({0x30}), 1u);
    EXPECT_TRUE(sim::hdlc_sent_frames().empty());
}

TEST_F(DpdpTest, BusySemaphoreFailsAtOnceWithoutSending) {
    sim::hdlc_clear_calls();
    sim::inject_fault({sim::FaultOp::SemObtain, 1, EIO, -1, ""});
    EXPECT_EQ(send({0x30}), 1u);
    EXPECT_TRUE(sim::hdlc_calls().empty());
    EXPECT_EQ(send({0x30}), 0u);
}

// The sender cannot tell a frame that the line loses.
TEST_F(DpdpTest, DroppedOutgoingFrameNeverReachesTheFarEnd) {
    sim::fault_plan_seed(0xd9d9);
    sim::fault_plan_at(sim::BusFault::HdlcOutDrop, 2);
    EXPECT_EQ(send({0x31, 1}), 0u);
    EXPECT_EQ(send({0x32, 2}), 0u);  // accepted, then lost
    EXPECT_EQ(send({0x33, 3}), 0u);
    EXPECT_EQ(sim::hdlc_sent_frames(), (Frames{{0x31, 1}, {0x33, 3}}));
    const std::string sent = "[DPDP        0] DpdpSend 2 VS 2 bytes\n";
    EXPECT_EQ(dpdp_log(), sent + sent + sent);
}

}  // namespace
