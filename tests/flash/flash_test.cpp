// Flash access over the simulated /dev/mtd0: geometry, NOR reads/writes/erases, the closed
// device before FlashCreate and after FlashDelete, every failure path with its log text,
// concurrent callers, and writes and erases torn under the fault plan.
#include <bsp_ctrl/flash_api.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

constexpr UINT32 kSector1 = 0x10000;
const std::string kMtd = "/dev/mtd0";
using sim::FaultOp;

class FlashTest : public SimTest {
  protected:
    void TearDown() override {
        FlashDelete();
        SimTest::TearDown();
    }

    static std::string log() { return sim::log_text(DBG_FLASH_INDEX); }

    static bool flash_sem_exists() {
        for (const sim::SemaphoreInfo &s : sim::semaphores()) {
            if (s.name == "s_flash") {
                return true;
            }
        }
        return false;
    }

    void create() {
        ASSERT_EQ(FlashCreate(), 0u);
        sim::clear_log();
    }
};

TEST_F(FlashTest, GeometryOfAn8MiBFlashWith64KiBSectors) {
    create();
    UINT32 base = 1, size = 0, sectors = 0;
    EXPECT_EQ(FlashGetInfo(&base, &size, &sectors), 0u);
    EXPECT_EQ(base, 0u);
    EXPECT_EQ(size, 8388608u);
    EXPECT_EQ(sectors, 128u);
    EXPECT_EQ(FlashGetSectorInfo(127, &base, &size), 0u);
    EXPECT_EQ(base, 8323072u);
    EXPECT_EQ(size, 65536u);
    UINT32 address = 0, sector = 0;
    EXPECT_EQ(FlashRetrieveInfo(0x10000, &address, &sector), 0u);
    EXPECT_EQ(address, 0x10000u);
    EXPECT_EQ(sector, 1u);
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(FlashGetSectorInfo(128, &base, &size), 1u);
    EXPECT_EQ(FlashRetrieveInfo(8388608, &address, &sector), 1u);
    EXPECT_EQ(address, 8388608u);
    EXPECT_EQ(log(),
              "FlashGetSectorInfo failed: Invalid sector number\n"
              "FlashRetrieveInfo failed: Invalid address\n");
    for (const sim::LogRecord &r : sim::log_records()) {
        EXPECT_EQ(r.level, 1u);
    }
}

TEST_F(FlashTest, NorWritesOnlyClearBitsAndEraseSetsTheSector) {
    create();
    uint8_t a = 0x0f, b = 0xf0, out = 0;
    EXPECT_EQ(FlashWrite(&a, 0x10001, 1), 0u);
    EXPECT_EQ(FlashWrite(&b, 0x10001, 1), 0u);
    EXPECT_EQ(FlashRead(0x10001, &out, 1), 0u);
    EXPECT_EQ(out, 0x00);
    EXPECT_EQ(FlashEraseSector(1), 0u);
    EXPECT_EQ(sim::flash_peek(0x10000, 0x10000), Bytes(0x10000, 0xff));
    EXPECT_EQ(sim::flash_ops(),
              (std::vector<std::string>{"write 0x10001 1", "write 0x10001 1", "read 0x10001 1",
                                        "erase 0x10000 65536"}));
    Bytes data = unhex("00 07 0e 15 1c 23 2a 31 38 3f 46 4d 54 5b 62 69 70 77 7e 85");
    Bytes back(data.size());
    EXPECT_EQ(FlashWrite(data.data(), 0x1fff8, 20), 0u);  // crosses into sector 2
    EXPECT_EQ(FlashRead(0x1fff8, back.data(), 20), 0u);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(log().empty());
}

