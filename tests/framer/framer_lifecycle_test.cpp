// Creating, deleting and closing the framer, with the host's services failing.
#include <bsp_sim/sim.h>

#include <thread>

#include "framer_fixture.h"

namespace bsp::test {
namespace {

using namespace std::chrono_literals;

bool has_semaphore(const std::string &name) {
    for (const sim::SemaphoreInfo &s : sim::semaphores()) {
        if (s.name == name) {
            return true;
        }
    }
    return false;
}

TEST_F(FramerTest, CreateMakesTheSemaphoreThePortAndTheTask) {
    ASSERT_EQ(FramerCreate(0), 0u);
    EXPECT_TRUE(has_semaphore("t_framer"));
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    EXPECT_EQ(sim::running_tasks(), 1u);
    EXPECT_EQ(sim::enabled_timers(), 0u);  // the byte time-out starts with the first byte
}

TEST_F(FramerTest, CreateOnAnotherChannelSucceedsButLeavesTheFramerUnusable) {
    ASSERT_EQ(FramerCreate(1), 0u);
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);
    EXPECT_EQ(FramerChangeBaudRate(9600), 1u);
    EXPECT_EQ(FramerClose(), 1u);
    EXPECT_EQ(FramerDelete(), 1u);
    UINT8 msg = 1;
    EXPECT_EQ(FramerWrite(&msg, 1), 1u);
}

struct CreateFault {
    const char *name;
    sim::FaultRule rule;
};

class FramerCreateFaultTest : public FramerTest,
                              public ::testing::WithParamInterface<CreateFault> {};

// A failure is reported and what was made is released again.
TEST_P(FramerCreateFaultTest, FailureIsReportedAndNothingIsLeft) {
    sim::inject_fault(GetParam().rule);
    EXPECT_EQ(FramerCreate(0), 1u);
    EXPECT_FALSE(has_semaphore("t_framer"));
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(sim::running_tasks(), 0u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);
    ASSERT_EQ(FramerCreate(0), 0u);  // the next attempt works
    EXPECT_EQ(FramerOpen(record_message, 9600), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FramerCreateFaultTest,
    ::testing::Values(CreateFault{"Semaphore", {sim::FaultOp::SemCreate, 1, EIO, -1, ""}},
                      CreateFault{"Port", {sim::FaultOp::Open, 1, ENOENT, -1, "/dev/ttyS0"}},
                      CreateFault{"Task", {sim::FaultOp::TaskCreate, 1, EIO, -1, ""}}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(FramerTest, DeleteRemovesTheSemaphoreAndRefusesEverythingButCreate) {
    open_framer();
    ASSERT_EQ(FramerDelete(), 0u);
    EXPECT_FALSE(has_semaphore("t_framer"));
    EXPECT_EQ(FramerDelete(), 1u);
    EXPECT_EQ(FramerOpen(record_message, 9600), 1u);
    EXPECT_EQ(FramerClose(), 1u);
    UINT8 msg = 1;
    EXPECT_EQ(FramerWrite(&msg, 1), 1u);
    // The port stays open until a new framer takes over.
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    open_framer();
    EXPECT_TRUE(wait_until([] { return sim::running_tasks() == 1; }));
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
}

TEST_F(FramerTest, FailedSemaphoreDeleteIsReported) {
    open_framer();
    sim::inject_fault({sim::FaultOp::SemDelete, 1, EIO, -1, ""});
    EXPECT_EQ(FramerDelete(), 1u);
    EXPECT_EQ(FramerClose(), 0u);  // the framer is still there
    EXPECT_EQ(FramerDelete(), 0u);
}

TEST_F(FramerTest, CloseHandsThePortToTheConsoleAndEndsTheTask) {
    open_framer(38400);
    ASSERT_EQ(FramerClose(), 0u);
    EXPECT_EQ(sim::system_commands(), std::vector<std::string>{"getty -L ttyS0 38400 vt100"});
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_TRUE(sim::join_tasks(10s));
    UINT8 msg = 1;
    EXPECT_EQ(FramerWrite(&msg, 1), 1u);
    EXPECT_EQ(FramerClose(), 0u);  // still accepted, but the port is not closed twice
    EXPECT_EQ(sim::system_commands().size(), 1u);
    // A new framer carries frames again.
    open_framer();
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x42})));
    ASSERT_TRUE(wait_for_messages(1));
}

TEST_F(FramerTest, EnableDebugPortRunsBothConsoles) {
    open_framer(4800);
    EXPECT_EQ(FramerEnableDebugPort(), 0);
    EXPECT_EQ(sim::system_commands(), (std::vector<std::string>{"getty -L ttyS0 4800 vt100",
                                                                "getty -L ttyS0 115200 vt100"}));
}

TEST_F(FramerTest, EnableDebugPortWithoutAFramerReturns6) {
    ASSERT_EQ(FramerCreate(1), 0u);
    EXPECT_EQ(FramerEnableDebugPort(), 6);
    EXPECT_TRUE(sim::system_commands().empty());
}

TEST_F(FramerTest, InstallCallsReturnZero) {
    EXPECT_EQ(FramerInstall(), 0u);
    EXPECT_EQ(FramerUninstall(), 0u);
    EXPECT_EQ(FramerDisableDebugPort(), 0u);
}

TEST_F(FramerTest, DriverEntryIgnoresUnknownCodes) {
    FRAMER_DRV_REQUEST request = {};
    NU_DRIVER_REQUEST nu = {};
    for (int code : {0, 6, 8, -1}) {
        request.framer_error = 0x55;
        nu.nu_function = code;
        nu.nu_supplemental_ptr = &request;
        Framer_Drv_Entry(&nu);
        EXPECT_EQ(request.framer_error, 0x55u) << code;
    }
    nu.nu_supplemental_ptr = nullptr;
    nu.nu_function = FRAMER_REQ_OUTPUT;
    Framer_Drv_Entry(&nu);  // no request record: nothing happens
}

TEST_F(FramerTest, CreatingAgainClosesThePreviousPort) {
    open_framer();
    open_framer();
    EXPECT_TRUE(wait_until([] { return sim::running_tasks() == 1; }));
    EXPECT_EQ(sim::serial_open_descriptors(), 1u);
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x42})));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_EQ(received_messages(), std::vector<Bytes>{padded({0x42})});
}

// The callback may close the framer: the task hands over and ends after it returns.
void close_from_callback(UINT8 *msg) {
    record_message(msg);
    FramerClose();
}

TEST_F(FramerTest, CloseFromTheReceiveCallback) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(close_from_callback, 9600), 0u);
    ASSERT_TRUE(sim::serial_peer_write(frame_of({0x42})));
    ASSERT_TRUE(wait_for_messages(1));
    EXPECT_TRUE(sim::join_tasks(10s));
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    EXPECT_EQ(sim::system_commands().size(), 1u);
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

}  // namespace
}  // namespace bsp::test
