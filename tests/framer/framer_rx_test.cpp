// Receiving: every path of the receive state machine, fed by the far end of the line, with
// the byte time-out and the fault plan's flipped and dropped bytes. After whatever broke a
// frame, the receiver must deliver the following good frame intact and once.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <sstream>

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

// A, B, C and L stand for the messages kA, kB, kC and the largest one (588 bytes, never a
// carriage return or 5A); empty for other words.
Bytes message_named(const std::string &word) {
    Bytes largest(588);
    for (size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<uint8_t>(0x80 | i);
    }
    return word == "A" ? kA : word == "B" ? kB : word == "C" ? kC : word == "L" ? largest : Bytes{};
}

// A stream in words: a message's name for its frame, S and E for the start and stop markers,
// hexadecimal digits for bytes, and "~N" for N ms of silence that ends a step.
std::vector<Step> steps_of(const std::string &text) {
    std::vector<Step> steps(1);
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        Bytes bytes = word == "S"                   ? unhex("5a a5 c3 3c")
                      : word == "E"                 ? unhex("a5 5a 3c c3")
                      : message_named(word).empty() ? Bytes{}
                                                    : frame_of(message_named(word));
        if (word[0] == '~') {
            steps.back().silence_ms = std::stoi(word.substr(1));
            steps.emplace_back();
        } else {
            bytes = bytes.empty() ? unhex(word) : bytes;
            steps.back().bytes.insert(steps.back().bytes.end(), bytes.begin(), bytes.end());
        }
    }
    return steps;
}

// The receive buffers for messages in words: a name, hexadecimal digits, or "-" for none.
std::vector<Bytes> buffers_of(const std::string &text) {
    std::vector<Bytes> out;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        Bytes named = message_named(word);
        out.push_back(padded(!named.empty() ? named : word == "-" ? Bytes{} : unhex(word)));
    }
    return out;
}

struct StreamCase {
    const char *name;
    const char *stream;
    const char *delivered;  // before the settling marker
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
    for (const Step &step : steps_of(GetParam().stream)) {
        if (!step.bytes.empty()) {
            peer_send(step.bytes);
        }
        sim::advance_clock_ms(step.silence_ms);
        if (step.silence_ms >= 1000) {
            EXPECT_EQ(sim::enabled_timers(), 0u);  // the time-out fired and stays off
        }
    }
    EXPECT_EQ(settle(), buffers_of(GetParam().delivered));
    EXPECT_TRUE(sim::system_commands().empty());
    // Each receive buffer is announced as it is allocated.
    EXPECT_THAT(out.text(), ::testing::MatchesRegex("(Allocated ti_req at 0x[^\n]*\n)+"));
}

// Partial sends before a silence end with a byte that a receiver hunting for a start marker
// ignores (see peer_send).
const StreamCase kStreams[] = {
    {"LargestFrame", "L", "L"},
    {"GarbageBeforeAFrame", "00 11 5a a5 00 ff B", "B"},
    {"RepeatedFirstStartByteDoesNotSynchronise", "5a A B", "B"},
    {"BrokenMarkerAtThirdByte", "5a a5 5a B", "B"},
    {"BrokenMarkerAtFourthByte", "5a a5 c3 5a B", "B"},
    {"SwappedStopBytesDropTheFrame", "S 00 00 00 14 10 20 30 40 50 60 70 80 a5 5a c3 3c B", "B"},
    // Length 12: the message is empty and the first byte after the length is consumed as the
    // message place, so the frame is judged on the four bytes after it.
    {"LengthTwelveSpendsOneByteBeforeTheStopMarker", "S 00 00 00 0c 77 E B", "- B"},
    {"Length11IsIgnored", "S 00 00 00 0b E B", "B"},
    {"Length601IsIgnored", "S 00 00 02 59 E B", "B"},
    {"LengthFFFFFFF0IsIgnored", "S ff ff ff f0 E B", "B"},
    {"CarriageReturnThenStartMarker", "0d B", "B"},
    {"CarriageReturnThenOtherByte", "0d 41 0d 41 B", "B"},
    {"StopMarkerBytesWithinTheMessage", "S 00 00 00 14 E E E", "a55a3cc3a55a3cc3"},
    {"CarriageReturnsWithinTheMessage", "S 00 00 00 0f 0d 0d 0d E", "0d0d0d"},
    {"StalledFrameSwallowsTheNextWithoutATimeOut", "S 00 00 00 14 11 12 13 B", ""},
    {"TimeOutInTheMiddleOfAFrameDropsIt", "S 00 00 00 14 11 12 13 ~1000 B", "B"},
    {"TimeOutInTheLengthOrStopFieldStartsAgain",
     "S 00 00 ~1000 B S 00 00 00 0f 01 02 03 a5 ~1000 C", "B C"},
    {"SilenceShorterThanTheTimeOutKeepsTheFrame",
     "S 00 00 00 14 10 20 ~999 30 40 50 60 70 80 a5 5a ~999 3c c3", "A"},
    {"CarriageReturnsMustComeWithinTheTimeOut", "0d ~1000 0d", ""},
    // The line under the fault plan: frames carry no check sum.
    {"FlippedPayloadByteIsDeliveredAsIs", "A", "1020204050607080", BusFault::SerialFlip, 11, 4},
    // Length 20 reads 148: the frame stalls.
    {"FlippedLengthIsResynchronisedByTheTimeOut", "A ~1000 B", "B", BusFault::SerialFlip, 8, 7},
    {"DroppedByteWithoutSilenceCostsTheNextFrameToo", "A B C", "C", BusFault::SerialDrop, 10},
    {"DroppedByteThenSilenceResynchronises", "A ~1000 B C", "B C", BusFault::SerialDrop, 10},
};

INSTANTIATE_TEST_SUITE_P(Streams, FramerStreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto &p) { return p.param.name; });

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
    // After the noise and the byte time-out, a clean frame arrives intact and once.
    sim::advance_clock_ms(1000);
    ASSERT_TRUE(sim::serial_peer_write(frame_of(kC)));
    std::vector<Bytes> got = settle();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), padded(kC));
    EXPECT_EQ(std::count(got.begin(), got.end(), padded(kC)), 1);
}

TEST_F(FramerTest, TerminalLinkCarriesTheSameFaults) {
    open_framer();
    sim::fault_plan_seed(0x5e71a1);
    std::string path = sim::serial_start_terminal_link(nullptr);
    int person = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(person, 0);
    sim::fault_plan_at(BusFault::SerialFlip, 8 + kA.size() + 2, 0);
    Bytes both = steps_of("A B")[0].bytes;
    EXPECT_EQ(::write(person, both.data(), both.size()), static_cast<ssize_t>(both.size()));
    EXPECT_TRUE(wait_until([&both] { return sim::serial_bytes_read() >= both.size(); }));
    ASSERT_EQ(sim::fault_plan_log().size(), 1u);
    EXPECT_EQ(to_string(sim::fault_plan_log()[0]), "serial-flip #18 at 0");
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(kB)});
    ::close(person);
    sim::serial_stop_terminal_link();
}

}  // namespace
}  // namespace bsp::test
