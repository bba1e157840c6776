// Creating, opening, closing and deleting the framer with the host's services failing; the
// ways the port goes back to the console; sending: exact frames on the line, refusals, port
// settings and rates. (The stress test sends from several threads and races the time-out.)
#include <termios.h>

#include <algorithm>
#include <numeric>
#include <thread>

#include "framer_fixture.h"

namespace bsp::test {
namespace {

bool has_semaphore(const std::string &name) {
    std::vector<sim::SemaphoreInfo> all = sim::semaphores();
    return std::any_of(all.begin(), all.end(), [&](const auto &s) { return s.name == name; });
}

UINT32 write_one(UINT8 byte = 0x41) {
    return FramerWrite(&byte, 1);
}

TEST_F(FramerTest, CreateOnAnotherChannelSucceedsButLeavesTheFramerUnusable) {
    EXPECT_EQ(FramerInstall(), 0u);
    ASSERT_EQ(FramerCreate(1), 0u);
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);
    EXPECT_EQ(FramerChangeBaudRate(9600), 1u);
    EXPECT_EQ(FramerClose(), 1u);
    EXPECT_EQ(FramerDelete(), 1u);
    EXPECT_EQ(write_one(), 1u);
    EXPECT_EQ(FramerEnableDebugPort(), 6);
    EXPECT_EQ(FramerDisableDebugPort(), 0u);
    EXPECT_EQ(FramerUninstall(), 0u);
    EXPECT_TRUE(sim::system_commands().empty());
}

struct CreateFault {
    const char *name;
    sim::FaultRule rule;
};

class FramerCreateFaultTest : public FramerTest,
                              public ::testing::WithParamInterface<CreateFault> {};

// A failure is reported and what was made is released again, the semaphore too.
TEST_P(FramerCreateFaultTest, FailureIsReportedAndNothingIsLeft) {
    sim::inject_fault(GetParam().rule);
    EXPECT_EQ(FramerCreate(0), 1u);
    EXPECT_FALSE(has_semaphore("t_framer"));
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(sim::running_tasks(), 0u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FramerCreateFaultTest,
    ::testing::Values(CreateFault{"Semaphore", {sim::FaultOp::SemCreate, 1, EIO, -1, ""}},
                      CreateFault{"Port", {sim::FaultOp::Open, 1, ENOENT, -1, "/dev/ttyS0"}},
                      CreateFault{"Task", {sim::FaultOp::TaskCreate, 1, EIO, -1, ""}}),
    [](const auto &p) { return std::string(p.param.name); });

// A create makes the semaphore, the port and the task; the byte time-out waits for the first
// byte. A failed delete is reported and leaves the framer; a delete refuses everything but a
// new create, and the port stays open until that new framer takes over; one framer reads.
TEST_F(FramerTest, DeleteRemovesTheSemaphoreAndRefusesEverythingButCreate) {
    open_framer();
    EXPECT_TRUE(has_semaphore("t_framer"));
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    EXPECT_EQ(sim::running_tasks(), 1u);
    EXPECT_EQ(sim::enabled_timers(), 0u);
    sim::inject_fault({sim::FaultOp::SemDelete, 1, EIO, -1, ""});
    EXPECT_EQ(FramerDelete(), 1u);
    ASSERT_EQ(FramerDelete(), 0u);
    EXPECT_FALSE(has_semaphore("t_framer"));
    EXPECT_EQ(FramerDelete(), 1u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);
    EXPECT_EQ(FramerClose(), 1u);
    EXPECT_EQ(write_one(), 1u);
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    open_framer();
    open_framer();  // creating again closes the previous port
    EXPECT_TRUE(wait_until([] { return sim::running_tasks() == 1; }));
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x42})));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_EQ(settle(), std::vector<Bytes>{padded({0x42})});
}

// The callback may close the framer: the task hands over and ends after it returns.
void close_from_callback(UINT8 *msg) {
    record_message(msg);
    FramerClose();
}

