// Flash access over the simulated /dev/mtd0: geometry, NOR reads/writes/erases, the closed
// device before FlashCreate and after FlashDelete, every failure path with its log text, and
// writes and erases torn under the fault plan. (Concurrent callers, and FlashDelete racing
// them, are the stress tests' work.)
#include <bsp_ctrl/flash_api.h>

#include <functional>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

constexpr UINT32 kSector1 = 0x10000;
const std::string kMtd = "/dev/mtd0";
using enum sim::FaultOp;

class FlashTest : public SimTest {
  protected:
    void TearDown() override {
        FlashDelete();
        SimTest::TearDown();
    }

    static std::string log() { return sim::log_text(DBG_FLASH_INDEX); }

    void create() {
        ASSERT_EQ(FlashCreate(), 0u);
        sim::clear_log();
    }
};

// Sector geometry and addresses; a write and a read may cross sectors, each one operation on
// the device; an erase sets its whole sector. (The flash's size and NOR writes clearing only
// bits show in the shell transcript.)
TEST_F(FlashTest, GeometryCrossingTransfersAndErase) {
    create();
    UINT32 base = 1, size = 0;
    EXPECT_EQ(FlashGetSectorInfo(127, &base, &size), 0u);
    EXPECT_EQ(base, 8323072u);
    EXPECT_EQ(size, 65536u);
    UINT32 address = 0, sector = 0;
    EXPECT_EQ(FlashRetrieveInfo(0x10000, &address, &sector), 0u);
    EXPECT_EQ(address, 0x10000u);
    EXPECT_EQ(sector, 1u);
    EXPECT_EQ(FlashRetrieveInfo(8388608, &address, &sector), 1u);
    EXPECT_EQ(address, 8388608u);  // set even when refused (the table checks its log line)
    sim::clear_log();
    Bytes data = unhex("00 07 0e 15 1c 23 2a 31 38 3f 46 4d 54 5b 62 69 70 77 7e 85");
    Bytes back(data.size());
    EXPECT_EQ(FlashWrite(data.data(), 0x1fff8, 20), 0u);  // crosses into sector 2
    EXPECT_EQ(FlashRead(0x1fff8, back.data(), 20), 0u);
    EXPECT_EQ(back, data);
    EXPECT_EQ(FlashEraseSector(1), 0u);
    EXPECT_EQ(sim::flash_peek(0x10000, 0x10000), Bytes(0x10000, 0xff));
    EXPECT_EQ(sim::flash_ops(), (std::vector<std::string>{"write 0x1fff8 20", "read 0x1fff8 20",
                                                          "erase 0x10000 65536"}));
    EXPECT_TRUE(log().empty());
}

// One call on the open device, its result, what it logs (at level 1) and whether it reaches
// the device: the ends of the flash, NULL pointers, and the calls with fixed answers.
struct Call {
    std::function<UINT32()> call;
    UINT32 result;
    const char *log;
};

