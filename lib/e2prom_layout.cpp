// Layout of the inventory EEPROM: a header at address 0 listing up to six areas, an area
// header at the start of each area listing up to 41 data items, and the items themselves,
// each followed by a check byte. Every device access goes through e2prom_read/e2prom_write.
//
// EEPROM header (address 0, read as 64 bytes), big-endian fields:
//   0        marker 0x00 (anything else: unformatted)
//   1..4     space available to areas, 0x00003E00
//   5 + 9k   area entry k: id (1), size (4), address (4)
//   next     terminator 0x00, then the check byte over offsets 0 .. terminator
// Area header (area's first byte, read as 256 bytes):
//   0..1     marker 0x0000
//   2..3     area size
//   4 + 6k   data entry k: id (2), size = data length + 1 (2), offset in the area (2)
//   next     terminator 0x0000, then the check byte over offsets 0 .. terminator's 2nd byte
// Data item: the data bytes, then their check byte.
#include <cerrno>
#include <cstring>

#include <bsp_ctrl/e2prom.h>
#include "common/be_pack.h"

namespace bsp::e2prom {

namespace {

enum Result : INT {
    kOk = 0,
    kErrFormatted = -1,
    kErrNoHeader = -2,
    kErrNoTerminator = -3,
    kErrHeaderCheck = -4,
    kErrHeaderFull = -5,
    kErrAreaExists = -6,
    kErrNoArea = -7,
    kErrNoDataTerminator = -8,
    kErrAreaCheck = -9,
    kErrAreaFull = -10,
    kErrNoSpace = -11,
    kErrNoData = -12,
    kErrRead = -EACCES,
    kErrDataCheck = -14,
    kErrDataSize = -15,
};
static_assert(kErrRead == -13, "a failed read reports -EACCES");

// The EEPROM header and every area header are directories of one format with different
// widths: a marker of zero bytes, a size field, the entries (id, size, place of the content),
// a terminator of zero bytes and a check byte over everything before it.
struct Directory {
    UINT16 read_len;     // bytes read to decide from
    unsigned id_len;     // width of the marker, an id and the terminator
    unsigned field_len;  // width of the size field and of an entry's size and place
    unsigned first_entry;
    unsigned last_offset;  // the last offset an entry or the terminator may start at
    UINT32 first_place;    // place of the first entry's content
    INT no_marker;
    INT no_terminator;
    INT bad_check;
    INT formatted;  // formatting over a marker that is there
    INT full;       // no room for another entry
    INT no_space;   // the content would end beyond the space
};

// In the order of the record: lengths and offsets, then the results.
// clang-format off
constexpr Directory kEepromHeader{64, 1, 4, 5, 63, 0x0040, kErrNoHeader, kErrNoTerminator,
                                  kErrHeaderCheck, kErrFormatted, kErrHeaderFull, kErrNoSpace};
constexpr Directory kAreaHeader{256, 2, 2, 4, 255, 0x0100, kErrNoArea, kErrNoDataTerminator,
                                kErrAreaCheck, kErrAreaExists, kErrAreaFull, kErrDataSize};
// clang-format on
constexpr UINT32 kAreaSpaceEnd = 0x3E00;

constexpr unsigned entry_len(const Directory &d) {
    return d.id_len + 2 * d.field_len;
}
// Marker, size field, terminator and check byte of an empty directory.
constexpr UINT16 init_len(const Directory &d) {
    return static_cast<UINT16>(2 * d.id_len + d.field_len + 1);
}
static_assert(entry_len(kEepromHeader) == 9 && entry_len(kAreaHeader) == 6);
static_assert(init_len(kEepromHeader) == 7 && init_len(kAreaHeader) == 7);

// Receives every header read for the functions' own use.
UINT8 ucHeaderBuffer[256];

UINT8 e2prom_bytesum_crc(const UINT8 *buf, unsigned len) {
    UINT8 sum = 0;
    for (unsigned i = 0; i < len; ++i) {
        sum = static_cast<UINT8>(sum + buf[i]);
    }
    return sum;
}

// A read fails when it returns fewer bytes than asked: a header read only in part would
// leave stale bytes of an earlier read in the buffer the layout is decided from.
bool read_failed(UINT16 address, UINT8 *buf, UINT16 length) {
    return e2prom_read(address, buf, length) != length;
}

// A write fails when it stores fewer bytes than asked: the layout must not be reported
// written when the device refused part of it.
bool write_failed(UINT16 address, UINT8 *buf, UINT16 length) {
    return e2prom_write(address, buf, length) != length;
}

// Big-endian fields of 1, 2 or 4 bytes.
UINT32 get_field(const UINT8 *p, unsigned len) {
    return len == 1 ? p[0] : len == 2 ? bsp::get_be16(p) : bsp::get_be32(p);
}

void put_field(UINT8 *p, unsigned len, UINT32 value) {
    if (len == 1) {
        p[0] = static_cast<UINT8>(value);
    } else if (len == 2) {
        bsp::put_be16(p, static_cast<UINT16>(value));
    } else {
        bsp::put_be32(p, value);
    }
}

UINT32 entry_size(const Directory &d, const UINT8 *buf, unsigned entry) {
    return get_field(buf + entry + d.id_len, d.field_len);
}

UINT32 entry_place(const Directory &d, const UINT8 *buf, unsigned entry) {
    return get_field(buf + entry + d.id_len + d.field_len, d.field_len);
}

// Entry lookup: `*address` = offset of the entry of `id`, or 0 when the terminator comes
// first (id 0 finds the terminator itself).
INT find_entry(const Directory &d, UINT32 id, const UINT8 *buf, unsigned *address) {
    if (get_field(buf, d.id_len) != 0) {
        return d.no_marker;
    }
    for (unsigned off = d.first_entry; off <= d.last_offset; off += entry_len(d)) {
        const UINT32 here = get_field(buf + off, d.id_len);
        if (here == id) {
            *address = off;
            return kOk;
        }
        if (here == 0) {
            *address = 0;
            return kOk;
        }
    }
    return d.no_terminator;
}

// The directory's length up to its terminator, which the check byte follows.
INT directory_len(const Directory &d, const UINT8 *buf, unsigned *len) {
    unsigned term = 0;
    const INT rc = find_entry(d, 0, buf, &term);
    if (rc == kOk) {
        *len = term + d.id_len;
    }
    return rc;
}

INT check_directory(const Directory &d, const UINT8 *buf) {
    unsigned len = 0;
    const INT rc = directory_len(d, buf, &len);
    if (rc != kOk) {
        return rc;
    }
    return e2prom_bytesum_crc(buf, len) == buf[len] ? kOk : d.bad_check;
}

// The size a directory's getter reports: its length and the check byte.
INT directory_size(const Directory &d, const UINT8 *buf, UINT16 *size) {
    unsigned len = 0;
    const INT rc = directory_len(d, buf, &len);
    if (rc == kOk) {
        *size = static_cast<UINT16>(len);
    }
    return rc;
}

// Writes an empty directory with the size field `size` at `address`, unless one is there.
INT init_directory(const Directory &d, UINT16 address, UINT32 size) {
    UINT8 *b = ucHeaderBuffer;
    const UINT16 len = init_len(d);
    if (read_failed(address, b, len)) {
        return kErrRead;
    }
    if (get_field(b, d.id_len) == 0) {
        return d.formatted;
    }
    std::memset(b, 0, len);
    put_field(b + d.id_len, d.field_len, size);
    b[len - 1] = e2prom_bytesum_crc(b, len - 1u);
    return write_failed(address, b, len) ? kErrRead : kOk;
}

// Adds the entry of `id`, whose content takes `stored` bytes behind the last entry's content
// and must end by `limit`, at the terminator of the directory in ucHeaderBuffer (found there
// before) and writes it, then the new terminator and check byte. The directory sits at `base`;
// `*place` receives the content's place.
INT add_entry(const Directory &d, UINT16 base, UINT32 id, UINT32 stored, uint64_t limit,
              UINT32 *place) {
    UINT8 *b = ucHeaderBuffer;
    const unsigned len = entry_len(d);
    unsigned term = d.first_entry;
    uint64_t next = d.first_place;
    while (get_field(b + term, d.id_len) != 0) {
        next = uint64_t{entry_place(d, b, term)} + entry_size(d, b, term);
        term += len;
    }
    if (term + len > d.last_offset) {
        return d.full;
    }
    if (next + stored > limit) {
        return d.no_space;
    }
    put_field(b + term, d.id_len, id);
    put_field(b + term + d.id_len, d.field_len, stored);
    put_field(b + term + d.id_len + d.field_len, d.field_len, static_cast<UINT32>(next));
    const UINT16 at = static_cast<UINT16>(base + term);
    if (write_failed(at, b + term, static_cast<UINT16>(len))) {
        return kErrRead;
    }
    const unsigned end = term + len;
    put_field(b + end, d.id_len, 0);
    b[end + d.id_len] = e2prom_bytesum_crc(b, end + d.id_len);
    if (write_failed(at, b + term, static_cast<UINT16>(len + d.id_len + 1))) {
        return kErrRead;
    }
    *place = static_cast<UINT32>(next);
    return kOk;
}

// Area lookup over an EEPROM header, data lookup over an area header.
INT e2prom_get_data_area_entry_address(UINT8 area_id, const UINT8 *buf, unsigned *address) {
    return find_entry(kEepromHeader, area_id, buf, address);
}

INT e2prom_get_data_entry_address(UINT16 data_id, const UINT8 *buf, unsigned *address) {
    return find_entry(kAreaHeader, data_id, buf, address);
}

INT e2prom_check_header_crc(const UINT8 *buf) {
    return check_directory(kEepromHeader, buf);
}

INT e2prom_check_data_area_header_crc(const UINT8 *buf) {
    return check_directory(kAreaHeader, buf);
}

// The area of an EEPROM header entry, as accesses use it (low 16 bits of each field).
struct Area {
    UINT16 address;
    UINT16 size;
};

Area area_of_entry(const UINT8 *buf, unsigned entry) {
    return {static_cast<UINT16>(entry_place(kEepromHeader, buf, entry)),
            static_cast<UINT16>(entry_size(kEepromHeader, buf, entry))};
}

// Reads the directory at `address` into `buf`, optionally verifying its check byte.
INT read_directory(const Directory &d, UINT16 address, bool check, UINT8 *buf) {
    if (read_failed(address, buf, d.read_len)) {
        return kErrRead;
    }
    return check ? check_directory(d, buf) : kOk;
}

// Reads the EEPROM header into ucHeaderBuffer and finds the area `area_id` (1..255),
// optionally verifying the header's check byte first.
INT find_area(UINT8 area_id, bool check, Area *area) {
    INT rc = read_directory(kEepromHeader, 0, check, ucHeaderBuffer);
    if (rc != kOk) {
        return rc;
    }
    unsigned entry = 0;
    rc = e2prom_get_data_area_entry_address(area_id, ucHeaderBuffer, &entry);
    if (rc != kOk) {
        return rc;
    }
    // Id 0 names the terminator, never an area.
    if (entry == 0 || area_id == 0) {
        return kErrNoArea;
    }
    *area = area_of_entry(ucHeaderBuffer, entry);
    return kOk;
}

// Finds the area `area_id` and reads its header into `buf` (256 bytes), optionally verifying
// the EEPROM header's check byte on the way.
INT read_area_header(UINT8 area_id, bool check, UINT8 *buf) {
    Area area{};
    const INT rc = find_area(area_id, check, &area);
    if (rc != kOk) {
        return rc;
    }
    return read_directory(kAreaHeader, area.address, false, buf);
}

// Finds the area `area_id`, reads its header into ucHeaderBuffer and finds the entry of
// `data_id` (1..65535) there, optionally verifying both check bytes first. `*entry` is 0 when
// absent.
INT find_data_entry(UINT8 area_id, UINT16 data_id, bool check, Area *area, unsigned *entry) {
    INT rc = find_area(area_id, check, area);
    if (rc != kOk) {
        return rc;
    }
    rc = read_directory(kAreaHeader, area->address, check, ucHeaderBuffer);
    if (rc != kOk) {
        return rc;
    }
    rc = e2prom_get_data_entry_address(data_id, ucHeaderBuffer, entry);
    if (rc == kOk && data_id == 0) {
        *entry = 0;  // id 0 names the terminator, never an item
    }
    return rc;
}

// Where an item's data lies on the device and how long it is, without its check byte.
struct Item {
    UINT16 at;
    UINT16 length;
};

// Both lookups for the readers of an item.
INT find_item(UINT8 area_id, UINT16 data_id, bool check, Item *item) {
    Area area{};
    unsigned entry = 0;
    if (const INT rc = find_data_entry(area_id, data_id, check, &area, &entry); rc != kOk) {
        return rc;
    }
    if (entry == 0) {
        return kErrNoData;
    }
    const UINT16 stored = static_cast<UINT16>(entry_size(kAreaHeader, ucHeaderBuffer, entry));
    // Every item carries its check byte; a stored size of 0 is a corrupt entry.
    if (stored == 0) {
        return kErrDataCheck;
    }
    item->at = static_cast<UINT16>(area.address + entry_place(kAreaHeader, ucHeaderBuffer, entry));
    item->length = static_cast<UINT16>(stored - 1);
    return kOk;
}

INT e2prom_data_area_init(UINT16 size, UINT16 address) {
    return init_directory(kAreaHeader, address, size);
}

}  // namespace

}  // namespace bsp::e2prom

