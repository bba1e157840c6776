// Receiving: every path of the receive state machine, fed by the far end of the line.
#include <bsp_sim/sim.h>

#include <random>

#include "framer_fixture.h"
#include "support/capture.h"

namespace bsp::test {
namespace {

using namespace std::chrono_literals;

TEST_F(FramerTest, FrameIsDeliveredInAZeroFilledBufferAndAnnounced) {
    StdoutCapture out;
    open_framer();
    ASSERT_TRUE(sim::serial_peer_write(frame_of(kA)));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_EQ(received_messages()[0], padded(kA));
    EXPECT_EQ(out.text().rfind("Allocated ti_req at 0x", 0), 0u);
}

TEST_F(FramerTest, LargestFrameIsDelivered) {
    open_framer();
    Bytes msg(588);
    for (size_t i = 0; i < msg.size(); ++i) {
        msg[i] = static_cast<uint8_t>(0x80 | i);  // never a carriage return or 5A
    }
    ASSERT_TRUE(sim::serial_peer_write(frame_of(msg)));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_EQ(received_messages()[0], msg);
}

struct StreamCase {
    std::string name;
    Bytes stream;
    std::vector<Bytes> delivered;  // before the settling marker
};

class FramerStreamTest : public FramerTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(FramerStreamTest, DeliversExactlyTheGoodFrames) {
    open_framer();
    ASSERT_TRUE(sim::serial_peer_write(GetParam().stream));
    EXPECT_EQ(settle(), GetParam().delivered);
    EXPECT_TRUE(sim::system_commands().empty());
}

std::vector<StreamCase> stream_cases() {
    Bytes stop = {0xA5, 0x5A, 0x3C, 0xC3};
    std::vector<StreamCase> cases = {
        {"TwoFramesBackToBack", concat({frame_of(kA), frame_of(kB)}), {padded(kA), padded(kB)}},
        {"GarbageBeforeAFrame",
         concat({{0x00, 0x11, 0x5A, 0xA5, 0x00, 0xFF}, frame_of(kB)}),
         {padded(kB)}},
        {"RepeatedFirstStartByteDoesNotSynchronise",
         concat({{0x5A}, frame_of(kA), frame_of(kB)}),
         {padded(kB)}},
        {"BrokenMarkerAtThirdByte", concat({{0x5A, 0xA5, 0x5A}, frame_of(kB)}), {padded(kB)}},
        {"BrokenMarkerAtFourthByte",
         concat({{0x5A, 0xA5, 0xC3, 0x5A}, frame_of(kB)}),
         {padded(kB)}},
        {"SwappedStopBytesDropTheFrame",
         concat(
             {{0x5A, 0xA5, 0xC3, 0x3C, 0, 0, 0, 20}, kA, {0xA5, 0x5A, 0xC3, 0x3C}, frame_of(kB)}),
         {padded(kB)}},
        // Length 12: the message is empty and the first byte after the length is consumed
        // as the message place, so the frame is judged on the four bytes after it.
        {"LengthTwelveSpendsOneByteBeforeTheStopMarker",
         concat({frame_with_length(12, {0x77}), frame_of(kB)}),
         {padded({}), padded(kB)}},
        {"CarriageReturnThenStartMarker", concat({{0x0D}, frame_of(kB)}), {padded(kB)}},
        {"CarriageReturnThenOtherByte",
         concat({{0x0D, 0x41, 0x0D, 0x41}, frame_of(kB)}),
         {padded(kB)}},
        {"StopMarkerBytesWithinTheMessage",
         frame_of(concat({stop, stop})),
         {padded(concat({stop, stop}))}},
        {"CarriageReturnsWithinTheMessage",
         frame_of({0x0D, 0x0D, 0x0D}),
         {padded({0x0D, 0x0D, 0x0D})}},
    };
    for (uint32_t length : {0u, 1u, 11u, 601u, 0xFFFFFFF0u}) {  // lengths no frame can have
        cases.push_back({"Length" + std::to_string(length) + "IsIgnored",
                         concat({frame_with_length(length, {}), frame_of(kB)}),
                         {padded(kB)}});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Streams, FramerStreamTest, ::testing::ValuesIn(stream_cases()),
                         [](const auto &p) { return p.param.name; });

TEST_F(FramerTest, TwoCarriageReturnsHandThePortToTheConsole) {
    open_framer(19200);
    ASSERT_TRUE(sim::serial_peer_write({0x0D, 0x0D}));
    ASSERT_TRUE(wait_until([] { return !sim::system_commands().empty(); }));
    EXPECT_EQ(sim::system_commands(), std::vector<std::string>{"getty -L ttyS0 19200 vt100"});
    EXPECT_TRUE(sim::join_tasks(10s));
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    UINT8 msg = 0x41;
    EXPECT_EQ(FramerWrite(&msg, 1), 1u);              // the framer is back to ready
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);  // its port is gone
    // The port is closed once: a later close runs no second console.
    EXPECT_EQ(FramerClose(), 0u);
    EXPECT_EQ(sim::system_commands().size(), 1u);
}

TEST_F(FramerTest, TimeOutInTheMiddleOfAFrameDropsIt) {
    open_framer();
    peer_send({0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x00, 0x00, 20, 0x11, 0x12, 0x13});
    sim::advance_clock_ms(1000);
    EXPECT_EQ(sim::enabled_timers(), 0u);
    ASSERT_TRUE(sim::serial_peer_write(frame_of(kB)));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_EQ(received_messages(), std::vector<Bytes>{padded(kB)});
}

TEST_F(FramerTest, TimeOutInTheLengthOrStopFieldStartsAgain) {
    open_framer();
    peer_send({0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x00});
    sim::advance_clock_ms(1000);
    peer_send(concat({frame_with_length(15, kB)}));
    ASSERT_TRUE(wait_for_messages(1));
    peer_send(concat({{0x5A, 0xA5, 0xC3, 0x3C, 0, 0, 0, 15}, kA, {0xA5}}));
    sim::advance_clock_ms(1000);
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(kB)});
}