TEST_F(FlashTest, EveryCallAnswersWithItsResultAndLogLine) {
    static uint8_t buf[16];
    static UINT32 v;
    const Call calls[] = {
        {[] { return FlashRead(8388608, buf, 0); }, 0, ""},
        {[] { return FlashRead(8388608, buf, 1); }, 1, "FlashRead read failed: Success\n"},
        {[] { return FlashRead(8388600, buf, 16); }, 1, "FlashRead read failed: Success\n"},
        {[] { return FlashWrite(buf, 8388608, 1); }, 1,
         "FlashWrite write failed: No space left on device\n"},
        {[] { return FlashWrite(buf, 8388609, 1); }, 1, "FlashWrite failed: Invalid address\n"},
        {[] { return FlashGetSectorInfo(128, &v, &v); }, 1,
         "FlashGetSectorInfo failed: Invalid sector number\n"},
        {[] { return FlashRetrieveInfo(8388608, &v, &v); }, 1,
         "FlashRetrieveInfo failed: Invalid address\n"},
        {[] { return FlashEraseSector(128); }, 1,
         "FlashGetSectorInfo failed: Invalid sector number\n"
         "FlashEraseSector call to FlashGetSectorInfo failed\n"},
        {[] { return FlashRead(0, nullptr, 4); }, 1, "FlashRead failed: Bad address\n"},
        {[] { return FlashWrite(nullptr, 0, 4); }, 1, "FlashWrite failed: Bad address\n"},
        {[] { return FlashGetInfo(nullptr, &v, &v); }, 1, "FlashGetInfo failed: Bad address\n"},
        {[] { return FlashGetSectorInfo(0, &v, nullptr); }, 1,
         "FlashGetSectorInfo failed: Bad address\n"},
        {[] { return FlashRetrieveInfo(0, nullptr, &v); }, 1,
         "FlashRetrieveInfo failed: Bad address\n"},
        {FlashInstall, 0, "FlashInstall succeeded: mtd flash driver already installed\n"},
        {FlashUninstall, 1, "FlashUninstall failed: mtd flash driver remains installed\n"},
        {FlashReset, 0, "FlashReset function is not implemented\n"},
        {FlashEraseChip, 1, "FlashEraseChip function is not implemented (too dangerous!)\n"},
    };
    create();
    for (const Call &c : calls) {
        sim::clear_log();
        EXPECT_EQ(c.call(), c.result) << c.log;
        EXPECT_EQ(log(), c.log);
        for (const sim::LogRecord &r : sim::log_records()) {
            EXPECT_EQ(r.level, 1u) << c.log;
        }
    }
}

// A failed create leaves the device closed and nothing held; every call on a closed device
// fails, after failed creates and again after FlashDelete; a failed delete still closes.
TEST_F(FlashTest, CreateDeleteAndTheClosedDevice) {
    sim::inject_fault({SemCreate, 1, EIO, -1, ""});
    EXPECT_EQ(FlashCreate(), 1u);
    sim::inject_fault({Open, 1, ENOENT, -1, kMtd});
    EXPECT_EQ(FlashCreate(), 1u);
    EXPECT_TRUE(sim::semaphores().empty());
    sim::inject_fault({Ioctl, 1, EIO, -1, kMtd});
    EXPECT_EQ(FlashCreate(), 1u);
    EXPECT_EQ(log(),
              "FlashCreate OS_Create_Semaphore failed\n"
              "FlashCreate open failed: No such file or directory\n"
              "FlashCreate MEMGETINFO failed: Input/output error\n");
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(sim::semaphores().empty());
        EXPECT_EQ(sim::open_device_files(), 0u);
        sim::clear_log();
        uint8_t buf[4];
        UINT32 a, b, c;
        EXPECT_EQ(FlashDelete() + FlashRead(0, buf, 4) + FlashWrite(buf, 0, 4) +
                      FlashEraseSector(0) + FlashGetInfo(&a, &b, &c) +
                      FlashGetSectorInfo(0, &a, &b) + FlashRetrieveInfo(0, &a, &b),
                  7u);
        std::string closed;
        for (const char *call : {"Delete", "Read", "Write", "EraseSector", "GetInfo",
                                 "GetSectorInfo", "RetrieveInfo"}) {
            closed += std::string("Flash") + call + " failed: Bad file descriptor\n";
        }
        EXPECT_EQ(log(), closed) << round;
        ASSERT_EQ(FlashCreate(), 0u);
        ASSERT_EQ(FlashDelete(), 0u);
    }
    EXPECT_TRUE(sim::flash_ops().empty());
    create();
    sim::inject_fault({Close, 1, EIO, -1, kMtd});
    EXPECT_EQ(FlashDelete(), 1u);
    EXPECT_TRUE(sim::semaphores().empty());
    EXPECT_EQ(FlashDelete(), 1u);
    create();
    sim::inject_fault({SemDelete, 1, EIO, -1, ""});
    EXPECT_EQ(FlashDelete(), 1u);
    EXPECT_EQ(log(), "FlashDelete OS_Delete_Semaphore failed\n");
    EXPECT_EQ(sim::open_device_files(), 0u);
}

