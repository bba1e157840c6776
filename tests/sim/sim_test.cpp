// The simulated host as the library relies on it. Board services: the board description, the
// debug log. The device mechanism: plain C library calls on a simulated path (here the I2C bus)
// reach the model, every other path is the machine's own. (Injected faults hitting the named
// call show in every family's failure table.) The OS service layer: semaphores and the OS timers
// under the manual clock; memory pools that refuse corrupt bookkeeping, in regions below 4 GiB.
// (FPGA register semantics, and first fit with exact availability, show in the families' tests.)
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/i2cdev.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using sim::FaultOp;
using BoardTest = SimTest;
using DevicesTest = SimTest;
using OsTest = SimTest;

// The board preset keeps the record's address; every log message is captured and the levels
// decide what is printed.
TEST_F(BoardTest, BoardPresetAndTheDebugLog) {
    const kvu_hal_board_t *b = kvu_hal_get();
    EXPECT_EQ(b->mii_addr_of_entry[2], 0) << "LAN port 3 is the SFP cage";
    ASSERT_TRUE(sim::load_board_preset("no-sfp"));
    EXPECT_EQ(kvu_hal_get(), b) << "the record keeps its address";
    EXPECT_NE(b->mii_addr_of_entry[2], 0);
    dbg_handle_logs_at_restart();
    EXPECT_EQ(sim::restart_log_calls(), 1u);
    sim::set_log_printing(true);
    sim::set_log_level(DBG_PCI_INDEX, 1);
    StderrCapture err;
    log_printf(DBG_PCI_INDEX, 1, "[PCI %8d ms] open\n", 120);
    log_printf(DBG_PCI_INDEX, 2, "trace\n");
    log_printf(DBG_1588_INDEX, 0, "[1588] up\n");
    npu_log_printf("[DPDP %8d] hello\n", 5);
    sim::set_log_printing(false);
    EXPECT_EQ(err.text(), "[PCI      120 ms] open\n[1588] up\n[DPDP        5] hello\n");
    EXPECT_EQ(sim::log_text(DBG_PCI_INDEX), "[PCI      120 ms] open\ntrace\n");
    EXPECT_EQ(sim::log_text(sim::kNpuLogModule), "[DPDP        5] hello\n");
    EXPECT_EQ(sim::log_records().size(), 4u);
}

// (The driver attachment, its window and its interrupt line, masked by the driver's own
// requests, delivering in order and in the interrupt context, are the PCI family's: its
// receive tests see every one of these.)

const char *const kBus = "/dev/i2c-1";