struct HandOver {
    const char *name;
    void (*hand_over)();
    std::vector<std::string> consoles;
    void (*callback)(UINT8 *) = record_message;
};

class FramerHandOverTest : public FramerTest, public ::testing::WithParamInterface<HandOver> {};

// However the port goes back to the console, the console is started at the framer's rate,
// the port closed and the task ended; the framer refuses to write, and a later close runs
// no second console. A new framer carries frames again.
TEST_P(FramerHandOverTest, PortGoesToTheConsoleOnce) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(GetParam().callback, 19200), 0u);
    GetParam().hand_over();
    ASSERT_TRUE(wait_until([] { return !sim::system_commands().empty(); }));
    EXPECT_TRUE(sim::join_tasks(10s));
    EXPECT_EQ(sim::system_commands(), GetParam().consoles);
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(write_one(), 1u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);  // its port is gone
    EXPECT_EQ(FramerClose(), 0u);
    EXPECT_EQ(sim::system_commands(), GetParam().consoles);
    received().clear();
    open_framer();
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x42})));
    ASSERT_TRUE(wait_for_messages(1));
}

const std::vector<std::string> kConsole = {"getty -L ttyS0 19200 vt100"};

INSTANTIATE_TEST_SUITE_P(
    Ways, FramerHandOverTest,
    ::testing::Values(HandOver{"Close", [] { EXPECT_EQ(FramerClose(), 0u); }, kConsole},
                      HandOver{"TwoCarriageReturns",
                               [] {
                                   ASSERT_TRUE(sim::serial_peer_write({0x0D, 0x0D}));
                               },
                               kConsole},
                      HandOver{"DebugPort",
                               [] { EXPECT_EQ(FramerEnableDebugPort(), 0); },
                               {"getty -L ttyS0 19200 vt100", "getty -L ttyS0 115200 vt100"}},
                      HandOver{"CloseFromTheCallback",
                               [] { ASSERT_TRUE(sim::serial_peer_write(frame_of({0x42}))); },
                               kConsole, close_from_callback},
                      // A failed read ends the task and leaves the port to the close.
                      HandOver{
                          "CloseAfterAReadFailure",
                          [] {
                              sim::inject_fault({sim::FaultOp::Read, 1, EIO, -1, "/dev/ttyS0"});
                              ASSERT_TRUE(sim::serial_peer_write({0x00}));
                              EXPECT_TRUE(sim::join_tasks(10s));
                              EXPECT_EQ(sim::serial_open_descriptors(), 1u);
                              EXPECT_EQ(FramerClose(), 0u);
                          },
                          kConsole}),
    [](const auto &p) { return std::string(p.param.name); });

// Unknown codes leave the caller's result alone; an operation that is done reports 0 even
// to a caller that did not clear it.
TEST_F(FramerTest, DriverEntryAnswersOnlyItsCodes) {
    open_framer();
    FRAMER_DRV_REQUEST request = {};
    request.framer_request_info.framer_input.baudrate = 9600;
    NU_DRIVER_REQUEST nu = {};
    nu.nu_supplemental_ptr = &request;
    for (int code : {0, 6, 8, -1, static_cast<int>(FRAMER_REQ_INPUT)}) {
        request.framer_error = 0x55;
        nu.nu_function = code;
        Framer_Drv_Entry(&nu);
        EXPECT_EQ(request.framer_error, code == FRAMER_REQ_INPUT ? 0u : 0x55u) << code;
    }
    nu.nu_supplemental_ptr = nullptr;
    nu.nu_function = FRAMER_REQ_OUTPUT;
    Framer_Drv_Entry(&nu);  // no request record: nothing happens
}

