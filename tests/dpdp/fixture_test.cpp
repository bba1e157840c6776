// The DPDP fixture's definitions; opening, closing and reconfiguring the channel.
#include <bsp_ctrl/platform/bsp_os.h>

#include <mutex>

#include "dpdp_fixture.h"

namespace bsp::test {

namespace {

std::mutex g_mutex;
std::vector<DpdpPacket> g_packets;
bool g_header_set = false;

}  // namespace

void DpdpTest::SetUp() {
    SimTest::SetUp();
    {
        std::lock_guard lock(g_mutex);
        g_packets.clear();
    }
    ASSERT_EQ(DpdpInit(), 0);
    ASSERT_EQ(DpdpOpen(record_rx), 0u);
    sim::clear_log();
}

void DpdpTest::TearDown() {
    DpdpSetCallback(nullptr);
    DpdpClose();
    SimTest::TearDown();
}

void DpdpTest::record_rx(void *packet, UINT32 size) {
    auto *bytes = static_cast<uint8_t *>(packet);
    std::lock_guard lock(g_mutex);
    g_packets.push_back({std::vector<uint8_t>(bytes, bytes + size), false});
}

STATUS DpdpTest::record_dispatch(UINT8 *packet, UINT32 size) {
    std::lock_guard lock(g_mutex);
    g_packets.push_back({std::vector<uint8_t>(packet, packet + size), true});
    return 0;
}

std::vector<DpdpPacket> DpdpTest::packets() {
    std::lock_guard lock(g_mutex);
    return g_packets;
}

void DpdpTest::set_header(UINT8 value) {
    g_header_set = true;
    ASSERT_EQ(DpdpSetHeaderValue(value), 0u);
}

bool DpdpTest::header_ever_set() {
    return g_header_set;
}

UINT32 DpdpTest::send(const std::vector<uint8_t> &bytes) {
    std::vector<uint8_t> copy = bytes;
    return DpdpSend(copy.data(), static_cast<UINT32>(copy.size()));
}

std::string DpdpTest::dpdp_log() {
    return sim::log_text(DBG_DPDP_INDEX);
}

std::string DpdpTest::npu_log() {
    return sim::log_text(sim::kNpuLogModule);
}

}  // namespace bsp::test

namespace {

using bsp::test::DpdpTest;
namespace sim = bsp::sim;

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

TEST_F(DpdpTest, SecondDisableWithoutEnableClosesNothing) {
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(DpDpDisable(), 1);
    EXPECT_EQ(sim::hdlc_calls(), Calls{"close"});
}

TEST_F(DpdpTest, EnableGivesTheTokenBack) {
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(DpDpEnable(), 0);
    EXPECT_TRUE(sim::hdlc_is_open());
    EXPECT_EQ(DpDpDisable(), 0);
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

}  // namespace