using namespace bsp::e2prom;

extern "C" {

BSP_API INT e2prom_init(void) {
    return init_directory(kEepromHeader, 0, kAreaSpaceEnd);
}

BSP_API INT e2prom_header_read(UINT8 *header) {
    if (header == nullptr) {
        return kErrRead;
    }
    if (read_failed(0, header, kEepromHeader.read_len)) {
        return kErrRead;
    }
    return e2prom_check_header_crc(header);
}

BSP_API INT e2prom_get_header_size(UINT16 *header_size) {
    if (header_size == nullptr) {
        return kErrRead;
    }
    if (read_failed(0, ucHeaderBuffer, kEepromHeader.read_len)) {
        return kErrRead;
    }
    return directory_size(kEepromHeader, ucHeaderBuffer, header_size);
}

BSP_API INT e2prom_area_init(UINT8 area_id, UINT16 size) {
    if (read_failed(0, ucHeaderBuffer, kEepromHeader.read_len)) {
        return kErrRead;
    }
    unsigned found = 0;
    INT rc = e2prom_get_data_area_entry_address(area_id, ucHeaderBuffer, &found);
    if (rc != kOk) {
        return rc;
    }
    if (found != 0) {
        return kErrAreaExists;
    }
    UINT32 start = 0;
    rc = add_entry(kEepromHeader, 0, area_id, size, kAreaSpaceEnd, &start);
    if (rc != kOk) {
        return rc;
    }
    return e2prom_data_area_init(size, static_cast<UINT16>(start));
}

BSP_API INT e2prom_area_header_read(UINT8 area_id, UINT8 *area_header) {
    if (area_header == nullptr) {
        return kErrRead;
    }
    const INT rc = read_area_header(area_id, true, area_header);
    return rc != kOk ? rc : e2prom_check_data_area_header_crc(area_header);
}

BSP_API INT e2prom_get_area_header_size(UINT8 area_id, UINT16 *area_header_size) {
    if (area_header_size == nullptr) {
        return kErrRead;
    }
    const INT rc = read_area_header(area_id, false, ucHeaderBuffer);
    return rc != kOk ? rc : directory_size(kAreaHeader, ucHeaderBuffer, area_header_size);
}

BSP_API INT e2prom_data_write(UINT8 area_id, UINT16 data_id, UINT16 size, UINT8 *data) {
    if (data == nullptr && size > 0) {
        return kErrRead;
    }
    if (data_id == 0) {
        return kErrNoData;  // id 0 is the area header's terminator
    }
    Area area{};
    unsigned entry = 0;
    INT rc = find_data_entry(area_id, data_id, false, &area, &entry);
    if (rc != kOk) {
        return rc;
    }
    const UINT32 stored = UINT32{size} + 1;  // the data and its check byte
    UINT32 item = 0;
    if (entry != 0) {
        if (entry_size(kAreaHeader, ucHeaderBuffer, entry) != stored) {
            return kErrDataSize;
        }
        item = entry_place(kAreaHeader, ucHeaderBuffer, entry);
    } else {
        rc = add_entry(kAreaHeader, area.address, data_id, stored, area.size, &item);
        if (rc != kOk) {
            return rc;
        }
    }
    UINT16 at = static_cast<UINT16>(area.address + item);
    UINT8 check = e2prom_bytesum_crc(data, size);
    if (write_failed(at, data, size) || write_failed(static_cast<UINT16>(at + size), &check, 1)) {
        return kErrRead;
    }
    return kOk;
}

BSP_API INT e2prom_data_read(UINT8 area_id, UINT16 data_id, UINT8 *data) {
    if (data == nullptr) {
        return kErrRead;
    }
    Item item{};
    if (const INT rc = find_item(area_id, data_id, true, &item); rc != kOk) {
        return rc;
    }
    const UINT16 check_at = static_cast<UINT16>(item.at + item.length);
    UINT8 check = 0;
    if (read_failed(item.at, data, item.length) || read_failed(check_at, &check, 1)) {
        return kErrRead;
    }
    return e2prom_bytesum_crc(data, item.length) == check ? kOk : kErrDataCheck;
}

BSP_API INT e2prom_get_data_size(UINT8 area_id, UINT16 data_id, UINT16 *data_size) {
    if (data_size == nullptr) {
        return kErrRead;
    }
    Item item{};
    const INT rc = find_item(area_id, data_id, false, &item);
    if (rc == kOk) {
        *data_size = item.length;
    }
    return rc;
}

}  // extern "C"
