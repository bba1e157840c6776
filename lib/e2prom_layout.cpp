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

#include "bsp_ctrl/e2prom.h"
#include "common/be_pack.h"

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

// EEPROM header.
constexpr UINT16 kHeaderLen = 64;
constexpr unsigned kHeaderFirstEntry = 5;
constexpr unsigned kHeaderEntryLen = 9;
constexpr unsigned kHeaderLastOffset = 63;
constexpr UINT32 kAreaSpaceEnd = 0x3E00;
constexpr UINT32 kFirstAreaAddr = 0x0040;
constexpr unsigned kInitLen = 7;  // marker, space, terminator, check byte

// Area header.
constexpr UINT16 kAreaHeaderLen = 256;
constexpr unsigned kAreaFirstEntry = 4;
constexpr unsigned kDataEntryLen = 6;
constexpr unsigned kAreaLastOffset = 255;
constexpr unsigned kFirstItemOffset = 0x0100;
constexpr unsigned kAreaInitLen = 7;  // marker, size, terminator, check byte

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

// Area lookup over an EEPROM header: `*address` = offset of the entry of `area_id`, or 0 when
// the terminator comes first (id 0 finds the terminator itself).
INT e2prom_get_data_area_entry_address(UINT8 area_id, const UINT8 *buf, unsigned *address) {
    if (buf[0] != 0x00) {
        return kErrNoHeader;
    }
    for (unsigned off = kHeaderFirstEntry; off <= kHeaderLastOffset; off += kHeaderEntryLen) {
        if (buf[off] == area_id) {
            *address = off;
            return kOk;
        }
        if (buf[off] == 0) {
            *address = 0;
            return kOk;
        }
    }
    return kErrNoTerminator;
}

// Data lookup over an area header, the same way with two-byte ids.
INT e2prom_get_data_entry_address(UINT16 data_id, const UINT8 *buf, unsigned *address) {
    if (buf[0] != 0x00 || buf[1] != 0x00) {
        return kErrNoArea;
    }
    for (unsigned off = kAreaFirstEntry; off <= kAreaLastOffset; off += kDataEntryLen) {
        UINT16 id = bsp::get_be16(buf + off);
        if (id == data_id) {
            *address = off;
            return kOk;
        }
        if (id == 0) {
            *address = 0;
            return kOk;
        }
    }
    return kErrNoDataTerminator;
}

INT e2prom_check_header_crc(const UINT8 *buf) {
    unsigned term = 0;
    INT rc = e2prom_get_data_area_entry_address(0, buf, &term);
    if (rc != kOk) {
        return rc;
    }
    return e2prom_bytesum_crc(buf, term + 1) == buf[term + 1] ? kOk : kErrHeaderCheck;
}

INT e2prom_check_data_area_header_crc(const UINT8 *buf) {
    unsigned term = 0;
    INT rc = e2prom_get_data_entry_address(0, buf, &term);
    if (rc != kOk) {
        return rc;
    }
    return e2prom_bytesum_crc(buf, term + 2) == buf[term + 2] ? kOk : kErrAreaCheck;
}

// The area of an EEPROM header entry, as accesses use it (low 16 bits of each field).
struct Area {
    UINT16 address;
    UINT16 size;
};

Area area_of_entry(const UINT8 *buf, unsigned entry) {
    return {static_cast<UINT16>(bsp::get_be32(buf + entry + 5)),
            static_cast<UINT16>(bsp::get_be32(buf + entry + 1))};
}

