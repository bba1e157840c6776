// Opening, closing and reconfiguring the channel; sending: packets go out unchanged, the 0
// byte reconfigures instead, every failure is 1; a frame the line loses still reports sent.
#include "dpdp_fixture.h"

namespace {

using bsp::test::DpdpTest;
namespace sim = bsp::sim;

using Frames = std::vector<std::vector<uint8_t>>;

const char *kOpenCall = "open 3 1000000 0 15 128";

class DpdpOpenTest : public bsp::test::SimTest {
  protected:
    void TearDown() override {
        DpdpClose();
        SimTest::TearDown();
    }
};

TEST_F(DpdpOpenTest, InitRegistersTheReconfigurationAndOpenUsesTheChannelSettings) {
    EXPECT_EQ(DpdpInstall(), 0u);
    EXPECT_EQ(DpdpInit(), 0);
    EXPECT_EQ(DpdpOpen(DpdpTest::record_rx), 0u);
    EXPECT_EQ(sim::hdlc_calls(), (std::vector<std::string>{"set_reconf", kOpenCall, "install_rx"}));
    EXPECT_EQ(sim::log_text(DBG_DPDP_INDEX), "[DPDP        0] DpdpOpen SUCCESS\n");
    std::vector<sim::SemaphoreInfo> sems = sim::semaphores();
    ASSERT_EQ(sems.size(), 1u);
    EXPECT_EQ(sems[0].name, "DPDP_SEM");
    EXPECT_EQ(sems[0].initial, 1);
    EXPECT_EQ(DpdpUninstall(), 0u);
}

TEST_F(DpdpOpenTest, FailedOpenStillInstallsTheHandlerAndReportsFailure) {
    DpdpInit();
    sim::advance_clock_ms(4321);
    sim::hdlc_fail(sim::HdlcOp::Open);
    EXPECT_EQ(DpdpOpen(DpdpTest::record_rx), 1u);
    EXPECT_EQ(sim::log_text(DBG_DPDP_INDEX), "[DPDP     4321] DpdpOpen FAILURE\n");
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_TRUE(sim::hdlc_deliver());  // the handler is installed all the same
}

TEST_F(DpdpTest, CloseClosesTheChannelAndDeletesTheSemaphore) {
    EXPECT_EQ(DpdpClose(), 0u);
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_TRUE(sim::semaphores().empty());
    EXPECT_EQ(DpdpClose(), 1u);  // already closed
}

// The reconfiguration operations and the channel-up token that pairs disables with enables.
using Calls = std::vector<std::string>;

TEST_F(DpdpTest, EnableGivesTheTokenBack) {
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(DpDpEnable(), 0);
    EXPECT_TRUE(sim::hdlc_is_open());
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(DpDpDisable(), 1);  // a second disable without an enable closes nothing
    EXPECT_EQ(sim::hdlc_calls(), (Calls{"close", kOpenCall, "close"}));
}

TEST_F(DpdpTest, FailedEnableStillGivesTheTokenBack) {
    ASSERT_EQ(DpDpDisable(), 0);
    sim::hdlc_fail(sim::HdlcOp::Open);
    EXPECT_EQ(DpDpEnable(), 1);
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 1);  // the token was there; closing a closed channel fails
    EXPECT_EQ(sim::hdlc_calls(), Calls{"close"});
}

TEST_F(DpdpTest, FailedCloseIsReported) {
    sim::hdlc_fail(sim::HdlcOp::Close);
    EXPECT_EQ(DpDpDisable(), 1);
    EXPECT_TRUE(sim::hdlc_is_open());
}

TEST_F(DpdpTest, HdlcServiceDrivesTheReconfiguration) {
    EXPECT_EQ(sim::hdlc_call_disable(), 0);
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_call_disable(), 1);
    EXPECT_EQ(sim::hdlc_call_enable(), 0);
    EXPECT_TRUE(sim::hdlc_is_open());
}

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
    EXPECT_EQ(sim::hdlc_calls(), (Calls{"close", kOpenCall}));
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
