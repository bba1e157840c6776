// Fixture of the serial framer tests: a fresh unit, a receive callback that records every
// message, helpers that play the far end of the line, and a tear-down that closes the
// framer and checks that no task or descriptor is left behind.
#ifndef BSP_TESTS_FRAMER_FRAMER_FIXTURE_H
#define BSP_TESTS_FRAMER_FRAMER_FIXTURE_H

#include <bsp_ctrl/framer_api.h>
#include <bsp_sim/sim.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

using namespace std::chrono_literals;

constexpr size_t kRxBufferSize = 588;
// Messages the receive tests send.
inline const Bytes kA = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
inline const Bytes kB = {0x01, 0x02, 0x03};
inline const Bytes kC = {0x44, 0x55};

// The frame the library sends for `msg`, and the one a peer sends.
inline Bytes frame_of(const Bytes &msg) {
    Bytes out = unhex("5a a5 c3 3c 00 00");
    out.push_back(static_cast<uint8_t>((msg.size() + 12) >> 8));
    out.push_back(static_cast<uint8_t>(msg.size() + 12));
    out.insert(out.end(), msg.begin(), msg.end());
    out.insert(out.end(), {0xA5, 0x5A, 0x3C, 0xC3});
    return out;
}

// `msg` zero-filled to the receive buffer's size.
inline Bytes padded(Bytes msg) {
    msg.resize(kRxBufferSize, 0);
    return msg;
}

inline Recorded<Bytes> &received() {
    static Recorded<Bytes> r;
    return r;
}

// The receive callback of the tests.
inline void record_message(UINT8 *msg) {
    received().add(Bytes(msg, msg + kRxBufferSize));
    std::free(msg);
}

inline bool wait_for_messages(size_t count) {
    return wait_until([count] { return received().all().size() >= count; });
}

// Bytes of the peer's that the fault plan has dropped on the line so far.
inline size_t dropped_bytes() {
    std::vector<sim::FaultPlanEvent> log = sim::fault_plan_log();
    return std::count_if(log.begin(), log.end(),
                         [](const auto &e) { return e.kind == sim::BusFault::SerialDrop; });
}

class FramerTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        descriptors_ = open_descriptor_count();
        received().clear();
    }

    // Everything the framer opened is given back, the receive task's wake descriptor too.
    void TearDown() override {
        FramerClose();
        FramerDelete();
        EXPECT_TRUE(sim::join_tasks(10s));
        EXPECT_EQ(sim::serial_open_descriptors(), 0u);
        EXPECT_EQ(open_descriptor_count(), descriptors_);
        SimTest::TearDown();
    }

  public:
    // FramerCreate(0) and FramerOpen(record_message, rate), both expected to succeed.
    static void open_framer(UINT32 rate = 9600) {
        ASSERT_EQ(FramerCreate(0), 0u);
        ASSERT_EQ(FramerOpen(record_message, rate), 0u);
    }

    // The peer sends `bytes`; returns once the library has read all that got through the
    // line and the byte time-out runs. The last byte may still be in hand, so a time-out that
    // follows may fire before or after it is handled: partial sends end with a byte that a
    // receiver hunting for a start marker ignores, which makes both orders end alike.
    static void peer_send(const Bytes &bytes) {
        size_t drops = dropped_bytes();
        uint64_t before = sim::serial_bytes_read();
        ASSERT_TRUE(sim::serial_peer_write(bytes));
        uint64_t target = before + bytes.size() - (dropped_bytes() - drops);
        ASSERT_TRUE(wait_until(
            [target] { return sim::serial_bytes_read() >= target && sim::enabled_timers() == 1; }));
    }

    // Sends a marker frame on a clean line and waits for it, so everything sent before has
    // been handled; returns the messages received before the marker, which came once.
    static std::vector<Bytes> settle() {
        static const Bytes kMarker = {'e', 'n', 'd', 0x7E};
        sim::fault_plan_seed(0);
        EXPECT_TRUE(sim::serial_peer_write(frame_of(kMarker)));
        Bytes marker = padded(kMarker);
        EXPECT_TRUE(wait_until([&marker] {
            std::vector<Bytes> all = received().all();
            return !all.empty() && all.back() == marker;
        }));
        std::vector<Bytes> all = received().all();
        EXPECT_EQ(std::count(all.begin(), all.end(), marker), 1);
        if (!all.empty() && all.back() == marker) {
            all.pop_back();
        }
        return all;
    }

  private:
    size_t descriptors_ = 0;
};

}  // namespace bsp::test

#endif
