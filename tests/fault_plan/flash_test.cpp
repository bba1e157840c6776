// The flash under the fault plan: a write or erase torn by a power cut leaves the NOR cells
// as far as they got and fails, and the library reports it with its documented texts.
#include <bsp_ctrl/flash_api.h>
#include <bsp_os.h>

#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;
using Bytes = std::vector<uint8_t>;

constexpr UINT32 kSector1 = 0x10000;

class FlashFaultTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(FlashCreate(), 0u);
        sim::clear_log();
        sim::fault_plan_seed(0xf1a5);
    }
    void TearDown() override {
        FlashDelete();
        SimTest::TearDown();
    }
    static std::string log() { return sim::log_text(DBG_FLASH_INDEX); }
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
