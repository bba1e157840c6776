// The EEPROM under the fault plan: a page write torn by a power cut keeps its first bytes,
// and the layout's checks find it; a chip that stays busy after a write fails the accesses
// that meet it and the lost write shows up as a check-byte error.
#include <bsp_ctrl/e2prom.h>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;
using Bytes = std::vector<uint8_t>;

class EepromFaultTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::eeprom_chip()->fill(0xff);
        ASSERT_EQ(e2prom_i2c_addr_find(), 0);
        sim::fault_plan_seed(0x5eed);
    }
    // Formatted, area 1 of 1000 bytes at 0x40, item 7 = "hello" at 0x140.
    void make_item() {
        ASSERT_EQ(e2prom_init(), 0);
        ASSERT_EQ(e2prom_area_init(1, 1000), 0);
        ASSERT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);
    }

    // The page write after the next `skip` ones is torn at `at`.
    static void tear_next(uint32_t at, uint64_t skip = 0) {
        sim::fault_plan_at(BusFault::EepromTear,
                           sim::fault_plan_events(BusFault::EepromTear) + 1 + skip, at);
    }

    static Bytes chip(size_t at, size_t n) { return sim::eeprom_chip()->peek(at, n); }

    UINT8 hello_[5] = {'h', 'e', 'l', 'l', 'o'};
};

TEST_F(EepromFaultTest, TornDataWriteGivesTheCheckByteError) {
    make_item();
    UINT8 world[5] = {'w', 'o', 'r', 'l', 'd'};
    tear_next(2);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world), 0);                    // writes are not verified
    EXPECT_EQ(chip(0x140, 6), (Bytes{'w', 'o', 'l', 'l', 'o', 0x28}));  // check byte of "world"
    UINT8 got[5] = {};
    EXPECT_EQ(e2prom_data_read(1, 7, got), -14);
    EXPECT_EQ(Bytes(got, got + 5), (Bytes{'w', 'o', 'l', 'l', 'o'}));
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world), 0);  // rewriting mends it
    EXPECT_EQ(e2prom_data_read(1, 7, got), 0);
}

TEST_F(EepromFaultTest, TornHeaderEntryGivesTheHeaderCheckError) {
    make_item();
    tear_next(10, 1);  // the entry, terminator and check byte write keeps all but the check
    EXPECT_EQ(e2prom_area_init(2, 100), 0);
    EXPECT_EQ(chip(23, 2), (Bytes{0x00, 0xff}));
    UINT8 header[64];
    EXPECT_EQ(e2prom_header_read(header), -4);
    UINT8 got[5];
    EXPECT_EQ(e2prom_data_read(1, 7, got), -4);
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_header_size(&size), 0);  // does not look at the check byte
    EXPECT_EQ(size, 24);
}

TEST_F(EepromFaultTest, TornAreaHeaderGivesTheAreaHeaderCheckError) {
    ASSERT_EQ(e2prom_init(), 0);
    tear_next(6, 2);  // the area header write loses its check byte
    EXPECT_EQ(e2prom_area_init(1, 1000), 0);
    EXPECT_EQ(chip(0x40, 7), (Bytes{0x00, 0x00, 0x03, 0xe8, 0x00, 0x00, 0xff}));
    UINT8 area[256];
    EXPECT_EQ(e2prom_area_header_read(1, area), -9);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);  // a new entry rewrites the check byte
    EXPECT_EQ(e2prom_area_header_read(1, area), 0);
}

TEST_F(EepromFaultTest, BusyChipLosesTheCheckByteWriteAndReadsFailUntilItAnswers) {
    make_item();
    UINT8 world[5] = {'w', 'o', 'r', 'l', 'd'};
    sim::fault_plan_busy_time(std::chrono::seconds(2));
    sim::fault_plan_at(BusFault::EepromBusy, sim::fault_plan_events(BusFault::EepromBusy) + 1);
    auto out = std::make_unique<StdoutCapture>();
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world), -13);  // the refused check byte is reported
    UINT8 got[5];
    EXPECT_EQ(e2prom_data_read(1, 7, got), -13);
    std::string printed = out->text();
    out.reset();  // the test's own failures go to standard output
    EXPECT_EQ(printed,
              "Error writing EEPROM: write returned -1, instead of 3\n"
              "Error setting position to byte 0\n");
    ASSERT_TRUE(wait_until([] { return !sim::eeprom_chip()->busy(); }));
    EXPECT_EQ(e2prom_data_read(1, 7, got), -14);  // the check byte is still that of "hello"
    EXPECT_EQ(Bytes(got, got + 5), (Bytes{'w', 'o', 'r', 'l', 'd'}));
}

TEST_F(EepromFaultTest, RandomTearsNeverCrashTheLayout) {
    uint64_t seed = sim::fault_plan_seed_from_env();
    RecordProperty("fault_seed", std::to_string(seed));
    sim::fault_plan_chance(BusFault::EepromTear, 0.3);
    e2prom_init();
    for (UINT8 area = 1; area <= 3; ++area) {
        INT rc = e2prom_area_init(area, 300);
        EXPECT_TRUE(rc == 0 || (rc <= -2 && rc >= -11)) << rc;
        for (UINT16 id = 1; id <= 3; ++id) {
            rc = e2prom_data_write(area, id, 5, hello_);
            EXPECT_LE(rc, 0);
            UINT8 got[5];
            rc = e2prom_data_read(area, id, got);
            EXPECT_TRUE(rc <= 0 && rc >= -15) << rc;
        }
    }
}

}  // namespace

}  // namespace bsp::test
