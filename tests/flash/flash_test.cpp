// Flash access over the simulated /dev/mtd0: geometry, NOR reads/writes/erases, the closed
// device before FlashCreate and after FlashDelete, and every failure path with its log text.
#include <bsp_ctrl/flash_api.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

class FlashTest : public SimTest {
  protected:
    void TearDown() override {
        FlashDelete();
        SimTest::TearDown();
    }

    static std::string log() { return sim::log_text(DBG_FLASH_INDEX); }

    static bool all_level_1() {
        for (const sim::LogRecord &r : sim::log_records()) {
            if (r.module == DBG_FLASH_INDEX && r.level != 1) {
                return false;
            }
        }
        return true;
    }

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
    EXPECT_TRUE(all_level_1());
}

TEST_F(FlashTest, NorWritesOnlyClearBitsAndEraseSetsTheSector) {
    create();
    uint8_t a = 0x0f, b = 0xf0, out = 0;
    EXPECT_EQ(FlashWrite(&a, 0x10001, 1), 0u);
    EXPECT_EQ(FlashWrite(&b, 0x10001, 1), 0u);
    EXPECT_EQ(FlashRead(0x10001, &out, 1), 0u);
    EXPECT_EQ(out, 0x00);
    EXPECT_EQ(FlashEraseSector(1), 0u);
    EXPECT_EQ(sim::flash_peek(0x10000, 0x10000), std::vector<uint8_t>(0x10000, 0xff));
    EXPECT_EQ(sim::flash_ops(),
              (std::vector<std::string>{"write 0x10001 1", "write 0x10001 1", "read 0x10001 1",
                                        "erase 0x10000 65536"}));
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    std::vector<uint8_t> back(300);
    EXPECT_EQ(FlashWrite(data.data(), 0x1ff00, 300), 0u);  // crosses into sector 2
    EXPECT_EQ(FlashRead(0x1ff00, back.data(), 300), 0u);
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
const std::vector<std::pair<std::string, std::function<UINT32()>>> &closed_calls() {
    static uint8_t buf[4];
    static UINT32 a, b, c;
    static const std::vector<std::pair<std::string, std::function<UINT32()>>> calls = {
        {"FlashDelete", [] { return FlashDelete(); }},
        {"FlashRead", [] { return FlashRead(0, buf, 4); }},
        {"FlashWrite", [] { return FlashWrite(buf, 0, 4); }},
        {"FlashEraseSector", [] { return FlashEraseSector(0); }},
        {"FlashGetInfo", [] { return FlashGetInfo(&a, &b, &c); }},
        {"FlashGetSectorInfo", [] { return FlashGetSectorInfo(0, &a, &b); }},
        {"FlashRetrieveInfo", [] { return FlashRetrieveInfo(0, &a, &b); }},
    };
    return calls;
}

TEST_F(FlashTest, ClosedDeviceFailsBeforeCreateAndAfterDelete) {
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            ASSERT_EQ(FlashCreate(), 0u);
            ASSERT_EQ(FlashDelete(), 0u);
            EXPECT_FALSE(flash_sem_exists());
            EXPECT_EQ(sim::open_device_files(), 0u);
        }
        for (const auto &[name, call] : closed_calls()) {
            sim::clear_log();
            EXPECT_EQ(call(), 1u) << name;
            EXPECT_EQ(log(), name + " failed: Bad file descriptor\n") << round;
        }
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
    sim::inject_fault({sim::FaultOp::SemCreate, 1, EIO, -1, ""});
    EXPECT_EQ(FlashCreate(), 1u);
    sim::inject_fault({sim::FaultOp::Open, 1, ENOENT, -1, "/dev/mtd0"});
    EXPECT_EQ(FlashCreate(), 1u);
    EXPECT_FALSE(flash_sem_exists());
    sim::inject_fault({sim::FaultOp::Ioctl, 1, EIO, -1, "/dev/mtd0"});
    EXPECT_EQ(FlashCreate(), 1u);
    EXPECT_FALSE(flash_sem_exists());
    EXPECT_EQ(sim::open_device_files(), 0u);
    EXPECT_EQ(log(),
              "FlashCreate OS_Create_Semaphore failed\n"
              "FlashCreate open failed: No such file or directory\n"
              "FlashCreate MEMGETINFO failed: Input/output error\n");
    sim::clear_log();
    uint8_t b = 0;
    EXPECT_EQ(FlashRead(0, &b, 1), 1u);  // a failed create leaves the device closed
    EXPECT_EQ(log(), "FlashRead failed: Bad file descriptor\n");
}

