// The EEPROM layout: formatting, areas and data items byte for byte on the chip and on the
// bus, every result code in the situation that gives it, and page writes torn or lost under
// the fault plan, which the layout's checks then find.
#include <numeric>

#include "e2prom_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;

uint8_t sum(const Bytes &v) {
    return static_cast<uint8_t>(std::accumulate(v.begin(), v.end(), 0u));
}

class LayoutTest : public E2promTest {
  protected:
    // A formatted EEPROM with area 1 of 1000 bytes at 0x40 holding item 7 = "hello" at 0x140.
    void make_item() {
        ASSERT_EQ(e2prom_init(), 0);
        ASSERT_EQ(e2prom_area_init(1, 1000), 0);
        ASSERT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);
        sim::clear_i2c_log();
    }

    // The writes of data on the bus (position-only writes left out).
    static std::vector<std::string> writes() {
        std::vector<std::string> out;
        for (const sim::I2cTransfer &t : sim::i2c_log()) {
            if (!t.read && t.data.size() > 2) {
                out.push_back(sim::to_string(t));
            }
        }
        return out;
    }

    // The page write after the next `skip` ones is torn at `at`.
    static void tear_next(uint32_t at, uint64_t skip = 0) {
        sim::fault_plan_at(BusFault::EepromTear,
                           sim::fault_plan_events(BusFault::EepromTear) + 1 + skip, at);
    }

    UINT8 hello_[5] = {'h', 'e', 'l', 'l', 'o'};
    UINT8 world_[5] = {'w', 'o', 'r', 'l', 'd'};
    UINT16 size_ = 0;
    Bytes buf_ = Bytes(256);
};

TEST_F(LayoutTest, InitWritesTheEmptyHeaderOnce) {
    EXPECT_EQ(e2prom_init(), 0);
    EXPECT_EQ(chip(0, 8), unhex("00 00 00 3e 00 00 3e ff"));
    EXPECT_EQ(writes(), std::vector<std::string>{"W 57: 00 00 00 00 00 3e 00 00 3e"});
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_init(), -1);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(e2prom_get_header_size(&size_), 0);
    EXPECT_EQ(size_, 6);
}

TEST_F(LayoutTest, AreaInitWritesEntryTerminatorCheckAndAreaHeader) {
    ASSERT_EQ(e2prom_init(), 0);
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_area_init(1, 1000), 0);
    // Entry (id 1, size 1000, at 0x40), terminator, check byte.
    EXPECT_EQ(chip(5, 11), unhex("01 00 00 03 e8 00 00 00 40 00 6a"));
    EXPECT_EQ(chip(0x40, 7), unhex("00 00 03 e8 00 00 eb"));
    EXPECT_EQ(writes(), (std::vector<std::string>{"W 57: 00 05 01 00 00 03 e8 00 00 00 40",
                                                  "W 57: 00 05 01 00 00 03 e8 00 00 00 40 00 6a",
                                                  "W 57: 00 40 00 00 03 e8 00 00 eb"}));
    EXPECT_EQ(e2prom_area_init(2, 100), 0);
    EXPECT_EQ(chip(14, 9), unhex("02 00 00 00 64 00 00 04 28"));
    EXPECT_EQ(e2prom_get_header_size(&size_), 0);
    EXPECT_EQ(size_, 24);
    EXPECT_EQ(e2prom_get_area_header_size(2, &size_), 0);
    EXPECT_EQ(size_, 6);
    Bytes header(64);
    EXPECT_EQ(e2prom_header_read(header.data()), 0);
    EXPECT_EQ(header, chip(0, 64));
}

TEST_F(LayoutTest, AreaLimits) {
    ASSERT_EQ(e2prom_init(), 0);
    EXPECT_EQ(e2prom_area_init(1, 0x3e00 - 0x40 + 1), -11);
    EXPECT_EQ(e2prom_area_init(0, 10), -6);
    poke(0x40, {0x00, 0x00});  // an area header there already: the new entry stays
    EXPECT_EQ(e2prom_area_init(1, 16), -6);
    EXPECT_EQ(chip(5, 1), Bytes{0x01});
    for (UINT8 id = 2; id <= 6; ++id) {
        ASSERT_EQ(e2prom_area_init(id, 10), 0) << int(id);
    }
    EXPECT_EQ(e2prom_area_init(6, 10), -6);
    EXPECT_EQ(e2prom_area_init(7, 10), -5);
    EXPECT_EQ(e2prom_get_header_size(&size_), 0);
    EXPECT_EQ(size_, 60);
}

TEST_F(LayoutTest, AreaFillingTheSpaceExactlyFits) {
    ASSERT_EQ(e2prom_init(), 0);
    EXPECT_EQ(e2prom_area_init(1, 0x3e00 - 0x40), 0);
    EXPECT_EQ(e2prom_area_init(2, 1), -11);
}

