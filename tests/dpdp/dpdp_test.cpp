// The DPDP channel: opening, closing and the reconfiguration token; sending (packets go out
// unchanged, the 0 byte reconfigures instead, every failure is 1); receiving (dispatch on the
// first byte, the 0 byte that ends the handler's loop, frames the service fails to give or
// the line loses). Senders racing each other and the far end are the stress test's.
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using Calls = std::vector<std::string>;
using Frames = std::vector<Bytes>;

const char *kOpenCall = "open 3 1000000 0 15 128";

struct Packet {
    Bytes bytes;
    bool dispatched;  // given to the dispatch function, not the receive callback
    bool operator==(const Packet &) const = default;
};

Recorded<Packet> received;
bool header_ever_set = false;  // a header value, once set, stays for the life of the process

void record_rx(void *packet, UINT32 size) {
    auto *bytes = static_cast<uint8_t *>(packet);
    received.add({Bytes(bytes, bytes + size), false});
}

STATUS record_dispatch(UINT8 *packet, UINT32 size) {
    received.add({Bytes(packet, packet + size), true});
    return 0;
}

void set_header(UINT8 value) {
    header_ever_set = true;
    ASSERT_EQ(DpdpSetHeaderValue(value), 0u);
}

// The line loses the next frame put.
void lose_next_frame() {
    sim::fault_plan_seed(0xd9d9);
    sim::fault_plan_at(sim::BusFault::HdlcOutDrop, 1);
}

std::string dpdp_log() {
    return sim::log_text(DBG_DPDP_INDEX);
}

std::string npu_log() {
    return sim::log_text(sim::kNpuLogModule);
}

// The channel initialised and open with the recording callback; calls and log forgotten.
class DpdpTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        received.clear();
        ASSERT_EQ(DpdpInit(), 0);
        ASSERT_EQ(DpdpOpen(record_rx), 0u);
        sim::clear_log();
        sim::hdlc_clear_calls();
    }
    void TearDown() override {
        DpdpSetCallback(nullptr);
        DpdpClose();
        SimTest::TearDown();
    }
};

using DpdpOpenTest = SimTest;

// A failed open still installs the handler and reports the failure.
TEST_F(DpdpOpenTest, InitRegistersTheReconfigurationAndOpenUsesTheChannelSettings) {
    EXPECT_EQ(DpdpInstall() + DpdpUninstall(), 0u);
    EXPECT_EQ(DpdpInit(), 0);
    EXPECT_EQ(DpdpOpen(record_rx), 0u);
    EXPECT_EQ(sim::hdlc_calls(), (Calls{"set_reconf", kOpenCall, "install_rx"}));
    EXPECT_EQ(sim::log_text(DBG_DPDP_INDEX), "[DPDP        0] DpdpOpen SUCCESS\n");
    ASSERT_EQ(sim::semaphores().size(), 1u);
    EXPECT_EQ(sim::semaphores()[0].name, "DPDP_SEM");
    EXPECT_EQ(DpdpClose(), 0u);
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_TRUE(sim::semaphores().empty());
    EXPECT_EQ(DpdpClose(), 1u);  // already closed
    sim::clear_log();
    sim::hdlc_clear_calls();
    sim::advance_clock_ms(4321);
    sim::hdlc_fail(sim::HdlcOp::Open);
    EXPECT_EQ(DpdpOpen(record_rx), 1u);
    EXPECT_EQ(sim::log_text(DBG_DPDP_INDEX), "[DPDP     4321] DpdpOpen FAILURE\n");
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_calls(), (Calls{kOpenCall, "install_rx"}));
    DpdpClose();
}

// The service drives the reconfiguration through the operations that the init registered; a
// disable takes the channel-up token, an enable gives it back even when the open fails.
TEST_F(DpdpTest, DisableTakesTheTokenAndEnableGivesItBack) {
    EXPECT_EQ(sim::hdlc_call_disable(), 0);
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_call_disable(), 1);  // no token: closes nothing
    sim::hdlc_fail(sim::HdlcOp::Open);
    EXPECT_EQ(sim::hdlc_call_enable(), 1);
    EXPECT_EQ(DpDpDisable(), 1);  // the token was there; closing a closed channel fails
    EXPECT_EQ(DpDpEnable(), 0);
    EXPECT_TRUE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_calls(), (Calls{"close", kOpenCall, "close", kOpenCall}));
    sim::hdlc_fail(sim::HdlcOp::Close);
    EXPECT_EQ(DpDpDisable(), 1);
    EXPECT_TRUE(sim::hdlc_is_open());
}

// A packet sent in some state of the channel: the result, the service's calls, the frames
// that reach the far end and the family's log.
struct SendCase {
    const char *name;
    void (*arrange)();
    Bytes packet;
    UINT32 result;
    Calls calls;
    Frames frames;
    std::string log;
};

class DpdpSendTest : public DpdpTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(DpdpSendTest, ReportsAndPutsWhatTheChannelAllows) {
    const SendCase &c = GetParam();
    c.arrange();
    EXPECT_EQ(
        DpdpSend(const_cast<uint8_t *>(c.packet.data()), static_cast<UINT32>(c.packet.size())),
        c.result);
    EXPECT_EQ(sim::hdlc_calls(), c.calls);
    EXPECT_EQ(sim::hdlc_sent_frames(), c.frames);
    EXPECT_EQ(dpdp_log(), c.log);
    const bool zero = !c.packet.empty() && c.packet[0] == 0;
    EXPECT_EQ(npu_log(), zero ? "[HDLC channel 0] Dp/Dp reconfiguration" : "");
    EXPECT_TRUE(sim::held_semaphores().empty());
    EXPECT_EQ(DpdpSend(nullptr, 4), 1u);
}