TEST_F(FlashTest, RangeChecksAtTheEndOfTheFlash) {
    create();
    uint8_t buf[16] = {};
    EXPECT_EQ(FlashRead(8388608, buf, 0), 0u);
    EXPECT_EQ(FlashRead(8388608, buf, 1), 1u);
    EXPECT_EQ(FlashRead(8388600, buf, 16), 1u);
    EXPECT_EQ(FlashRead(8388609, buf, 1), 1u);
    EXPECT_EQ(FlashWrite(buf, 8388608, 1), 1u);
    EXPECT_EQ(FlashWrite(buf, 8388609, 1), 1u);
    EXPECT_EQ(log(),
              "FlashRead read failed: Success\n"
              "FlashRead read failed: Success\n"
              "FlashRead failed: Invalid address\n"
              "FlashWrite write failed: No space left on device\n"
              "FlashWrite failed: Invalid address\n");
}

TEST_F(FlashTest, FixedAnswers) {
    EXPECT_EQ(FlashInstall(), 0u);
    EXPECT_EQ(FlashUninstall(), 1u);
    EXPECT_EQ(FlashReset(), 0u);
    EXPECT_EQ(FlashEraseChip(), 1u);
    EXPECT_EQ(log(),
              "FlashInstall succeeded: mtd flash driver already installed\n"
              "FlashUninstall failed: mtd flash driver remains installed\n"
              "FlashReset function is not implemented\n"
              "FlashEraseChip function is not implemented (too dangerous!)\n");
    EXPECT_TRUE(sim::flash_ops().empty());
}

// Every call on a closed device, before FlashCreate and again after FlashDelete.
TEST_F(FlashTest, ClosedDeviceFailsBeforeCreateAndAfterDelete) {
    for (int round = 0; round < 2; ++round) {
        uint8_t buf[4];
        UINT32 a, b, c;
        EXPECT_EQ(FlashDelete() + FlashRead(0, buf, 4) + FlashWrite(buf, 0, 4) +
                      FlashEraseSector(0) + FlashGetInfo(&a, &b, &c) +
                      FlashGetSectorInfo(0, &a, &b) + FlashRetrieveInfo(0, &a, &b),
                  7u);
        EXPECT_EQ(log(),
                  "FlashDelete failed: Bad file descriptor\nFlashRead failed: Bad file "
                  "descriptor\nFlashWrite failed: Bad file descriptor\nFlashEraseSector failed: "
                  "Bad file descriptor\nFlashGetInfo failed: Bad file descriptor\n"
                  "FlashGetSectorInfo failed: Bad file descriptor\nFlashRetrieveInfo failed: Bad "
                  "file descriptor\n")
            << round;
        ASSERT_EQ(FlashCreate(), 0u);
        ASSERT_EQ(FlashDelete(), 0u);
        EXPECT_FALSE(flash_sem_exists());
        EXPECT_EQ(sim::open_device_files(), 0u);
        sim::clear_log();
    }
    EXPECT_TRUE(sim::flash_ops().empty());
}

TEST_F(FlashTest, NullPointersAreRefused) {
    create();
    UINT32 v = 0;
    EXPECT_EQ(FlashRead(0, nullptr, 4), 1u);
    EXPECT_EQ(FlashWrite(nullptr, 0, 4), 1u);
    EXPECT_EQ(FlashGetInfo(nullptr, &v, &v), 1u);
    EXPECT_EQ(FlashGetSectorInfo(0, &v, nullptr), 1u);
    EXPECT_EQ(FlashRetrieveInfo(0, nullptr, &v), 1u);
    EXPECT_EQ(log(),
              "FlashRead failed: Bad address\nFlashWrite failed: Bad address\n"
              "FlashGetInfo failed: Bad address\nFlashGetSectorInfo failed: Bad address\n"
              "FlashRetrieveInfo failed: Bad address\n");
    EXPECT_TRUE(sim::flash_ops().empty());
}