// One fault on the open device, the call it hits, and what the call returns and logs. A
// semaphore that could not be released stays held, so each row runs in its own process.
struct FaultCase {
    sim::FaultOp op;
    unsigned nth;
    long short_length;
    int call;  // 0 read, 1 write, 2 erase
    const char *log;
};

class FlashFailure : public FlashTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FlashFailure, LogsFailsAndGivesTheSemaphoreBack) {
    const FaultCase &f = GetParam();
    create();
    uint8_t buf[8] = {};
    const bool device = f.op != SemObtain && f.op != SemRelease;
    sim::inject_fault({f.op, f.nth, EIO, f.short_length, device ? kMtd : ""});
    UINT32 rc = f.call == 0   ? FlashRead(0x100, buf, 8)
                : f.call == 1 ? FlashWrite(buf, 0x100, 8)
                              : FlashEraseSector(3);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(log(), f.log);
    EXPECT_EQ(sim::held_semaphores().empty(), f.op != SemRelease);
    EXPECT_EQ(sim::log_records().at(0).level, 1u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, FlashFailure, ::testing::Values(
    FaultCase{SemObtain, 1, -1, 0, "FlashRead OS_Obtain_Semaphore failed\n"},
    FaultCase{SemObtain, 1, -1, 1, "FlashWrite OS_Obtain_Semaphore failed\n"},
    FaultCase{SemObtain, 1, -1, 2, "FlashEraseSector OS_Obtain_Semaphore failed\n"},
    FaultCase{Lseek, 1, -1, 0, "FlashRead lseek failed: Input/output error\n"},
    FaultCase{Lseek, 1, -1, 1, "FlashWrite lseek failed: Input/output error\n"},
    FaultCase{Read, 1, -1, 0, "FlashRead read failed: Input/output error\n"},
    FaultCase{Write, 1, -1, 1, "FlashWrite write failed: Input/output error\n"},
    FaultCase{Read, 1, 3, 0, "FlashRead read failed: Success\n"},
    FaultCase{Write, 1, 3, 1, "FlashWrite write failed: Success\n"},
    FaultCase{Ioctl, 1, -1, 2, "FlashGetSectorInfo MEMGETREGIONCOUNT failed: "
              "Input/output error\nFlashEraseSector call to FlashGetSectorInfo failed\n"},
    FaultCase{Ioctl, 2, -1, 2, "FlashEraseSector MEMERASE failed: Input/output error\n"},
    FaultCase{SemRelease, 1, -1, 0, "FlashRead OS_Release_Semaphore failed\n"},
    FaultCase{SemRelease, 1, -1, 1, "FlashWrite OS_Release_Semaphore failed\n"},
    FaultCase{SemRelease, 1, -1, 2, "FlashEraseSector OS_Release_Semaphore failed\n"}));
// clang-format on

TEST_F(FlashTest, FlashWithEraseRegionsIsRefusedByTheGeometryQueries) {
    sim::configure_flash({8u << 20, 64u << 10, 2});
    create();
    UINT32 base = 0, size = 0, sectors = 0;
    EXPECT_EQ(FlashGetInfo(&base, &size, &sectors), 1u);
    EXPECT_EQ(size, 8388608u);
    EXPECT_EQ(FlashGetSectorInfo(0, &base, &size), 1u);
    EXPECT_EQ(FlashRetrieveInfo(0, &base, &sectors), 1u);
    EXPECT_EQ(FlashEraseSector(0), 1u);
    sim::inject_fault({Ioctl, 1, ENOTTY, -1, kMtd});
    EXPECT_EQ(FlashGetInfo(&base, &size, &sectors), 1u);
    sim::inject_fault({Ioctl, 1, ENOTTY, -1, kMtd});
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
