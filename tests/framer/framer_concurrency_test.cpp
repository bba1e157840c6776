// Several senders at once, and the receive task racing the byte time-out.
#include <bsp_sim/sim.h>

#include <atomic>
#include <set>
#include <thread>

#include "framer_fixture.h"

namespace bsp::test {
namespace {

using namespace std::chrono_literals;

constexpr int kSenders = 4;
constexpr int kFramesEach = 25;

Bytes message_of(int sender, int index) {
    Bytes msg(static_cast<size_t>(1 + (sender * 37 + index * 11) % 60));
    for (size_t i = 0; i < msg.size(); ++i) {
        msg[i] = static_cast<uint8_t>(0x80 | (sender << 5) | index % 32);
    }
    return msg;
}

// Splits the line into frames; every frame must be whole (no interleaving).
std::multiset<Bytes> parse_frames(const Bytes &wire) {
    std::multiset<Bytes> frames;
    size_t pos = 0;
    while (pos + 12 <= wire.size()) {
        EXPECT_EQ(
            Bytes(wire.begin() + static_cast<long>(pos), wire.begin() + static_cast<long>(pos) + 4),
            (Bytes{0x5A, 0xA5, 0xC3, 0x3C}));
        uint32_t length = (uint32_t{wire[pos + 6]} << 8) | wire[pos + 7];
        Bytes msg(wire.begin() + static_cast<long>(pos) + 8,
                  wire.begin() + static_cast<long>(pos + length) - 4);
        EXPECT_EQ(Bytes(wire.begin() + static_cast<long>(pos + length) - 4,
                        wire.begin() + static_cast<long>(pos + length)),
                  (Bytes{0xA5, 0x5A, 0x3C, 0xC3}));
        frames.insert(msg);
        pos += length;
    }
    EXPECT_EQ(pos, wire.size());
    return frames;
}

TEST_F(FramerTest, ConcurrentSendersWriteWholeFrames) {
    open_framer(115200);
    std::multiset<Bytes> expected;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        for (int i = 0; i < kFramesEach; ++i) {
            expected.insert(message_of(s, i));
        }
        senders.emplace_back([s] {
            for (int i = 0; i < kFramesEach; ++i) {
                Bytes msg = message_of(s, i);
                EXPECT_EQ(FramerWrite(msg.data(), static_cast<UINT32>(msg.size())), 0u);
            }
        });
    }
    Bytes wire;
    size_t total = 0;
    for (const Bytes &m : expected) {
        total += m.size() + 12;
    }
    while (wire.size() < total) {
        Bytes part = sim::serial_peer_read(total - wire.size(), 10s);
        if (part.empty()) {
            break;
        }
        wire.insert(wire.end(), part.begin(), part.end());
    }
    for (std::thread &t : senders) {
        t.join();
    }
    EXPECT_EQ(parse_frames(wire), expected);
    EXPECT_TRUE(sim::held_semaphores().empty());
}

// The time-out fires while bytes arrive: frames may be cut, but every delivered buffer is
// one of the frames sent, whole.
TEST_F(FramerTest, ReceiveTaskAndTimeOutRace) {
    open_framer();
    std::set<Bytes> sent;
    Bytes stream;
    for (int i = 0; i < 200; ++i) {
        Bytes msg = message_of(i % kSenders, i);
        sent.insert(padded(msg));
        Bytes f = frame_of(msg);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    std::atomic<bool> done{false};
    std::thread clock([&done] {
        while (!done) {
            sim::advance_clock_ms(1000);
            std::this_thread::yield();
        }
    });
    uint64_t target = sim::serial_bytes_read() + stream.size();
    for (size_t pos = 0; pos < stream.size(); pos += 64) {
        size_t end = std::min(stream.size(), pos + 64);
        ASSERT_TRUE(sim::serial_peer_write(Bytes(stream.begin() + static_cast<long>(pos),
                                                 stream.begin() + static_cast<long>(end))));
    }
    EXPECT_TRUE(wait_until([target] { return sim::serial_bytes_read() >= target; }));
    done = true;
    clock.join();
    for (const Bytes &m : settle()) {
        EXPECT_EQ(sent.count(m), 1u);
    }
}

}  // namespace
}  // namespace bsp::test