TEST_F(FlashTest, CreateFailures) {
    sim::inject_fault({FaultOp::SemCreate, 1, EIO, -1, ""});
    EXPECT_EQ(FlashCreate(), 1u);
    sim::inject_fault({FaultOp::Open, 1, ENOENT, -1, kMtd});
    EXPECT_EQ(FlashCreate(), 1u);
    EXPECT_FALSE(flash_sem_exists());
    sim::inject_fault({FaultOp::Ioctl, 1, EIO, -1, kMtd});
    EXPECT_EQ(FlashCreate(), 1u);
    EXPECT_FALSE(flash_sem_exists());
    EXPECT_EQ(sim::open_device_files(), 0u);
    uint8_t b = 0;
    EXPECT_EQ(FlashRead(0, &b, 1), 1u);  // a failed create leaves the device closed
    EXPECT_EQ(log(),
              "FlashCreate OS_Create_Semaphore failed\n"
              "FlashCreate open failed: No such file or directory\n"
              "FlashCreate MEMGETINFO failed: Input/output error\n"
              "FlashRead failed: Bad file descriptor\n");
}

// One fault (operation, short transfer length) and what a read and a write then log.
struct TransferFault {
    FaultOp op;
    long short_length;
    const char *read_log;
    const char *write_log;
};

class FlashTransferFailure : public FlashTest,
                             public ::testing::WithParamInterface<TransferFault> {};

