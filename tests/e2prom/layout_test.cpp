// The EEPROM layout: formatting, areas and data items byte for byte on the chip and on the
// bus, and every result code in the situation that gives it.
#include <numeric>

#include "e2prom_fixture.h"

namespace bsp::test {

namespace {

uint8_t sum(const std::vector<uint8_t> &v) {
    return static_cast<uint8_t>(std::accumulate(v.begin(), v.end(), 0u));
}

class LayoutTest : public E2promTest {
  protected:
    std::vector<uint8_t> chip(size_t at, size_t n) { return sim::eeprom_chip()->peek(at, n); }
    void poke(size_t at, const std::vector<uint8_t> &bytes) { sim::eeprom_chip()->poke(at, bytes); }

    // A formatted EEPROM with area 1 of 1000 bytes at 0x40 holding item 7 = "hello".
    void make_item() {
        ASSERT_EQ(e2prom_init(), 0);
        ASSERT_EQ(e2prom_area_init(1, 1000), 0);
        uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
        ASSERT_EQ(e2prom_data_write(1, 7, 5, hello), 0);
        sim::clear_i2c_log();
    }

    std::vector<std::string> writes() {
        std::vector<std::string> out;
        for (const sim::I2cTransfer &t : sim::i2c_log()) {
            if (!t.read && t.data.size() > 2) {
                out.push_back(sim::to_string(t));
            }
        }
        return out;
    }
};

TEST_F(LayoutTest, InitWritesTheEmptyHeaderOnce) {
    REQUIRE_DEFAULT_PROBE();
    EXPECT_EQ(e2prom_init(), 0);
    EXPECT_EQ(chip(0, 8), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x3e, 0x00, 0x00, 0x3e, 0xff}));
    EXPECT_EQ(writes(), std::vector<std::string>{"W 57: 00 00 00 00 00 3e 00 00 3e"});
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_init(), -1);
    EXPECT_TRUE(writes().empty());
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_header_size(&size), 0);
    EXPECT_EQ(size, 6);
}

TEST_F(LayoutTest, AreaInitWritesEntryTerminatorCheckAndAreaHeader) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    sim::clear_i2c_log();
    EXPECT_EQ(e2prom_area_init(1, 1000), 0);
    // Entry (id 1, size 1000, at 0x40), terminator, check byte.
    EXPECT_EQ(chip(5, 11), (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x03, 0xe8, 0x00, 0x00, 0x00,
                                                 0x40, 0x00, 0x6a}));
    EXPECT_EQ(chip(0x40, 7), (std::vector<uint8_t>{0x00, 0x00, 0x03, 0xe8, 0x00, 0x00, 0xeb}));
    EXPECT_EQ(writes(), (std::vector<std::string>{"W 57: 00 05 01 00 00 03 e8 00 00 00 40",
                                                  "W 57: 00 05 01 00 00 03 e8 00 00 00 40 00 6a",
                                                  "W 57: 00 40 00 00 03 e8 00 00 eb"}));
    EXPECT_EQ(e2prom_area_init(2, 100), 0);
    EXPECT_EQ(chip(14, 9), (std::vector<uint8_t>{0x02, 0, 0, 0, 100, 0x00, 0x00, 0x04, 0x28}));
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_header_size(&size), 0);
    EXPECT_EQ(size, 24);
    EXPECT_EQ(e2prom_get_area_header_size(2, &size), 0);
    EXPECT_EQ(size, 6);
    std::vector<uint8_t> header(64);
    EXPECT_EQ(e2prom_header_read(header.data()), 0);
    EXPECT_EQ(header, chip(0, 64));
}

TEST_F(LayoutTest, AreaLimits) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    EXPECT_EQ(e2prom_area_init(1, 0x3e00 - 0x40 + 1), -11);
    EXPECT_EQ(e2prom_area_init(0, 10), -6);
    for (UINT8 id = 1; id <= 6; ++id) {
        ASSERT_EQ(e2prom_area_init(id, 10), 0) << int(id);
    }
    EXPECT_EQ(e2prom_area_init(6, 10), -6);
    EXPECT_EQ(e2prom_area_init(7, 10), -5);
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_header_size(&size), 0);
    EXPECT_EQ(size, 60);
}

TEST_F(LayoutTest, AreaFillingTheSpaceExactlyFits) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    EXPECT_EQ(e2prom_area_init(1, 0x3e00 - 0x40), 0);
    EXPECT_EQ(e2prom_area_init(2, 1), -11);
}

TEST_F(LayoutTest, AreaOverAnExistingAreaHeaderKeepsTheNewEntry) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    poke(0x40, {0x00, 0x00});
    EXPECT_EQ(e2prom_area_init(1, 16), -6);
    EXPECT_EQ(chip(5, 1), std::vector<uint8_t>{0x01});
}