TEST_F(DevicesTest, CallsOnSimulatedPathsReachTheModelAndNoOthers) {
    EXPECT_TRUE(sim::interposition_live());
    int fd = open(kBus, O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sim::open_device_files(), 1u);
    EXPECT_EQ(ioctl(fd, I2C_SLAVE, 0x57), 0);
    EXPECT_EQ(write(fd, "\x00\x10", 2), 2);
    char buf[2] = {};
    EXPECT_EQ(read(fd, buf, 2), 2);
    EXPECT_EQ(ioctl(fd, 0x43, buf), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(sim::i2c_log_text(), (std::vector<std::string>{"W 57: 00 10", "R 57: ff ff"}));
    EXPECT_EQ(sim::open_device_files(), 0u);
    // The fortified and large-file entry points are routed too.
    int large = open64(kBus, O_RDWR), at = openat(AT_FDCWD, kBus, O_RDWR);
    EXPECT_EQ(sim::open_device_files(), 2u);
    EXPECT_EQ(close(large) + close(at), 0);
    // Every other path is the machine's own.
    fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sim::open_device_files(), 0u);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(open("/dev/i2c-1-absent", O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
}

// The application's own calls of system() run for real, even one that starts with the program
// the library calls, and are not recorded. (The library's, recorded and not run, show in the
// framer's tests.)
TEST_F(DevicesTest, SystemRunsTheApplicationsOwnCalls) {
    const int status = system("getty --version >/dev/null 2>&1; exit 3");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_TRUE(sim::system_commands().empty());
}

// Before any unit is started the library's opens are refused with the way to start one. The
// check runs in a fresh process, where no unit has been reset yet.
TEST(UnstartedUnitTest, LibraryIsToldToStartTheUnit) {
    if (std::string(BSP_EMULATOR).size() > 0) {
        GTEST_SKIP() << "the fresh process re-runs the test binary, which needs its emulator";
    }
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            UINT8 byte = 0;
            std::exit(i2c_read_buf(1, 0x57, 0, 1, &byte, 1, 0) == -1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "bsp_sim: the simulated unit was not started, so the library cannot open /dev/i2c-1: "
        "call bsp_sim_start\\(state_dir\\) from <bsp_sim/bsp_sim_c.h> before the first call");
    GTEST_FLAG_SET(death_test_style, style);
}

std::vector<std::pair<uint64_t, UNSIGNED>> g_fired;

void record_os_timer(UNSIGNED id) {
    EXPECT_TRUE(sim::in_timer_context());
    g_fired.emplace_back(sim::clock_ms(), id);
}

// A second obtainer waits until the release; a deleted semaphore wakes its waiter with a
// failure and is gone.
TEST_F(OsTest, SemaphoresAndOsTimers) {
    NU_SEMAPHORE sem{};
    ASSERT_EQ(OS_Create_Semaphore(&sem, const_cast<CHAR *>("T_SEM"), 1, NU_PRIORITY), 0);
    ASSERT_EQ(OS_Obtain_Semaphore(&sem, NU_SUSPEND), 0);
    EXPECT_NE(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0) << "fails at once when taken";
    std::atomic<int> got{0};
    auto waiter = [&] { got = OS_Obtain_Semaphore(&sem, NU_SUSPEND) == 0 ? 1 : -1; };
    std::thread other(waiter);
    ASSERT_TRUE(wait_until([] { return sim::semaphores().at(0).waiters == 1; }));
    EXPECT_EQ(got, 0);
    ASSERT_EQ(sim::held_semaphores().size(), 1u);
    EXPECT_EQ(sim::held_semaphores()[0].name, "T_SEM");
    OS_Release_Semaphore(&sem);
    other.join();
    EXPECT_EQ(got, 1);
    std::thread last(waiter);
    ASSERT_TRUE(wait_until([] { return sim::semaphores().at(0).waiters == 1; }));
    EXPECT_EQ(OS_Delete_Semaphore(&sem), 0);
    last.join();
    EXPECT_EQ(got, -1);
    EXPECT_TRUE(sim::semaphores().empty());
    EXPECT_TRUE(sim::held_semaphores().empty());
    EXPECT_NE(OS_Obtain_Semaphore(&sem, NU_NO_SUSPEND), 0) << "a deleted semaphore is gone";
    // An OS timer created stopped runs only after a reset.
    g_fired.clear();
    NU_TIMER timer{};
    ASSERT_EQ(OS_Create_Timer(&timer, const_cast<CHAR *>("ECPS_POLLING"), record_os_timer, 7, 10,
                              10, NU_DISABLE_TIMER),
              0);
    sim::advance_clock_ms(500);
    EXPECT_TRUE(g_fired.empty());
    ASSERT_EQ(OS_Reset_Timer(&timer, record_os_timer, 10, 20, NU_ENABLE_TIMER), 0);
    sim::advance_clock_ms(450);
    // Armed at 500 ms: first expiry after 10 ticks, then every 20 ticks.
    std::vector<std::pair<uint64_t, UNSIGNED>> want = {{600, 7}, {800, 7}};
    EXPECT_EQ(g_fired, want);
    EXPECT_EQ(OS_Retrieve_Clock(), 95u);
    ASSERT_EQ(OS_Control_Timer(&timer, NU_DISABLE_TIMER), 0);
    sim::advance_clock_ms(1000);
    EXPECT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(sim::enabled_timers(), 0u);
}

// (The service timers, created stopped and restarted from their full period by TimerEnable,
// time out the framer's byte streams: its stream tests see them.)

constexpr UNSIGNED kHeader = sizeof(MEM_HEADER);

// A pool over the first `size` bytes of a region below 4 GiB, its record (which names itself
// by a 32-bit address in every block header) in the region's last kilobyte.
class PoolTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        region = static_cast<uint8_t *>(sim::map_low_region(4096));
        ASSERT_NE(region, nullptr);
    }
    void TearDown() override { sim::unmap_region(region, 4096); }
    MEM_POOL *create(UNSIGNED size) {
        auto *pool = reinterpret_cast<MEM_POOL *>(region + 3072);
        EXPECT_EQ(MEM_Create_Pool(pool, region, size, 16), 0);
        return pool;
    }
    uint8_t *region = nullptr;
};