TEST_F(FramerTest, SilenceShorterThanTheTimeOutKeepsTheFrame) {
    open_framer();
    Bytes whole = frame_of(kA);
    peer_send(Bytes(whole.begin(), whole.begin() + 10));
    sim::advance_clock_ms(999);
    peer_send(Bytes(whole.begin() + 10, whole.end() - 2));
    sim::advance_clock_ms(999);
    ASSERT_TRUE(sim::serial_peer_write(Bytes(whole.end() - 2, whole.end())));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_EQ(received_messages(), std::vector<Bytes>{padded(kA)});
}

TEST_F(FramerTest, WithoutTheTimeOutAStalledFrameSwallowsTheNextOne) {
    open_framer();
    peer_send({0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x00, 0x00, 20, 0x11, 0x12, 0x13});
    peer_send(frame_of(kB));
    EXPECT_TRUE(settle().empty());
}

TEST_F(FramerTest, CarriageReturnsMustComeWithinTheTimeOut) {
    open_framer();
    peer_send({0x0D});
    sim::advance_clock_ms(1000);
    peer_send({0x0D});
    EXPECT_TRUE(settle().empty());
    EXPECT_TRUE(sim::system_commands().empty());
}

TEST_F(FramerTest, FramesAreDroppedWithoutACallback) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(nullptr, 9600), 0u);
    peer_send(frame_of(kA));
    ASSERT_EQ(FramerOpen(record_message, 9600), 0u);
    EXPECT_TRUE(settle().empty());
}

// Arbitrary bytes (biased towards the markers, without the console's carriage returns) never
// make the receiver store out of bounds or lose its way for good: after a time-out it
// synchronises on the next frame.
TEST_F(FramerTest, ArbitraryBytesNeverBreakTheReceiver) {
    open_framer();
    std::mt19937 rng(1234);
    const uint8_t interesting[] = {0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x02, 0x4C, 0x58, 0xFF};
    Bytes noise(40000);
    for (uint8_t &b : noise) {
        b = rng() % 2 ? interesting[rng() % sizeof interesting] : static_cast<uint8_t>(rng());
        if (b == 0x0D) {
            b = 0x0E;
        }
    }
    noise.push_back(0x00);  // ignored by a receiver hunting for a start marker
    peer_send(noise);
    sim::advance_clock_ms(1000);
    for (const Bytes &m : settle()) {
        EXPECT_EQ(m.size(), kRxBufferSize);
    }
}

TEST_F(FramerTest, ReadFailureEndsTheTaskAndCloseStillWorks) {
    open_framer();
    sim::inject_fault({sim::FaultOp::Read, 1, EIO, -1, "/dev/ttyS0"});
    ASSERT_TRUE(sim::serial_peer_write({0x00}));
    EXPECT_TRUE(sim::join_tasks(10s));
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    EXPECT_EQ(FramerClose(), 0u);
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(sim::system_commands(), std::vector<std::string>{"getty -L ttyS0 9600 vt100"});
}

}  // namespace
}  // namespace bsp::test