TEST_F(LayoutTest, NewItemCostsFourWritesAndReadsBack) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 1000), 0);
    sim::clear_i2c_log();
    uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(e2prom_data_write(1, 7, 5, hello), 0);
    EXPECT_EQ(writes(),
              (std::vector<std::string>{
                  "W 57: 00 44 00 07 00 06 01 00",                    // the entry
                  "W 57: 00 44 00 07 00 06 01 00 00 00 f9",           // + terminator, check
                  "W 57: 01 40 68 65 6c 6c 6f", "W 57: 01 45 14"}));  // data, its check
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size), 0);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(e2prom_get_area_header_size(1, &size), 0);
    EXPECT_EQ(size, 12);
    uint8_t back[5] = {};
    EXPECT_EQ(e2prom_data_read(1, 7, back), 0);
    EXPECT_EQ(std::string(back, back + 5), "hello");
    std::vector<uint8_t> area(256);
    EXPECT_EQ(e2prom_area_header_read(1, area.data()), 0);
    EXPECT_EQ(area, chip(0x40, 256));

    uint8_t second[] = {1, 2, 3};
    EXPECT_EQ(e2prom_data_write(1, 8, 3, second), 0);
    EXPECT_EQ(chip(0x4a, 6), (std::vector<uint8_t>{0x00, 0x08, 0x00, 0x04, 0x01, 0x06}));
}

TEST_F(LayoutTest, RewriteWithTheSameSizeOverwritesInPlace) {
    REQUIRE_DEFAULT_PROBE();
    make_item();
    uint8_t other[] = {'w', 'o', 'r', 'l', 'd'};
    EXPECT_EQ(e2prom_data_write(1, 7, 5, other), 0);
    EXPECT_EQ(writes(), (std::vector<std::string>{"W 57: 01 40 77 6f 72 6c 64", "W 57: 01 45 28"}));
    uint8_t four[4] = {};
    EXPECT_EQ(e2prom_data_write(1, 7, 4, four), -15);
}

TEST_F(LayoutTest, ItemMustEndWithinTheArea) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 300), 0);
    std::vector<uint8_t> data(44);
    EXPECT_EQ(e2prom_data_write(1, 1, 44, data.data()), -15);
    EXPECT_EQ(e2prom_data_write(1, 1, 43, data.data()), 0);
}

TEST_F(LayoutTest, ByteAlteredBehindTheLibrarysBackGivesMinus14) {
    REQUIRE_DEFAULT_PROBE();
    make_item();
    poke(0x142, {'L'});
    uint8_t back[5] = {};
    EXPECT_EQ(e2prom_data_read(1, 7, back), -14);
    EXPECT_EQ(std::string(back, back + 5), "heLlo");
}

TEST_F(LayoutTest, AlteredHeaderCheckBytesGiveMinus4AndMinus9) {
    REQUIRE_DEFAULT_PROBE();
    make_item();
    std::vector<uint8_t> buf(256);
    uint8_t item[5];
    poke(15, {static_cast<uint8_t>(chip(15, 1)[0] ^ 0x01)});
    EXPECT_EQ(e2prom_header_read(buf.data()), -4);
    EXPECT_EQ(e2prom_area_header_read(1, buf.data()), -4);
    EXPECT_EQ(e2prom_data_read(1, 7, item), -4);
    poke(15, {static_cast<uint8_t>(chip(15, 1)[0] ^ 0x01)});

    poke(0x4c, {static_cast<uint8_t>(chip(0x4c, 1)[0] + 1)});
    EXPECT_EQ(e2prom_area_header_read(1, buf.data()), -9);
    EXPECT_EQ(e2prom_data_read(1, 7, item), -9);
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size), 0);  // sizes verify no check byte
}

TEST_F(LayoutTest, LookupFailures) {
    REQUIRE_DEFAULT_PROBE();
    std::vector<uint8_t> buf(256);
    UINT16 size = 0;
    EXPECT_EQ(e2prom_header_read(buf.data()), -2);
    EXPECT_EQ(e2prom_area_init(1, 10), -2);
    EXPECT_EQ(e2prom_data_read(1, 1, buf.data()), -2);
    make_item();
    EXPECT_EQ(e2prom_area_header_read(9, buf.data()), -7);
    EXPECT_EQ(e2prom_data_read(9, 7, buf.data()), -7);
    EXPECT_EQ(e2prom_data_write(9, 7, 1, buf.data()), -7);
    EXPECT_EQ(e2prom_get_area_header_size(9, &size), -7);
    EXPECT_EQ(e2prom_get_data_size(1, 99, &size), -12);
    EXPECT_EQ(e2prom_data_read(1, 99, buf.data()), -12);
    // Ids 0 name terminators, never an area or an item.
    EXPECT_EQ(e2prom_data_read(0, 7, buf.data()), -7);
    EXPECT_EQ(e2prom_data_read(1, 0, buf.data()), -12);
    EXPECT_EQ(e2prom_data_write(1, 0, 1, buf.data()), -12);
    poke(0x40, {0xff, 0xff});
    EXPECT_EQ(e2prom_area_header_read(1, buf.data()), -7);
    EXPECT_EQ(e2prom_data_read(1, 7, buf.data()), -7);
}