TEST_P(FlashTransferFailure, LogsAndGivesTheSemaphoreBack) {
    create();
    uint8_t buf[8] = {};
    const TransferFault &f = GetParam();
    const std::string path = f.op == FaultOp::SemObtain ? "" : kMtd;
    sim::inject_fault({f.op, 1, EIO, f.short_length, path});
    EXPECT_EQ(FlashRead(0x100, buf, 8), *f.read_log != '\0' ? 1u : 0u);
    sim::clear_faults();
    sim::inject_fault({f.op, 1, EIO, f.short_length, path});
    EXPECT_EQ(FlashWrite(buf, 0x100, 8), *f.write_log != '\0' ? 1u : 0u);
    EXPECT_EQ(log(), std::string(f.read_log) + f.write_log);
    EXPECT_TRUE(sim::held_semaphores().empty());
    for (const sim::LogRecord &r : sim::log_records()) {
        EXPECT_EQ(r.level, 1u);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, FlashTransferFailure, ::testing::Values(
    TransferFault{FaultOp::SemObtain, -1, "FlashRead OS_Obtain_Semaphore failed\n",
                  "FlashWrite OS_Obtain_Semaphore failed\n"},
    TransferFault{FaultOp::Lseek, -1, "FlashRead lseek failed: Input/output error\n",
                  "FlashWrite lseek failed: Input/output error\n"},
    TransferFault{FaultOp::Read, -1, "FlashRead read failed: Input/output error\n", ""},
    TransferFault{FaultOp::Write, -1, "", "FlashWrite write failed: Input/output error\n"},
    TransferFault{FaultOp::Read, 3, "FlashRead read failed: Success\n", ""},
    TransferFault{FaultOp::Write, 3, "", "FlashWrite write failed: Success\n"}));
// clang-format on

TEST_F(FlashTest, EraseFailures) {
    create();
    sim::inject_fault({FaultOp::Ioctl, 1, EIO, -1, kMtd});
    EXPECT_EQ(FlashEraseSector(3), 1u);
    sim::inject_fault({FaultOp::Ioctl, 2, EIO, -1, kMtd});
    EXPECT_EQ(FlashEraseSector(3), 1u);
    EXPECT_EQ(FlashEraseSector(128), 1u);
    sim::inject_fault({FaultOp::SemObtain, 1, EIO, -1, ""});
    EXPECT_EQ(FlashEraseSector(3), 1u);
    EXPECT_EQ(log(),
              "FlashGetSectorInfo MEMGETREGIONCOUNT failed: Input/output error\n"
              "FlashEraseSector call to FlashGetSectorInfo failed\n"
              "FlashEraseSector MEMERASE failed: Input/output error\n"
              "FlashGetSectorInfo failed: Invalid sector number\n"
              "FlashEraseSector call to FlashGetSectorInfo failed\n"
              "FlashEraseSector OS_Obtain_Semaphore failed\n");
    EXPECT_TRUE(sim::flash_ops().empty());
    EXPECT_TRUE(sim::held_semaphores().empty());
}

// A semaphore that could not be released stays held, so each case is the last call.
class FlashReleaseFailure : public FlashTest, public ::testing::WithParamInterface<int> {};

TEST_P(FlashReleaseFailure, IsReported) {
    create();
    sim::inject_fault({FaultOp::SemRelease, 1, EIO, -1, ""});
    uint8_t buf[8];
    const char *names[] = {"FlashRead", "FlashWrite", "FlashEraseSector"};
    const char *ops[] = {"read 0x100 8", "write 0x100 8", "erase 0x30000 65536"};
    UINT32 rc = GetParam() == 0   ? FlashRead(0x100, buf, 8)
                : GetParam() == 1 ? FlashWrite(buf, 0x100, 8)
                                  : FlashEraseSector(3);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(log(), std::string(names[GetParam()]) + " OS_Release_Semaphore failed\n");
    EXPECT_EQ(sim::flash_ops(), std::vector<std::string>{ops[GetParam()]});
}

INSTANTIATE_TEST_SUITE_P(Calls, FlashReleaseFailure, ::testing::Values(0, 1, 2));

TEST_F(FlashTest, DeleteFailures) {
    create();
    sim::inject_fault({FaultOp::Close, 1, EIO, -1, kMtd});
    EXPECT_EQ(FlashDelete(), 1u);
    EXPECT_FALSE(flash_sem_exists());
    EXPECT_EQ(FlashDelete(), 1u);
    create();
    sim::inject_fault({FaultOp::SemDelete, 1, EIO, -1, ""});
    EXPECT_EQ(FlashDelete(), 1u);
    EXPECT_EQ(log(), "FlashDelete OS_Delete_Semaphore failed\n");
    EXPECT_EQ(sim::open_device_files(), 0u);
}

TEST_F(FlashTest, FlashWithEraseRegionsIsRefusedByTheGeometryQueries) {
    sim::configure_flash({8u << 20, 64u << 10, 2});
    create();
    UINT32 base = 0, size = 0, sectors = 0;
    EXPECT_EQ(FlashGetInfo(&base, &size, &sectors), 1u);
    EXPECT_EQ(size, 8388608u);
    EXPECT_EQ(FlashGetSectorInfo(0, &base, &size), 1u);
    EXPECT_EQ(FlashRetrieveInfo(0, &base, &sectors), 1u);
    EXPECT_EQ(FlashEraseSector(0), 1u);
    sim::inject_fault({FaultOp::Ioctl, 1, ENOTTY, -1, kMtd});
    EXPECT_EQ(FlashGetInfo(&base, &size, &sectors), 1u);
    sim::inject_fault({FaultOp::Ioctl, 1, ENOTTY, -1, kMtd});
    EXPECT_EQ(FlashRetrieveInfo(0, &base, &sectors), 1u);
    EXPECT_EQ(log(),
              "FlashGetInfo failed: 2 flash regions\n"
              "FlashGetSectorInfo failed: 2 flash regions\n"
              "FlashRetrieveInfo failed: 2 flash regions\n"
              "FlashGetSectorInfo failed: 2 flash regions\n"
              "FlashEraseSector call to FlashGetSectorInfo failed\n"
              "FlashGetInfo MEMGETREGIONCOUNT failed: Inappropriate ioctl for device\n"
              "FlashRetrieveInfo MEMGETREGIONCOUNT failed: Inappropriate ioctl for device\n");
}

// A seek and its transfer are never split by another caller's on the shared descriptor.
TEST_F(FlashTest, ConcurrentTransfersKeepTheirPositions) {
    create();
    auto worker = [](UINT32 at, uint8_t value) {
        Bytes data(512, value), back(512);
        for (UINT32 end = at + 50 * 512; at < end; at += 512) {
            EXPECT_EQ(FlashWrite(data.data(), at, 512) + FlashRead(at, back.data(), 512), 0u);
            EXPECT_EQ(back, data);
        }
    };
    std::thread a(worker, 0x40000, 0x11), b(worker, 0x50000, 0x22);
    a.join();
    b.join();
    EXPECT_EQ(sim::flash_peek(0x40000, 50 * 512), Bytes(50 * 512, 0x11));
    EXPECT_EQ(sim::flash_peek(0x50000, 50 * 512), Bytes(50 * 512, 0x22));
}

// Deleting and creating while other threads call (run under ThreadSanitizer): no call may
// reach a descriptor that has been closed.
TEST_F(FlashTest, DeleteAndCreateWhileCallsRun) {
    ASSERT_EQ(FlashCreate(), 0u);
    const size_t descriptors = open_descriptor_count();
    std::atomic<bool> stop{false};
    std::atomic<unsigned> succeeded{0};
    auto caller = [&stop, &succeeded](bool write) {
        uint8_t buf[32] = {};
        while (!stop) {
            UINT32 r = write ? FlashWrite(buf, 64, sizeof buf) : FlashRead(0, buf, sizeof buf);
            EXPECT_LE(r, 1u);
            succeeded += r == 0 ? 1 : 0;
        }
    };
    std::thread reader(caller, false), writer(caller, true);
    // At least 200 cycles, and on until the callers have been served now and then (a loaded
    // machine may not schedule them during the first cycles).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int i = 0; i < 200 || (succeeded < 10 && std::chrono::steady_clock::now() < deadline);
         ++i) {
        ASSERT_EQ(FlashDelete() + FlashCreate(), 0u);
    }
    stop = true;
    reader.join();
    writer.join();
    EXPECT_GT(succeeded.load(), 0u);
    EXPECT_EQ(open_descriptor_count(), descriptors);
    EXPECT_EQ(sim::open_device_files(), 1u);
}