const std::string kSent3 = "[DPDP        0] DpdpSend 3 VS 3 bytes\n";
const std::string kSent0 = "[DPDP        0] DpdpSend 0 VS 3 bytes\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, DpdpSendTest, ::testing::Values(
    // the header value is not added to sent packets
    SendCase{"Unchanged", [] { set_header(0x21); }, {0x30, 1, 2}, 0, {"put 3"}, {{0x30, 1, 2}}, kSent3},
    SendCase{"ZeroByteReconfigures", [] {}, {0, 1}, 1, {"close", kOpenCall}, {}, ""},
    SendCase{"LostOnTheLine", lose_next_frame, {0x30, 1, 2}, 0, {"put 3"}, {}, kSent3},  // the sender cannot tell
    SendCase{"Empty", [] {}, {}, 1, {}, {}, ""},
    SendCase{"Refused", [] { sim::hdlc_fail(sim::HdlcOp::Put); }, {0x30, 1, 2}, 1, {"put 3"}, {}, kSent0},
    SendCase{"ChannelClosed", [] { DpDpDisable(); sim::hdlc_clear_calls(); }, {0x30, 1, 2}, 1, {"put 3"}, {}, kSent0}),
    [](const auto &p) { return std::string(p.param.name); });
// clang-format on

struct DispatchCase {
    Bytes packet;
    bool dispatched;
    bool dispatch_function = true;  // without one, every packet goes to the callback
    bool header = true;             // without a header value, so does every packet
};

class DpdpDispatch : public DpdpTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DpdpDispatch, HeaderValueSelectsTheDispatchFunction) {
    if (GetParam().header) {
        set_header(0x21);
    } else if (header_ever_set) {
        GTEST_SKIP() << "a header value, once set, stays for the life of the process";
    }
    DpdpSetCallback(GetParam().dispatch_function ? record_dispatch : nullptr);
    ASSERT_TRUE(sim::hdlc_receive(GetParam().packet));
    EXPECT_EQ(received.all(), (std::vector<Packet>{{GetParam().packet, GetParam().dispatched}}));
}

INSTANTIATE_TEST_SUITE_P(
    Packets, DpdpDispatch,
    ::testing::Values(DispatchCase{{0x21, 0x01, 0x02}, true}, DispatchCase{{0x21}, true},
                      DispatchCase{{0x22, 0x01}, false}, DispatchCase{{0x20, 0x21}, false},
                      DispatchCase{{0xFF}, false}, DispatchCase{{0x21, 0x05}, false, false},
                      DispatchCase{{0x21, 0x01}, false, true, false},
                      DispatchCase{{0x01}, false, true, false}));

// All waiting frames are handled in one call, up to a 0 dispatcher byte: that one
// reconfigures the channel and leaves the rest for the next call.
TEST_F(DpdpTest, ZeroDispatcherByteReconfiguresAndEndsTheLoop) {
    sim::hdlc_queue_rx({1});
    sim::hdlc_queue_rx(Bytes(256, 3));
    sim::hdlc_queue_rx({0, 5});
    sim::hdlc_queue_rx({2});
    ASSERT_TRUE(sim::hdlc_deliver());
    EXPECT_EQ(received.all(), (std::vector<Packet>{{{1}, false}, {Bytes(256, 3), false}}));
    EXPECT_EQ(sim::hdlc_calls(), (Calls{"close", kOpenCall}));
    EXPECT_EQ(npu_log(), "[HDLC channel 0] Dp/Dp reconfiguration");
    EXPECT_EQ(sim::hdlc_rx_pending(), 1u);  // left for the next call
    ASSERT_TRUE(sim::hdlc_deliver());
    EXPECT_EQ(received.all().back(), (Packet{{2}, false}));
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
}

// A frame the service fails to give, an empty one, one too long for the receive buffer and
// one lost on the line are skipped; the frames around them are delivered.
TEST_F(DpdpTest, FramesTheServiceFailsToGiveOrTheLineLosesAreSkipped) {
    sim::advance_clock_ms(77);  // the log line carries the clock
    sim::hdlc_fail(sim::HdlcOp::Get);
    sim::hdlc_queue_rx({0, 0});         // its bytes are never looked at
    sim::hdlc_queue_rx({});             // an empty frame is skipped
    sim::hdlc_queue_rx(Bytes(257, 4));  // too long for the receive buffer: the service drops it
    sim::hdlc_queue_rx({6});
    ASSERT_TRUE(sim::hdlc_deliver());
    sim::fault_plan_seed(0xd9d9);
    sim::fault_plan_at(sim::BusFault::HdlcDrop, 1);
    EXPECT_TRUE(sim::hdlc_receive({0x32, 2}));  // the service finds nothing waiting
    EXPECT_TRUE(sim::hdlc_receive({0x33, 3}));
    EXPECT_EQ(received.all(), (std::vector<Packet>{{{6}, false}, {{0x33, 3}, false}}));
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_EQ(npu_log(), "");
    EXPECT_EQ(dpdp_log(),
              "[DPDP       77] DpdpRxHandler: received packet, size: 1, id dispatcher: 6\n"
              "[DPDP       77] DpdpRxHandler: received packet, size: 2, id dispatcher: 51\n");
}

}  // namespace
}  // namespace bsp::test