TEST_F(LayoutTest, NewItemCostsFourWritesAndReadsBack) {
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 1000), 0);
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);
    EXPECT_EQ(writes(),
              (std::vector<std::string>{
                  "W 57: 00 44 00 07 00 06 01 00",                    // the entry
                  "W 57: 00 44 00 07 00 06 01 00 00 00 f9",           // + terminator, check
                  "W 57: 01 40 68 65 6c 6c 6f", "W 57: 01 45 14"}));  // data, its check
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size_), 0);
    EXPECT_EQ(size_, 5);
    EXPECT_EQ(e2prom_get_area_header_size(1, &size_), 0);
    EXPECT_EQ(size_, 12);
    uint8_t back[5] = {};
    EXPECT_EQ(e2prom_data_read(1, 7, back), 0);
    EXPECT_EQ(std::string(back, back + 5), "hello");
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), 0);
    EXPECT_EQ(buf_, chip(0x40, 256));
    uint8_t second[] = {1, 2, 3};
    EXPECT_EQ(e2prom_data_write(1, 8, 3, second), 0);
    EXPECT_EQ(chip(0x4a, 6), unhex("00 08 00 04 01 06"));
}

TEST_F(LayoutTest, RewriteWithTheSameSizeOverwritesInPlace) {
    make_item();
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), 0);
    EXPECT_EQ(writes(), (std::vector<std::string>{"W 57: 01 40 77 6f 72 6c 64", "W 57: 01 45 28"}));
    EXPECT_EQ(e2prom_data_write(1, 7, 4, world_), -15);
}

TEST_F(LayoutTest, ItemMustEndWithinTheArea) {
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 300), 0);
    EXPECT_EQ(e2prom_data_write(1, 1, 44, buf_.data()), -15);
    EXPECT_EQ(e2prom_data_write(1, 1, 43, buf_.data()), 0);
    ASSERT_EQ(e2prom_area_init(2, 300), 0);
    EXPECT_EQ(e2prom_data_write(2, 3, 0, buf_.data()), 0);  // an empty item reads back
    EXPECT_EQ(e2prom_get_data_size(2, 3, &size_), 0);
    EXPECT_EQ(size_, 0);
    EXPECT_EQ(e2prom_data_read(2, 3, buf_.data()), 0);
}

TEST_F(LayoutTest, AlteredBytesGiveTheirCheckErrors) {
    make_item();
    uint8_t item[5];
    poke(0x142, {'L'});
    EXPECT_EQ(e2prom_data_read(1, 7, item), -14);
    EXPECT_EQ(std::string(item, item + 5), "heLlo");
    poke(15, {static_cast<uint8_t>(chip(15, 1)[0] ^ 0x01)});
    EXPECT_EQ(e2prom_header_read(buf_.data()), -4);
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -4);
    EXPECT_EQ(e2prom_data_read(1, 7, item), -4);
    poke(15, {static_cast<uint8_t>(chip(15, 1)[0] ^ 0x01)});
    poke(0x4c, {static_cast<uint8_t>(chip(0x4c, 1)[0] + 1)});
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -9);
    EXPECT_EQ(e2prom_data_read(1, 7, item), -9);
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size_), 0);  // sizes verify no check byte
}

TEST_F(LayoutTest, LookupFailures) {
    EXPECT_EQ(e2prom_header_read(buf_.data()), -2);
    EXPECT_EQ(e2prom_area_init(1, 10), -2);
    EXPECT_EQ(e2prom_data_read(1, 1, buf_.data()), -2);
    make_item();
    EXPECT_EQ(e2prom_area_header_read(9, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_read(9, 7, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_write(9, 7, 1, buf_.data()), -7);
    EXPECT_EQ(e2prom_get_area_header_size(9, &size_), -7);
    EXPECT_EQ(e2prom_get_data_size(1, 99, &size_), -12);
    EXPECT_EQ(e2prom_data_read(1, 99, buf_.data()), -12);
    // Ids 0 name terminators, never an area or an item.
    EXPECT_EQ(e2prom_data_read(0, 7, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_read(1, 0, buf_.data()), -12);
    EXPECT_EQ(e2prom_data_write(1, 0, 1, buf_.data()), -12);
    poke(0x40, {0xff, 0xff});
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -7);
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -7);
}

TEST_F(LayoutTest, MissingTerminatorsAndFullAreaHeader) {
    make_item();
    // 41 entries fill the area header: its terminator lies at offset 250.
    Bytes area = {0x00, 0x00, 0x03, 0xe8};
    for (uint8_t id = 1; id <= 41; ++id) {
        area.insert(area.end(), {0x00, id, 0x00, 0x01, 0x01, 0x00});
    }
    area.insert(area.end(), {0x00, 0x00});
    area.push_back(sum(area));
    poke(0x40, area);
    EXPECT_EQ(e2prom_get_area_header_size(1, &size_), 0);
    EXPECT_EQ(size_, 252);
    EXPECT_EQ(e2prom_data_write(1, 42, 1, hello_), -10);
    poke(0x40 + 250, {0x00, 0x63});
    EXPECT_EQ(e2prom_get_area_header_size(1, &size_), -8);
    poke(5, Bytes(59, 0x01));
    EXPECT_EQ(e2prom_get_header_size(&size_), -3);
    EXPECT_EQ(e2prom_area_init(2, 10), -3);
}

TEST_F(LayoutTest, EntryOfStoredSizeZeroIsRefusedAndNothingIsRead) {
    make_item();
    Bytes area = unhex("00 00 03 e8 00 07 00 00 01 00 00 00");
    area.push_back(sum(area));
    poke(0x40, area);
    Bytes buf(8, 0x5a);
    EXPECT_EQ(e2prom_data_read(1, 7, buf.data()), -14);
    EXPECT_EQ(buf, Bytes(8, 0x5a));
    size_ = 0x1234;
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size_), -14);
    EXPECT_EQ(size_, 0x1234);
}