TEST_F(PoolTest, ExhaustionStrayPointersAndCorruptBookkeepingAreRefused) {
    MEM_POOL &pool = *create(256);
    void *big = nullptr;
    EXPECT_NE(MEM_Allocate(&pool, &big, 256), 0);
    ASSERT_EQ(MEM_Allocate(&pool, &big, 256 - kHeader), 0);
    void *more = nullptr;
    EXPECT_NE(MEM_Allocate(&pool, &more, 0), 0);
    EXPECT_EQ(pool.pool_available, 0u);
    EXPECT_NE(MEM_Deallocate(&pool, static_cast<char *>(big) + 4), 0);
    EXPECT_NE(MEM_Deallocate(&pool, region + 2048), 0);
    if constexpr (sizeof(void *) > 4) {
        MEM_POOL high{};
        EXPECT_NE(MEM_Create_Pool(&high, region, 256, 16), 0) << "a record above 4 GiB is refused";
    }
    EXPECT_EQ(MEM_Deallocate(&pool, big), 0);
    EXPECT_NE(MEM_Deallocate(&pool, big), 0) << "double free refused";
    sim::inject_fault({sim::FaultOp::PoolAllocate, 1});
    EXPECT_NE(MEM_Allocate(&pool, &more, 4), 0);
    create(1024);  // afresh, the record in the same place
    void *a = nullptr;
    ASSERT_EQ(MEM_Allocate(&pool, &a, 32), 0);
    auto *taken = reinterpret_cast<MEM_HEADER *>(region);
    auto *rest = reinterpret_cast<MEM_HEADER *>(region + kHeader + 32);
    const UINT32 rest_addr = static_cast<UINT32>(reinterpret_cast<uintptr_t>(rest));
    void *b = nullptr;
    rest->memory_next = 0x7FFFFFF0;  // a link out of the pool
    EXPECT_NE(MEM_Allocate(&pool, &b, 8), 0);
    rest->memory_next = rest_addr;  // a loop
    EXPECT_NE(MEM_Allocate(&pool, &b, 8), 0);
    rest->memory_next = 0;
    taken->memory_next = 0x7FFFFFF0;
    EXPECT_NE(MEM_Deallocate(&pool, a), 0);
    taken->memory_next = rest_addr;
    pool.memory_list += 4;  // a record that does not start the chain
    EXPECT_NE(MEM_Allocate(&pool, &b, 8), 0);
    pool.memory_list -= 4;
    EXPECT_EQ(MEM_Allocate(&pool, &b, 8), 0) << "sound again once repaired";
    EXPECT_EQ(MEM_Deallocate(&pool, a), 0);
}

TEST_F(OsTest, RegionsBelowFourGigabytes) {
    void *p = sim::map_low_region(1 << 20);  // (below 4 GiB: the database tests' regions)
    sim::unmap_region(p, 1 << 20);
    // A database over an address that names no mapped memory is told before the crash (the
    // store's name is read first, so only the last digit may differ).
    auto base = static_cast<UINT32>(reinterpret_cast<uintptr_t>(p));
    char digits[8];
    std::snprintf(digits, sizeof digits, "%07x", base >> 4);
    EXPECT_DEATH(DbCreate(0, base, 4096),
                 std::string("bsp_sim: address 0x") + digits + "[0-9a-f] names no mapped memory");
}

}  // namespace
}  // namespace bsp::test
