// Sending: exact frames on the line, refusals, port settings and rates.
#include <bsp_sim/sim.h>
#include <termios.h>

#include "framer_fixture.h"

namespace bsp::test {
namespace {

using namespace std::chrono_literals;

TEST_F(FramerTest, WriteOfOneByteSendsTheExactFrame) {
    open_framer();
    UINT8 msg = 0x41;
    ASSERT_EQ(FramerWrite(&msg, 1), 0u);
    EXPECT_EQ(sim::serial_peer_read(13, 5s), (Bytes{0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x00, 0x00, 0x0D,
                                                    0x41, 0xA5, 0x5A, 0x3C, 0xC3}));
    EXPECT_TRUE(sim::serial_peer_read_quiet(20ms).empty());
}

TEST_F(FramerTest, WriteOf588BytesCarriesLength600) {
    open_framer();
    Bytes msg(588);
    for (size_t i = 0; i < msg.size(); ++i) {
        msg[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    ASSERT_EQ(FramerWrite(msg.data(), 588), 0u);
    Bytes wire = sim::serial_peer_read(600, 5s);
    ASSERT_EQ(wire.size(), 600u);
    EXPECT_EQ(Bytes(wire.begin() + 4, wire.begin() + 8), (Bytes{0x00, 0x00, 0x02, 0x58}));
    EXPECT_EQ(wire, frame_of(msg));
}

TEST_F(FramerTest, RefusedWritesSendNothing) {
    open_framer();
    Bytes big(589, 0x11);
    UINT8 one = 1;
    EXPECT_EQ(FramerWrite(big.data(), 589), 1u);
    EXPECT_EQ(FramerWrite(&one, 0), 1u);
    EXPECT_EQ(FramerWrite(nullptr, 1), 1u);
    EXPECT_TRUE(sim::serial_peer_read_quiet(50ms).empty());
    EXPECT_TRUE(sim::held_semaphores().empty());
}

TEST_F(FramerTest, WriteBeforeOpenFails) {
    ASSERT_EQ(FramerCreate(0), 0u);
    UINT8 msg = 0x41;
    EXPECT_EQ(FramerWrite(&msg, 1), 1u);
    EXPECT_TRUE(sim::serial_peer_read_quiet(20ms).empty());
}

TEST_F(FramerTest, WriteWithTheSemaphoreRefusedFailsAndSendsNothing) {
    open_framer();
    sim::inject_fault({sim::FaultOp::SemObtain, 1, EIO, -1, ""});
    UINT8 msg = 0x41;
    EXPECT_EQ(FramerWrite(&msg, 1), 1u);
    EXPECT_TRUE(sim::serial_peer_read_quiet(20ms).empty());
    EXPECT_EQ(FramerWrite(&msg, 1), 0u);
    EXPECT_EQ(sim::serial_peer_read(13, 5s).size(), 13u);
}

struct RateCase {
    UINT32 requested;
    speed_t speed;
    int recorded;
};

class FramerRateTest : public FramerTest, public ::testing::WithParamInterface<RateCase> {};

// The settings of an open port, its speed, and the rate the console is started with.
TEST_P(FramerRateTest, OpenAppliesRawSettingsAtTheRate) {
    open_framer(GetParam().requested);
    struct termios t = {};
    ASSERT_TRUE(sim::serial_port_settings(&t));
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CREAD | CLOCAL),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetispeed(&t), GetParam().speed);
    EXPECT_EQ(cfgetospeed(&t), GetParam().speed);
    ASSERT_EQ(FramerClose(), 0u);
    EXPECT_EQ(sim::system_commands(),
              std::vector<std::string>{"getty -L ttyS0 " + std::to_string(GetParam().recorded) +
                                       " vt100"});
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FramerRateTest,
    ::testing::Values(RateCase{2400, B2400, 2400}, RateCase{4800, B4800, 4800},
                      RateCase{9600, B9600, 9600}, RateCase{19200, B19200, 19200},
                      RateCase{38400, B38400, 38400}, RateCase{57600, B57600, 57600},
                      RateCase{115200, B115200, 115200}, RateCase{1200, B9600, 9600},
                      RateCase{0, B9600, 9600}, RateCase{230400, B9600, 9600}),
    [](const auto &p) { return "Rate" + std::to_string(p.param.requested); });

TEST_F(FramerTest, ChangeBaudRateAppliesTheNewSpeedAndFallsBack) {
    open_framer(9600);
    struct termios t = {};
    ASSERT_EQ(FramerChangeBaudRate(57600), 0u);
    ASSERT_TRUE(sim::serial_port_settings(&t));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    ASSERT_EQ(FramerChangeBaudRate(300), 0u);
    ASSERT_TRUE(sim::serial_port_settings(&t));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    UINT8 msg = 0x41;
    EXPECT_EQ(FramerWrite(&msg, 1), 0u);  // still open after a speed change
    EXPECT_EQ(sim::serial_peer_read(13, 5s).size(), 13u);
}

TEST_F(FramerTest, OpenDiscardsInputThatArrivedBefore) {
    ASSERT_EQ(FramerCreate(0), 0u);
    // Bytes the closed framer has not read yet are dropped by the open's flush or ignored.
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x01, 0x02})));
    ASSERT_EQ(FramerOpen(record_message, 9600), 0u);
    EXPECT_TRUE(settle().empty());
}

TEST(FramerMarkers, ExportedValues) {
    EXPECT_EQ((Bytes{START_BYTE1, START_BYTE2, START_BYTE3, START_BYTE4}),
              (Bytes{0x5A, 0xA5, 0xC3, 0x3C}));
    EXPECT_EQ((Bytes{STOP_BYTE1, STOP_BYTE2, STOP_BYTE3, STOP_BYTE4}),
              (Bytes{0xA5, 0x5A, 0x3C, 0xC3}));
    EXPECT_EQ(STOP_WORD, 0xA55A3CC3u);
}

}  // namespace
}  // namespace bsp::test
