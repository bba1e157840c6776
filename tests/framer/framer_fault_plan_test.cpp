// The serial line under the fault plan: a frame hit by a flipped or dropped byte is dropped,
// and the receiver finds the next frame again, at once or after the byte time-out.
#include <fcntl.h>
#include <unistd.h>

#include <bsp_sim/sim.h>

#include "framer_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;

const Bytes kC = {0x44, 0x55};

size_t dropped() {
    size_t n = 0;
    for (const sim::FaultPlanEvent &e : sim::fault_plan_log()) {
        n += e.kind == BusFault::SerialDrop ? 1 : 0;
    }
    return n;
}

class SerialFaultTest : public FramerTest {
  protected:
    void SetUp() override {
        FramerTest::SetUp();
        open_framer();
        sim::fault_plan_seed(0x5e71a1);
    }

    // Sends through the line and waits until the library has read what got through and the
    // byte time-out runs.
    static void send(const Bytes &bytes) {
        size_t before_drops = dropped();
        uint64_t before = sim::serial_bytes_read();
        ASSERT_TRUE(sim::serial_peer_write(bytes));
        uint64_t target = before + bytes.size() - (dropped() - before_drops);
        ASSERT_TRUE(wait_until(
            [target] { return sim::serial_bytes_read() >= target && sim::enabled_timers() == 1; }));
    }

    // The marker frame of settle() travels on a clean line.
    std::vector<Bytes> settle() {
        sim::fault_plan_seed(0);
        return FramerTest::settle();
    }
};

// Each byte is one event of each serial kind; event n is byte n - 1 of the stream.
TEST_F(SerialFaultTest, FlippedStopByteDropsTheFrameAndTheNextIsDelivered) {
    sim::fault_plan_at(BusFault::SerialFlip, 8 + kA.size() + 2, 0);
    send(concat({frame_of(kA), frame_of(kB)}));
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(kB)});
    EXPECT_EQ(sim::fault_plan_log().size(), 0u);  // settle() restarted the plan
}

TEST_F(SerialFaultTest, FlippedPayloadByteIsDeliveredAsIs) {
    sim::fault_plan_at(BusFault::SerialFlip, 8 + 3, 4);  // frames carry no check sum
    send(frame_of(kA));
    Bytes flipped = kA;
    flipped[2] ^= 0x10;
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(flipped)});
}

TEST_F(SerialFaultTest, FlippedLengthIsResynchronisedByTheTimeOut) {
    sim::fault_plan_at(BusFault::SerialFlip, 8, 7);  // length 20 reads 148: the frame stalls
    send(frame_of(kA));
    sim::advance_clock_ms(1000);
    EXPECT_EQ(sim::enabled_timers(), 0u);
    send(frame_of(kB));
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(kB)});
}

TEST_F(SerialFaultTest, DroppedByteWithoutSilenceCostsTheNextFrameToo) {
    sim::fault_plan_at(BusFault::SerialDrop, 8 + 2);
    send(concat({frame_of(kA), frame_of(kB), frame_of(kC)}));
    EXPECT_EQ(sim::fault_plan_log().size(), 1u);
    EXPECT_EQ(settle(), std::vector<Bytes>{padded(kC)});
}

TEST_F(SerialFaultTest, DroppedByteThenSilenceResynchronises) {
    sim::fault_plan_at(BusFault::SerialDrop, 8 + 2);
    send(frame_of(kA));
    sim::advance_clock_ms(1000);
    send(concat({frame_of(kB), frame_of(kC)}));
    EXPECT_EQ(settle(), (std::vector<Bytes>{padded(kB), padded(kC)}));
}

TEST_F(SerialFaultTest, TerminalLinkCarriesTheSameFaults) {
    std::string path = sim::serial_start_terminal_link(nullptr);
    ASSERT_FALSE(path.empty());
    int person = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(person, 0);
    sim::fault_plan_at(BusFault::SerialFlip, 8 + kA.size() + 2, 0);
    Bytes both = concat({frame_of(kA), frame_of(kB)});
    EXPECT_EQ(::write(person, both.data(), both.size()), static_cast<ssize_t>(both.size()));
    EXPECT_TRUE(wait_until([] { return !received_messages().empty(); }));
    EXPECT_TRUE(wait_until([] { return sim::serial_bytes_read() >= 2 * 8 + 8 + 3 + 4; }));
    EXPECT_EQ(received_messages(), std::vector<Bytes>{padded(kB)});
    ASSERT_EQ(sim::fault_plan_log().size(), 1u);
    EXPECT_EQ(to_string(sim::fault_plan_log()[0]), "serial-flip #18 at 0");
    ::close(person);
    sim::serial_stop_terminal_link();
}

TEST_F(SerialFaultTest, NoisyLineNeverBreaksTheReceiver) {
    uint64_t seed = sim::fault_plan_seed_from_env();
    RecordProperty("fault_seed", std::to_string(seed));
    sim::fault_plan_chance(BusFault::SerialDrop, 0.01);
    sim::fault_plan_chance(BusFault::SerialFlip, 0.01);
    for (int i = 0; i < 40; ++i) {
        send(frame_of(Bytes(1 + i * 7 % 60, static_cast<uint8_t>(0x80 | i))));
    }
    sim::advance_clock_ms(1000);
    if (!sim::system_commands().empty()) {
        GTEST_SKIP() << "the noise made two carriage returns: the console took the port";
    }
    std::vector<Bytes> got = settle();  // the receiver finds clean frames again
    EXPECT_LE(got.size(), 40u);
}

}  // namespace

}  // namespace bsp::test