// FramerClose and the console hand-over from the line meet: the port is closed and the
// console started exactly once.
TEST_F(FramerTest, CloseAndLineHandOverMeetOnce) {
    for (int round = 0; round < 20; ++round) {
        sim::reset_unit();
        open_framer();
        std::thread line([] { sim::serial_peer_write({0x0D, 0x0D}); });
        EXPECT_EQ(FramerClose(), 0u);
        line.join();
        ASSERT_TRUE(sim::join_tasks(10s));
        EXPECT_EQ(sim::system_commands().size(), 1u);
        EXPECT_EQ(sim::serial_open_descriptors(), 0u);
        ASSERT_EQ(FramerDelete(), 0u);
    }
}

// Exact frames of the smallest and the largest message; nothing for a refused write (not
// open, too long, empty, no buffer, the semaphore failing), and the semaphore is free again.
TEST_F(FramerTest, WritesSendTheExactFrameOrNothing) {
    ASSERT_EQ(FramerCreate(0), 0u);
    EXPECT_EQ(write_one(), 1u);  // not open yet
    ASSERT_EQ(FramerOpen(record_message, 9600), 0u);
    ASSERT_EQ(write_one(), 0u);
    EXPECT_EQ(sim::serial_peer_read(13, 5s), unhex("5a a5 c3 3c 00 00 00 0d 41 a5 5a 3c c3"));
    Bytes largest(589);
    std::iota(largest.begin(), largest.end(), uint8_t{3});
    EXPECT_EQ(FramerWrite(largest.data(), 589), 1u);
    EXPECT_EQ(FramerWrite(largest.data(), 0), 1u);
    EXPECT_EQ(FramerWrite(nullptr, 1), 1u);
    sim::inject_fault({sim::FaultOp::SemObtain, 1, EIO, -1, ""});
    EXPECT_EQ(write_one(), 1u);
    EXPECT_TRUE(sim::serial_peer_read_quiet(50ms).empty());
    EXPECT_TRUE(sim::held_semaphores().empty());
    ASSERT_EQ(FramerWrite(largest.data(), 588), 0u);
    EXPECT_EQ(sim::serial_peer_read(600, 5s),
              frame_of(Bytes(largest.begin(), largest.end() - 1)));  // length 00 00 02 58
}

struct RateCase {
    UINT32 requested;
    speed_t speed;
    int recorded;
    bool changed = false;  // opened at 9600, then changed to the rate
};

class FramerRateTest : public FramerTest, public ::testing::WithParamInterface<RateCase> {};

// The settings of an open port, its speed (given to the open or changed to after), and the
// rate the console is started with; after a change the framer still writes.
TEST_P(FramerRateTest, OpenOrChangeAppliesRawSettingsAtTheRate) {
    open_framer(GetParam().changed ? 9600 : GetParam().requested);
    if (GetParam().changed) {
        ASSERT_EQ(FramerChangeBaudRate(GetParam().requested), 0u);
        EXPECT_EQ(write_one(), 0u);
        EXPECT_EQ(sim::serial_peer_read(13, 5s).size(), 13u);
    }
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
                      RateCase{38400, B38400, 38400}, RateCase{57600, B57600, 57600, true},
                      RateCase{115200, B115200, 115200}, RateCase{1200, B9600, 9600},
                      RateCase{0, B9600, 9600}, RateCase{230400, B9600, 9600},
                      RateCase{300, B9600, 9600, true}),
    [](const auto &p) { return "Rate" + std::to_string(p.param.requested); });

// Bytes the closed framer has not read yet are dropped by the open's flush or ignored, and
// frames that arrive while no callback is installed are dropped.
TEST_F(FramerTest, OpenDiscardsInputThatArrivedBeforeAndNoCallbackDropsFrames) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x01, 0x02})));
    ASSERT_EQ(FramerOpen(nullptr, 9600), 0u);
    peer_send(frame_of(kA));
    ASSERT_EQ(FramerOpen(record_message, 9600), 0u);
    EXPECT_TRUE(settle().empty());
}

}  // namespace
}  // namespace bsp::test