// Under the fault plan a write or erase torn by a power cut leaves the NOR cells as far as
// they got and fails, and the library reports it with its documented texts.
TEST_F(FlashTest, TornWriteOrEraseKeepsWhatWasDoneAndFails) {
    create();
    Bytes data(16, 0x00), back(16);
    sim::fault_plan_at(sim::BusFault::FlashTear, 1, 5);
    EXPECT_EQ(FlashWrite(data.data(), kSector1, 16), 1u);
    EXPECT_EQ(FlashRead(kSector1, back.data(), 16), 0u);
    EXPECT_EQ(hex(back), "00 00 00 00 00 " + hex(sim::flash_peek(kSector1 + 5, 1)) +
                             " ff ff ff ff ff ff ff ff ff ff");  // the cell torn keeps any value
    // Programming only clears bits: writing the same data again completes it.
    EXPECT_EQ(FlashWrite(data.data(), kSector1, 16), 0u);
    EXPECT_EQ(sim::flash_peek(kSector1, 16), data);
    sim::fault_plan_at(sim::BusFault::FlashEraseTear, 1, 8);
    EXPECT_EQ(FlashEraseSector(1), 1u);
    EXPECT_EQ(hex(sim::flash_peek(kSector1, 16)), "ff ff ff ff ff ff ff ff " +
                                                      hex(sim::flash_peek(kSector1 + 8, 1)) +
                                                      " 00 00 00 00 00 00 00");
    EXPECT_EQ(log(),
              "FlashWrite write failed: Input/output error\n"
              "FlashEraseSector MEMERASE failed: Input/output error\n");
    EXPECT_EQ(FlashEraseSector(1), 0u);
    EXPECT_EQ(sim::flash_peek(kSector1, 16), Bytes(16, 0xff));
}

}  // namespace

}  // namespace bsp::test