// One fault (operation, error, short transfer length) and what a read and a write log.
struct TransferFault {
    const char *name;
    sim::FaultOp op;
    int error;
    long short_length;
    const char *read_log;
    const char *write_log;
};

void PrintTo(const TransferFault &f, std::ostream *os) {
    *os << f.name;
}

class FlashTransferFailure : public FlashTest,
                             public ::testing::WithParamInterface<TransferFault> {};

TEST_P(FlashTransferFailure, LogsAndGivesTheSemaphoreBack) {
    create();
    uint8_t buf[8] = {};
    const TransferFault &f = GetParam();
    const std::string path = f.op == sim::FaultOp::SemObtain ? "" : "/dev/mtd0";
    sim::inject_fault({f.op, 1, f.error, f.short_length, path});
    EXPECT_EQ(FlashRead(0x100, buf, 8), *GetParam().read_log != '\0' ? 1u : 0u);
    sim::clear_faults();
    sim::inject_fault({f.op, 1, f.error, f.short_length, path});
    EXPECT_EQ(FlashWrite(buf, 0x100, 8), *GetParam().write_log != '\0' ? 1u : 0u);
    EXPECT_EQ(log(), std::string(GetParam().read_log) + GetParam().write_log);
    EXPECT_TRUE(sim::held_semaphores().empty());
    EXPECT_TRUE(all_level_1());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FlashTransferFailure,
    ::testing::Values(TransferFault{"Obtain", sim::FaultOp::SemObtain, EIO, -1,
                                    "FlashRead OS_Obtain_Semaphore failed\n",
                                    "FlashWrite OS_Obtain_Semaphore failed\n"},
                      TransferFault{"Seek", sim::FaultOp::Lseek, EIO, -1,
                                    "FlashRead lseek failed: Input/output error\n",
                                    "FlashWrite lseek failed: Input/output error\n"},
                      TransferFault{"ReadError", sim::FaultOp::Read, EIO, -1,
                                    "FlashRead read failed: Input/output error\n", ""},
                      TransferFault{"WriteError", sim::FaultOp::Write, EIO, -1, "",
                                    "FlashWrite write failed: Input/output error\n"},
                      TransferFault{"ShortRead", sim::FaultOp::Read, EIO, 3,
                                    "FlashRead read failed: Success\n", ""},
                      TransferFault{"ShortWrite", sim::FaultOp::Write, EIO, 3, "",
                                    "FlashWrite write failed: Success\n"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

TEST_F(FlashTest, EraseFailures) {
    create();
    sim::inject_fault({sim::FaultOp::Ioctl, 1, EIO, -1, "/dev/mtd0"});
    EXPECT_EQ(FlashEraseSector(3), 1u);
    sim::inject_fault({sim::FaultOp::Ioctl, 2, EIO, -1, "/dev/mtd0"});
    EXPECT_EQ(FlashEraseSector(3), 1u);
    EXPECT_EQ(FlashEraseSector(128), 1u);
    sim::inject_fault({sim::FaultOp::SemObtain, 1, EIO, -1, ""});
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
struct ReleaseFault {
    const char *name;
    std::function<UINT32()> call;
    const char *log;
    std::vector<std::string> ops;
};

void PrintTo(const ReleaseFault &f, std::ostream *os) {
    *os << f.name;
}

class FlashReleaseFailure : public FlashTest, public ::testing::WithParamInterface<ReleaseFault> {};

TEST_P(FlashReleaseFailure, IsReported) {
    create();
    sim::inject_fault({sim::FaultOp::SemRelease, 1, EIO, -1, ""});
    EXPECT_EQ(GetParam().call(), 1u);
    EXPECT_EQ(log(), GetParam().log);
    EXPECT_EQ(sim::flash_ops(), GetParam().ops);
}

uint8_t g_buf[8];

INSTANTIATE_TEST_SUITE_P(Calls, FlashReleaseFailure,
                         ::testing::Values(ReleaseFault{"Read",
                                                        [] { return FlashRead(0x100, g_buf, 8); },
                                                        "FlashRead OS_Release_Semaphore failed\n",
                                                        {"read 0x100 8"}},
                                           ReleaseFault{"Write",
                                                        [] { return FlashWrite(g_buf, 0x100, 8); },
                                                        "FlashWrite OS_Release_Semaphore failed\n",
                                                        {"write 0x100 8"}},
                                           ReleaseFault{
                                               "Erase",
                                               [] { return FlashEraseSector(3); },
                                               "FlashEraseSector OS_Release_Semaphore failed\n",
                                               {"erase 0x30000 65536"}}),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

TEST_F(FlashTest, DeleteFailures) {
    create();
    sim::inject_fault({sim::FaultOp::Close, 1, EIO, -1, "/dev/mtd0"});
    EXPECT_EQ(FlashDelete(), 1u);
    EXPECT_FALSE(flash_sem_exists());
    EXPECT_EQ(FlashDelete(), 1u);
    create();
    sim::inject_fault({sim::FaultOp::SemDelete, 1, EIO, -1, ""});
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
    sim::inject_fault({sim::FaultOp::Ioctl, 1, ENOTTY, -1, "/dev/mtd0"});
    EXPECT_EQ(FlashGetInfo(&base, &size, &sectors), 1u);
    sim::inject_fault({sim::FaultOp::Ioctl, 1, ENOTTY, -1, "/dev/mtd0"});
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
    std::atomic<int> bad{0};
    auto worker = [&bad](UINT32 sector, uint8_t value) {
        std::vector<uint8_t> data(512, value);
        std::vector<uint8_t> back(512);
        for (int i = 0; i < 50; ++i) {
            UINT32 at = sector * 0x10000 + static_cast<UINT32>(i) * 512;
            bad += FlashWrite(data.data(), at, 512) != 0;
            bad += FlashRead(at, back.data(), 512) != 0 || back != data;
        }
    };
    std::thread a(worker, 4, 0x11);
    std::thread b(worker, 5, 0x22);
    a.join();
    b.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(sim::flash_peek(0x40000, 50 * 512), std::vector<uint8_t>(50 * 512, 0x11));
    EXPECT_EQ(sim::flash_peek(0x50000, 50 * 512), std::vector<uint8_t>(50 * 512, 0x22));
}

// Deleting and creating while other threads call (run under ThreadSanitizer): no call may
// reach a descriptor that has been closed.
TEST_F(FlashTest, DeleteAndCreateWhileCallsRun) {
    ASSERT_EQ(FlashCreate(), 0u);
    const size_t descriptors = open_descriptor_count();
    std::atomic<bool> stop{false};
    std::atomic<unsigned> succeeded{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&stop, &succeeded, t] {
            uint8_t buf[32] = {};
            UINT32 base = 0;
            UINT32 size = 0;
            while (!stop) {
                UINT32 r = t == 0   ? FlashRead(0, buf, sizeof buf)
                           : t == 1 ? FlashWrite(buf, 64, sizeof buf)
                                    : FlashGetSectorInfo(1, &base, &size);
                EXPECT_LE(r, 1u);
                succeeded += r == 0 ? 1 : 0;
            }
        });
    }
    // At least 200 cycles, and on until the callers have been served now and then (a loaded
    // machine may not schedule them during the first cycles).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int i = 0; i < 200 || (succeeded < 10 && std::chrono::steady_clock::now() < deadline);
         ++i) {
        ASSERT_EQ(FlashDelete(), 0u);
        ASSERT_EQ(FlashCreate(), 0u);
    }
    stop = true;
    for (std::thread &t : callers) {
        t.join();
    }
    EXPECT_GT(succeeded.load(), 0u);
    EXPECT_EQ(open_descriptor_count(), descriptors);
    EXPECT_EQ(sim::open_device_files(), 1u);
}

// Under the fault plan a write or erase torn by a power cut leaves the NOR cells as far as
// they got and fails, and the library reports it with its documented texts.
constexpr UINT32 kSector1 = 0x10000;
using Bytes = std::vector<uint8_t>;
using sim::BusFault;

class FlashFaultTest : public FlashTest {
  protected:
    void SetUp() override {
        FlashTest::SetUp();
        create();
        sim::fault_plan_seed(0xf1a5);
    }
};

TEST_F(FlashFaultTest, TornWriteKeepsTheProgrammedBytesAndFails) {
    Bytes data(16, 0x00);
    sim::fault_plan_at(BusFault::FlashTear, 1, 5);
    EXPECT_EQ(FlashWrite(data.data(), kSector1, 16), 1u);
    EXPECT_EQ(log(), "FlashWrite write failed: Input/output error\n");
    Bytes back(16);
    EXPECT_EQ(FlashRead(kSector1, back.data(), 16), 0u);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 5), Bytes(5, 0x00));
    EXPECT_EQ(Bytes(back.begin() + 6, back.end()), Bytes(10, 0xff));  // never reached
    EXPECT_NE(back, data);
    // Programming only clears bits: writing the same data again completes it.
    EXPECT_EQ(FlashWrite(data.data(), kSector1, 16), 0u);
    EXPECT_EQ(sim::flash_peek(kSector1, 16), data);
}