// Reads the EEPROM header into ucHeaderBuffer and finds the area `area_id` (1..255),
// optionally verifying the header's check byte first.
INT find_area(UINT8 area_id, bool check, Area *area) {
    if (read_failed(0, ucHeaderBuffer, kHeaderLen)) {
        return kErrRead;
    }
    if (check) {
        INT rc = e2prom_check_header_crc(ucHeaderBuffer);
        if (rc != kOk) {
            return rc;
        }
    }
    unsigned entry = 0;
    INT rc = e2prom_get_data_area_entry_address(area_id, ucHeaderBuffer, &entry);
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

// Reads the area header into `buf` (256 bytes) and finds the entry of `data_id` (1..65535),
// optionally verifying the area header's check byte first. `*entry` is 0 when absent.
INT find_data_entry(const Area &area, UINT16 data_id, bool check, UINT8 *buf, unsigned *entry) {
    if (read_failed(area.address, buf, kAreaHeaderLen)) {
        return kErrRead;
    }
    if (check) {
        INT rc = e2prom_check_data_area_header_crc(buf);
        if (rc != kOk) {
            return rc;
        }
    }
    INT rc = e2prom_get_data_entry_address(data_id, buf, entry);
    if (rc == kOk && data_id == 0) {
        *entry = 0;  // id 0 names the terminator, never an item
    }
    return rc;
}

// Both lookups for the readers of an item: the entry's stored size and item offset.
INT find_item(UINT8 area_id, UINT16 data_id, bool check, Area *area, UINT16 *stored_size,
              UINT16 *item) {
    INT rc = find_area(area_id, check, area);
    if (rc != kOk) {
        return rc;
    }
    unsigned entry = 0;
    rc = find_data_entry(*area, data_id, check, ucHeaderBuffer, &entry);
    if (rc != kOk) {
        return rc;
    }
    if (entry == 0) {
        return kErrNoData;
    }
    *stored_size = bsp::get_be16(ucHeaderBuffer + entry + 2);
    *item = bsp::get_be16(ucHeaderBuffer + entry + 4);
    // Every item carries its check byte; a stored size of 0 is a corrupt entry.
    return *stored_size == 0 ? kErrDataCheck : kOk;
}

INT e2prom_data_area_init(UINT16 size, UINT16 address) {
    UINT8 *b = ucHeaderBuffer;
    if (read_failed(address, b, kAreaInitLen)) {
        return kErrRead;
    }
    if (b[0] == 0x00 && b[1] == 0x00) {
        return kErrAreaExists;
    }
    b[0] = 0x00;
    b[1] = 0x00;
    bsp::put_be16(b + 2, size);
    b[4] = 0x00;
    b[5] = 0x00;
    b[6] = e2prom_bytesum_crc(b, 6);
    return write_failed(address, b, kAreaInitLen) ? kErrRead : kOk;
}

// Adds the entry of a new item at the area header's terminator and writes it, then the new
// terminator and check byte. `*item` receives the item's offset in the area.
INT add_data_entry(const Area &area, UINT16 data_id, UINT16 size, unsigned *item) {
    UINT8 *b = ucHeaderBuffer;
    unsigned term = kAreaFirstEntry;
    UINT32 next = kFirstItemOffset;
    while (bsp::get_be16(b + term) != 0) {
        next = UINT32{bsp::get_be16(b + term + 4)} + bsp::get_be16(b + term + 2);
        term += kDataEntryLen;
    }
    if (term + kDataEntryLen > kAreaLastOffset) {
        return kErrAreaFull;
    }
    if (next + size + 1 > area.size) {
        return kErrDataSize;
    }
    bsp::put_be16(b + term, data_id);
    bsp::put_be16(b + term + 2, static_cast<UINT16>(size + 1));
    bsp::put_be16(b + term + 4, static_cast<UINT16>(next));
    if (write_failed(static_cast<UINT16>(area.address + term), b + term, kDataEntryLen)) {
        return kErrRead;
    }
    unsigned end = term + kDataEntryLen;
    b[end] = 0x00;
    b[end + 1] = 0x00;
    b[end + 2] = e2prom_bytesum_crc(b, end + 2);
    if (write_failed(static_cast<UINT16>(area.address + term), b + term, kDataEntryLen + 3)) {
        return kErrRead;
    }
    *item = next;
    return kOk;
}

}  // namespace

BSP_API INT e2prom_init(void) {
    UINT8 *b = ucHeaderBuffer;
    if (read_failed(0, b, kInitLen)) {
        return kErrRead;
    }
    if (b[0] == 0x00) {
        return kErrFormatted;
    }
    b[0] = 0x00;
    bsp::put_be32(b + 1, kAreaSpaceEnd);
    b[5] = 0x00;
    b[6] = e2prom_bytesum_crc(b, 6);
    return write_failed(0, b, kInitLen) ? kErrRead : kOk;
}

BSP_API INT e2prom_header_read(UINT8 *header) {
    if (header == nullptr) {
        return kErrRead;
    }
    if (read_failed(0, header, kHeaderLen)) {
        return kErrRead;
    }
    return e2prom_check_header_crc(header);
}

BSP_API INT e2prom_get_header_size(UINT16 *header_size) {
    if (header_size == nullptr) {
        return kErrRead;
    }
    if (read_failed(0, ucHeaderBuffer, kHeaderLen)) {
        return kErrRead;
    }
    unsigned term = 0;
    INT rc = e2prom_get_data_area_entry_address(0, ucHeaderBuffer, &term);
    if (rc == kOk) {
        *header_size = static_cast<UINT16>(term + 1);
    }
    return rc;
}