// Every function turns a device that returns nothing into -13, and a NULL buffer too.
TEST_F(LayoutTest, UnreadableDeviceAndNullBuffersGiveMinus13) {
    make_item();
    EXPECT_EQ(e2prom_header_read(nullptr), -13);
    EXPECT_EQ(e2prom_area_header_read(1, nullptr), -13);
    EXPECT_EQ(e2prom_get_header_size(nullptr), -13);
    EXPECT_EQ(e2prom_get_area_header_size(1, nullptr), -13);
    EXPECT_EQ(e2prom_data_read(1, 7, nullptr), -13);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, nullptr), -13);
    EXPECT_EQ(e2prom_get_data_size(1, 7, nullptr), -13);
    sim::inject_fault({sim::FaultOp::Read, 2, EIO, -1, "/dev/i2c-1"});
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -13);  // the area header read fails
    sim::clear_faults();
    sim::inject_fault({sim::FaultOp::Read, 0, EIO, -1, "/dev/i2c-1"});
    EXPECT_EQ(e2prom_init(), -13);
    EXPECT_EQ(e2prom_header_read(buf_.data()), -13);
    EXPECT_EQ(e2prom_get_header_size(&size_), -13);
    EXPECT_EQ(e2prom_area_init(2, 10), -13);
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -13);
    EXPECT_EQ(e2prom_get_area_header_size(1, &size_), -13);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, buf_.data()), -13);
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -13);
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size_), -13);
}

TEST_F(LayoutTest, TornDataWriteGivesTheCheckByteError) {
    make_item();
    tear_next(2);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), 0);       // writes are not verified
    EXPECT_EQ(chip(0x140, 6), unhex("77 6f 6c 6c 6f 28"));  // "wollo", check of "world"
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -14);
    EXPECT_EQ(Bytes(buf_.begin(), buf_.begin() + 5), unhex("77 6f 6c 6c 6f"));
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), 0);  // rewriting mends it
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), 0);
}

TEST_F(LayoutTest, TornHeaderEntryGivesTheHeaderCheckError) {
    make_item();
    tear_next(10, 1);  // the entry, terminator and check byte write keeps all but the check
    EXPECT_EQ(e2prom_area_init(2, 100), 0);
    EXPECT_EQ(chip(23, 2), unhex("00 ff"));
    EXPECT_EQ(e2prom_header_read(buf_.data()), -4);
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -4);
    EXPECT_EQ(e2prom_get_header_size(&size_), 0);  // does not look at the check byte
    EXPECT_EQ(size_, 24);
}

TEST_F(LayoutTest, TornAreaHeaderGivesTheAreaHeaderCheckError) {
    ASSERT_EQ(e2prom_init(), 0);
    tear_next(6, 2);  // the area header write loses its check byte
    EXPECT_EQ(e2prom_area_init(1, 1000), 0);
    EXPECT_EQ(chip(0x40, 7), unhex("00 00 03 e8 00 00 ff"));
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), -9);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, hello_), 0);  // a new entry rewrites the check byte
    EXPECT_EQ(e2prom_area_header_read(1, buf_.data()), 0);
}

TEST_F(LayoutTest, BusyChipLosesTheCheckByteWriteAndReadsFailUntilItAnswers) {
    make_item();
    sim::fault_plan_busy_time(std::chrono::seconds(2));
    sim::fault_plan_at(BusFault::EepromBusy, sim::fault_plan_events(BusFault::EepromBusy) + 1);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, world_), -13);  // the refused check byte is reported
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -13);
    EXPECT_EQ(out(),
              "Error writing EEPROM: write returned -1, instead of 3\n"
              "Error setting position to byte 0\n");
    ASSERT_TRUE(wait_until([] { return !sim::eeprom_chip()->busy(); }));
    EXPECT_EQ(e2prom_data_read(1, 7, buf_.data()), -14);  // the check byte is still of "hello"
    EXPECT_EQ(Bytes(buf_.begin(), buf_.begin() + 5), Bytes(world_, world_ + 5));
}

}  // namespace

}  // namespace bsp::test