TEST_F(LayoutTest, MissingTerminatorsAndFullAreaHeader) {
    REQUIRE_DEFAULT_PROBE();
    make_item();
    // 41 entries fill the area header: its terminator lies at offset 250.
    std::vector<uint8_t> area = {0x00, 0x00, 0x03, 0xe8};
    for (uint16_t id = 1; id <= 41; ++id) {
        area.insert(area.end(), {0x00, static_cast<uint8_t>(id), 0x00, 0x01, 0x01, 0x00});
    }
    area.insert(area.end(), {0x00, 0x00});
    area.push_back(sum(area));
    poke(0x40, area);
    uint8_t byte = 0;
    UINT16 size = 0;
    EXPECT_EQ(e2prom_get_area_header_size(1, &size), 0);
    EXPECT_EQ(size, 252);
    EXPECT_EQ(e2prom_data_write(1, 42, 1, &byte), -10);
    poke(0x40 + 250, {0x00, 0x63});
    EXPECT_EQ(e2prom_get_area_header_size(1, &size), -8);

    std::vector<uint8_t> header(59, 0x01);
    poke(5, header);
    EXPECT_EQ(e2prom_get_header_size(&size), -3);
    EXPECT_EQ(e2prom_area_init(2, 10), -3);
}

TEST_F(LayoutTest, EntryOfStoredSizeZeroIsRefusedAndNothingIsRead) {
    REQUIRE_DEFAULT_PROBE();
    make_item();
    std::vector<uint8_t> area = {0x00, 0x00, 0x03, 0xe8, 0x00, 0x07,
                                 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    area.push_back(sum(area));
    poke(0x40, area);
    std::vector<uint8_t> buf(8, 0x5a);
    EXPECT_EQ(e2prom_data_read(1, 7, buf.data()), -14);
    EXPECT_EQ(buf, std::vector<uint8_t>(8, 0x5a));
    UINT16 size = 0x1234;
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size), -14);
    EXPECT_EQ(size, 0x1234);
}

TEST_F(LayoutTest, EmptyItemReadsBack) {
    REQUIRE_DEFAULT_PROBE();
    ASSERT_EQ(e2prom_init(), 0);
    ASSERT_EQ(e2prom_area_init(1, 300), 0);
    uint8_t none = 0;
    EXPECT_EQ(e2prom_data_write(1, 3, 0, &none), 0);
    UINT16 size = 9;
    EXPECT_EQ(e2prom_get_data_size(1, 3, &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(e2prom_data_read(1, 3, &none), 0);
}

// Every function turns a device that returns nothing into -13, and a NULL buffer too.
TEST_F(LayoutTest, UnreadableDeviceAndNullBuffersGiveMinus13) {
    REQUIRE_DEFAULT_PROBE();
    make_item();
    std::vector<uint8_t> buf(256);
    UINT16 size = 0;
    EXPECT_EQ(e2prom_header_read(nullptr), -13);
    EXPECT_EQ(e2prom_area_header_read(1, nullptr), -13);
    EXPECT_EQ(e2prom_get_header_size(nullptr), -13);
    EXPECT_EQ(e2prom_get_area_header_size(1, nullptr), -13);
    EXPECT_EQ(e2prom_data_read(1, 7, nullptr), -13);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, nullptr), -13);
    EXPECT_EQ(e2prom_get_data_size(1, 7, nullptr), -13);
    sim::inject_fault({sim::FaultOp::Read, 0, EIO, -1, "/dev/i2c-1"});
    EXPECT_EQ(e2prom_init(), -13);
    EXPECT_EQ(e2prom_header_read(buf.data()), -13);
    EXPECT_EQ(e2prom_get_header_size(&size), -13);
    EXPECT_EQ(e2prom_area_init(2, 10), -13);
    EXPECT_EQ(e2prom_area_header_read(1, buf.data()), -13);
    EXPECT_EQ(e2prom_get_area_header_size(1, &size), -13);
    EXPECT_EQ(e2prom_data_write(1, 7, 5, buf.data()), -13);
    EXPECT_EQ(e2prom_data_read(1, 7, buf.data()), -13);
    EXPECT_EQ(e2prom_get_data_size(1, 7, &size), -13);
    // The second read of a lookup fails: the area header.
    sim::clear_faults();
    sim::inject_fault({sim::FaultOp::Read, 2, EIO, -1, "/dev/i2c-1"});
    EXPECT_EQ(e2prom_data_read(1, 7, buf.data()), -13);
}

}  // namespace

}  // namespace bsp::test
