// Receiving: every path of the receive state machine, fed by the far end of the line, with
// the byte time-out and the fault plan's flipped and dropped bytes. After whatever broke a
// frame, the receiver must deliver the following good frame intact and once.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "framer_fixture.h"
#include "support/capture.h"

namespace bsp::test {
namespace {

using sim::BusFault;

// Bytes from the peer, then that much silence on the manual clock.
struct Step {
    Bytes bytes;
    int silence_ms = 0;
};

struct StreamCase {
    std::string name;
    std::vector<Step> steps;
    std::vector<Bytes> delivered;  // before the settling marker
    BusFault fault = BusFault::Count;
    uint64_t event = 0;  // each byte is one event of each serial kind: event n is byte n - 1
    uint32_t at = 0;
    friend void PrintTo(const StreamCase &c, std::ostream *os) { *os << c.name; }
};

class FramerStreamTest : public FramerTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(FramerStreamTest, DeliversExactlyTheGoodFrames) {
    StdoutCapture out;
    open_framer();
    if (GetParam().fault != BusFault::Count) {
        sim::fault_plan_seed(0x5e71a1);
        sim::fault_plan_at(GetParam().fault, GetParam().event, GetParam().at);
    }
    for (const Step &step : GetParam().steps) {
        peer_send(step.bytes);
        sim::advance_clock_ms(step.silence_ms);
        if (step.silence_ms >= 1000) {
            EXPECT_EQ(sim::enabled_timers(), 0u);  // the time-out fired and stays off
        }
    }
    EXPECT_EQ(settle(), GetParam().delivered);
    EXPECT_TRUE(sim::system_commands().empty());
    // Each receive buffer is announced as it is allocated.
    EXPECT_THAT(out.text(), ::testing::MatchesRegex("(Allocated ti_req at 0x[^\n]*\n)+"));
}

std::vector<StreamCase> stream_cases() {
    const Bytes stop = unhex("a5 5a 3c c3");
    const Bytes stalled = unhex("5a a5 c3 3c 00 00 00 14 11 12 13");  // 20 bytes announced
    Bytes largest(588);
    for (size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<uint8_t>(0x80 | i);  // never a carriage return or 5A
    }
    const Bytes a = frame_of(kA);
    Bytes flipped = kA;
    flipped[2] ^= 0x10;
    std::vector<StreamCase> cases = {
        {"TwoFramesBackToBack", {{concat({a, frame_of(kB)})}}, {padded(kA), padded(kB)}},
        {"LargestFrame", {{frame_of(largest)}}, {largest}},
        {"GarbageBeforeAFrame",
         {{concat({unhex("00 11 5a a5 00 ff"), frame_of(kB)})}},
         {padded(kB)}},
        {"RepeatedFirstStartByteDoesNotSynchronise",
         {{concat({{0x5A}, a, frame_of(kB)})}},
         {padded(kB)}},
        {"BrokenMarkerAtThirdByte", {{concat({unhex("5a a5 5a"), frame_of(kB)})}}, {padded(kB)}},
        {"BrokenMarkerAtFourthByte",
         {{concat({unhex("5a a5 c3 5a"), frame_of(kB)})}},
         {padded(kB)}},
        {"SwappedStopBytesDropTheFrame",
         {{concat({unhex("5a a5 c3 3c 00 00 00 14"), kA, unhex("a5 5a c3 3c"), frame_of(kB)})}},
         {padded(kB)}},
        // Length 12: the message is empty and the first byte after the length is consumed
        // as the message place, so the frame is judged on the four bytes after it.
        {"LengthTwelveSpendsOneByteBeforeTheStopMarker",
         {{concat({frame_with_length(12, {0x77}), frame_of(kB)})}},
         {padded({}), padded(kB)}},
        {"CarriageReturnThenStartMarker", {{concat({{0x0D}, frame_of(kB)})}}, {padded(kB)}},
        {"CarriageReturnThenOtherByte",
         {{concat({unhex("0d 41 0d 41"), frame_of(kB)})}},
         {padded(kB)}},
        {"StopMarkerBytesWithinTheMessage",
         {{frame_of(concat({stop, stop}))}},
         {padded(concat({stop, stop}))}},
        {"CarriageReturnsWithinTheMessage",
         {{frame_of({0x0D, 0x0D, 0x0D})}},
         {padded({0x0D, 0x0D, 0x0D})}},
        {"StalledFrameSwallowsTheNextWithoutATimeOut", {{concat({stalled, frame_of(kB)})}}, {}},
        {"TimeOutInTheMiddleOfAFrameDropsIt", {{stalled, 1000}, {frame_of(kB)}}, {padded(kB)}},
        {"TimeOutInTheLengthOrStopFieldStartsAgain",
         {{unhex("5a a5 c3 3c 00 00"), 1000},
          {frame_with_length(15, kB)},
          {concat({unhex("5a a5 c3 3c 00 00 00 0f"), kA, {0xA5}}), 1000},
          {frame_of(kC)}},
         {padded(kB), padded(kC)}},
        {"SilenceShorterThanTheTimeOutKeepsTheFrame",
         {{Bytes(a.begin(), a.begin() + 10), 999},
          {Bytes(a.begin() + 10, a.end() - 2), 999},
          {Bytes(a.end() - 2, a.end())}},
         {padded(kA)}},
        {"CarriageReturnsMustComeWithinTheTimeOut", {{{0x0D}, 1000}, {{0x0D}}}, {}},
        // The line under the fault plan: frames carry no check sum.
        {"FlippedStopByteDropsTheFrame",
         {{concat({a, frame_of(kB)})}},
         {padded(kB)},
         BusFault::SerialFlip,
         8 + kA.size() + 2,
         0},
        {"FlippedPayloadByteIsDeliveredAsIs",
         {{a}},
         {padded(flipped)},
         BusFault::SerialFlip,
         11,
         4},
        {"FlippedLengthIsResynchronisedByTheTimeOut",  // length 20 reads 148: the frame stalls
         {{a, 1000}, {frame_of(kB)}},
         {padded(kB)},
         BusFault::SerialFlip,
         8,
         7},
        {"DroppedByteWithoutSilenceCostsTheNextFrameToo",
         {{concat({a, frame_of(kB), frame_of(kC)})}},
         {padded(kC)},
         BusFault::SerialDrop,
         10},
        {"DroppedByteThenSilenceResynchronises",
         {{a, 1000}, {concat({frame_of(kB), frame_of(kC)})}},
         {padded(kB), padded(kC)},
         BusFault::SerialDrop,
         10},
    };
    for (uint32_t length : {0u, 1u, 11u, 601u, 0xFFFFFFF0u}) {  // lengths no frame can have
        cases.push_back({"Length" + std::to_string(length) + "IsIgnored",
                         {{concat({frame_with_length(length, {}), frame_of(kB)})}},
                         {padded(kB)}});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Streams, FramerStreamTest, ::testing::ValuesIn(stream_cases()),
                         [](const auto &p) { return p.param.name; });

// After noise and the byte time-out, a clean frame arrives intact and once.
void expect_resynchronised() {
    sim::advance_clock_ms(1000);
    sim::fault_plan_seed(0);
    ASSERT_TRUE(sim::serial_peer_write(frame_of(kC)));
    std::vector<Bytes> got = FramerTest::settle();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), padded(kC));
    EXPECT_EQ(std::count(got.begin(), got.end(), padded(kC)), 1);
}

// Arbitrary bytes (biased towards the markers, without the console's carriage returns) never
// make the receiver store out of bounds or lose its way for good.
TEST_F(FramerTest, ArbitraryBytesNeverBreakTheReceiver) {
    open_framer();
    std::mt19937 rng(1234);
    const uint8_t interesting[] = {0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x02, 0x4C, 0x58, 0xFF};
    Bytes noise(40000);
    for (uint8_t &b : noise) {
        b = rng() % 2 ? interesting[rng() % sizeof interesting] : static_cast<uint8_t>(rng());
        b = b == 0x0D ? 0x0E : b;
    }
    noise.push_back(0x00);  // ignored by a receiver hunting for a start marker
    peer_send(noise);
    expect_resynchronised();
}

TEST_F(FramerTest, NoisyLineNeverBreaksTheReceiver) {
    open_framer();
    RecordProperty("fault_seed", std::to_string(sim::fault_plan_seed_from_env()));
    sim::fault_plan_chance(BusFault::SerialDrop, 0.01);
    sim::fault_plan_chance(BusFault::SerialFlip, 0.01);
    for (int i = 0; i < 40; ++i) {
        peer_send(frame_of(Bytes(1 + i * 7 % 60, static_cast<uint8_t>(0x80 | i))));
    }
    if (!sim::system_commands().empty()) {
        GTEST_SKIP() << "the noise made two carriage returns: the console took the port";
    }
    expect_resynchronised();
}

TEST_F(FramerTest, TerminalLinkCarriesTheSameFaults) {
    open_framer();
    sim::fault_plan_seed(0x5e71a1);
    std::string path = sim::serial_start_terminal_link(nullptr);
    int person = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(person, 0);
    sim::fault_plan_at(BusFault::SerialFlip, 8 + kA.size() + 2, 0);
    Bytes both = concat({frame_of(kA), frame_of(kB)});
    EXPECT_EQ(::write(person, both.data(), both.size()), static_cast<ssize_t>(both.size()));
    EXPECT_TRUE(wait_until([&both] { return sim::serial_bytes_read() >= both.size(); }));
    ASSERT_EQ(sim::fault_plan_log().size(), 1u);
    EXPECT_EQ(to_string(sim::fault_plan_log()[0]), "serial-flip #18 at 0");
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(kB)});
    ::close(person);
    sim::serial_stop_terminal_link();
}

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

TEST_F(FramerTest, FramesAreDroppedWithoutACallback) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(nullptr, 9600), 0u);
    peer_send(frame_of(kA));
    ASSERT_EQ(FramerOpen(record_message, 9600), 0u);
    EXPECT_TRUE(settle().empty());
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