BSP_API INT e2prom_area_init(UINT8 area_id, UINT16 size) {
    UINT8 *b = ucHeaderBuffer;
    if (read_failed(0, b, kHeaderLen)) {
        return kErrRead;
    }
    unsigned found = 0;
    INT rc = e2prom_get_data_area_entry_address(area_id, b, &found);
    if (rc != kOk) {
        return rc;
    }
    if (found != 0) {
        return kErrAreaExists;
    }
    unsigned term = kHeaderFirstEntry;
    uint64_t start = kFirstAreaAddr;
    while (b[term] != 0) {
        start = uint64_t{bsp::get_be32(b + term + 5)} + bsp::get_be32(b + term + 1);
        term += kHeaderEntryLen;
    }
    if (term + kHeaderEntryLen > kHeaderLastOffset) {
        return kErrHeaderFull;
    }
    if (start + size > kAreaSpaceEnd) {
        return kErrNoSpace;
    }
    b[term] = area_id;
    bsp::put_be32(b + term + 1, size);
    bsp::put_be32(b + term + 5, static_cast<UINT32>(start));
    if (write_failed(static_cast<UINT16>(term), b + term, kHeaderEntryLen)) {
        return kErrRead;
    }
    unsigned end = term + kHeaderEntryLen;
    b[end] = 0x00;
    b[end + 1] = e2prom_bytesum_crc(b, end + 1);
    if (write_failed(static_cast<UINT16>(term), b + term, kHeaderEntryLen + 2)) {
        return kErrRead;
    }
    return e2prom_data_area_init(size, static_cast<UINT16>(start));
}

BSP_API INT e2prom_area_header_read(UINT8 area_id, UINT8 *area_header) {
    if (area_header == nullptr) {
        return kErrRead;
    }
    Area area{};
    INT rc = find_area(area_id, true, &area);
    if (rc != kOk) {
        return rc;
    }
    if (read_failed(area.address, area_header, kAreaHeaderLen)) {
        return kErrRead;
    }
    if (area_header[0] != 0x00 || area_header[1] != 0x00) {
        return kErrNoArea;
    }
    return e2prom_check_data_area_header_crc(area_header);
}

BSP_API INT e2prom_get_area_header_size(UINT8 area_id, UINT16 *area_header_size) {
    if (area_header_size == nullptr) {
        return kErrRead;
    }
    Area area{};
    INT rc = find_area(area_id, false, &area);
    if (rc != kOk) {
        return rc;
    }
    if (read_failed(area.address, ucHeaderBuffer, kAreaHeaderLen)) {
        return kErrRead;
    }
    unsigned term = 0;
    rc = e2prom_get_data_entry_address(0, ucHeaderBuffer, &term);
    if (rc == kOk) {
        *area_header_size = static_cast<UINT16>(term + 2);
    }
    return rc;
}

BSP_API INT e2prom_data_write(UINT8 area_id, UINT16 data_id, UINT16 size, UINT8 *data) {
    if (data == nullptr && size > 0) {
        return kErrRead;
    }
    if (data_id == 0) {
        return kErrNoData;  // id 0 is the area header's terminator
    }
    Area area{};
    INT rc = find_area(area_id, false, &area);
    if (rc != kOk) {
        return rc;
    }
    unsigned entry = 0;
    rc = find_data_entry(area, data_id, false, ucHeaderBuffer, &entry);
    if (rc != kOk) {
        return rc;
    }
    unsigned item = 0;
    if (entry != 0) {
        if (bsp::get_be16(ucHeaderBuffer + entry + 2) != unsigned{size} + 1) {
            return kErrDataSize;
        }
        item = bsp::get_be16(ucHeaderBuffer + entry + 4);
    } else {
        rc = add_data_entry(area, data_id, size, &item);
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
    Area area{};
    UINT16 stored = 0;
    UINT16 item = 0;
    INT rc = find_item(area_id, data_id, true, &area, &stored, &item);
    if (rc != kOk) {
        return rc;
    }
    UINT16 length = static_cast<UINT16>(stored - 1);
    UINT16 at = static_cast<UINT16>(area.address + item);
    UINT8 check = 0;
    if (read_failed(at, data, length) || read_failed(static_cast<UINT16>(at + length), &check, 1)) {
        return kErrRead;
    }
    return e2prom_bytesum_crc(data, length) == check ? kOk : kErrDataCheck;
}

BSP_API INT e2prom_get_data_size(UINT8 area_id, UINT16 data_id, UINT16 *data_size) {
    if (data_size == nullptr) {
        return kErrRead;
    }
    Area area{};
    UINT16 stored = 0;
    UINT16 item = 0;
    INT rc = find_item(area_id, data_id, false, &area, &stored, &item);
    if (rc == kOk) {
        *data_size = static_cast<UINT16>(stored - 1);
    }
    return rc;
}