TEST_F(FlashFaultTest, TornEraseLeavesTheSectorPartlyErasedAndFails) {
    sim::flash_poke(kSector1, Bytes(64, 0x00));
    sim::fault_plan_at(BusFault::FlashEraseTear, 1, 32);
    EXPECT_EQ(FlashEraseSector(1), 1u);
    EXPECT_EQ(log(), "FlashEraseSector MEMERASE failed: Input/output error\n");
    EXPECT_EQ(sim::flash_peek(kSector1, 32), Bytes(32, 0xff));
    EXPECT_EQ(sim::flash_peek(kSector1 + 33, 31), Bytes(31, 0x00));
    EXPECT_EQ(FlashEraseSector(1), 0u);
    EXPECT_EQ(sim::flash_peek(kSector1, 64), Bytes(64, 0xff));
}

// The run of results and the flash contents of a series of writes under a chance of tears.
std::pair<std::vector<UINT32>, Bytes> torn_run(uint64_t seed) {
    sim::fault_plan_seed(seed);
    sim::fault_plan_chance(BusFault::FlashTear, 0.4);
    std::vector<UINT32> results;
    for (UINT32 i = 0; i < 32; ++i) {
        Bytes data(32, static_cast<uint8_t>(i * 37));
        results.push_back(FlashWrite(data.data(), kSector1 + i * 32, 32));
    }
    return {results, sim::flash_peek(kSector1, 1024)};
}

TEST_F(FlashFaultTest, SameSeedReplaysTheSameTornImage) {
    auto first = torn_run(0xabcdef);
    EXPECT_NE(std::count(first.first.begin(), first.first.end(), 1u), 0);
    EXPECT_NE(std::count(first.first.begin(), first.first.end(), 0u), 0);
    FlashDelete();
    sim::reset_unit();
    ASSERT_EQ(FlashCreate(), 0u);
    EXPECT_EQ(torn_run(0xabcdef), first);
}

}  // namespace

}  // namespace bsp::test
