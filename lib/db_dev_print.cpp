// Store printouts for the debug shell: the header and every object as fixed-width tables on
// standard output, each line built in an 80-character buffer and written with puts.
//
//   st_info columns: name 0, version 10, address 20, size 30 ("%8ld"), avail 40 ("%8ld")
//   st_dump columns: key 0, attr 10, size 16 ("%6ld"), hex 24, text 58, end 78
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/text_out.h"
#include "db_dev_region.h"

namespace bsp::db {

namespace {

constexpr char kRule[] =
    "------------------------------------------------------------------------------";
constexpr char kInfoTitles[] = "name      version    address      size     avail";
constexpr char kDumpTitles[] =
    "key       attr    size  obj hex                           obj ascii";
constexpr size_t kLineEnd = 78;
constexpr size_t kChunk = 16;

static_assert(sizeof kRule - 1 == kLineEnd);

class Line {
  public:
    Line() : out_(buf_, sizeof buf_) {}

    TextOut &out() { return out_; }

    void pad_to(size_t column) {
        while (out_.length() < column && out_.room() > 0) {
            out_.puts(" ");
        }
    }

    void print_and_clear() {
        std::puts(buf_);
        out_ = TextOut(buf_, sizeof buf_);
    }

  private:
    char buf_[80];
    TextOut out_;
};

void print_title(const char *titles) {
    Line line;
    line.out().puts(titles);
    line.pad_to(kLineEnd);
    std::puts(kRule);
    line.print_and_clear();
    std::puts(kRule);
}

void put_bytes(Line &line, const UINT8 *bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        line.out().printf("%02x", bytes[i]);
    }
}

// One object: key, attribute and length, then its data 16 bytes a line.
void dump_object(const STORE_OBJ_DESC *d) {
    Line line;
    put_bytes(line, d->st_obj_key, sizeof d->st_obj_key);
    line.pad_to(10);
    put_bytes(line, d->st_obj_attr, sizeof d->st_obj_attr);
    line.pad_to(16);
    line.out().printf("%6ld", static_cast<long>(d->st_obj_len));
    const UINT8 *data = from_addr32<const UINT8>(d->st_obj_ptr);
    for (UINT32 done = 0; done < d->st_obj_len;) {
        size_t n = d->st_obj_len - done < kChunk ? d->st_obj_len - done : kChunk;
        line.pad_to(24);
        put_bytes(line, data + done, n);
        line.pad_to(58);
        for (size_t i = 0; i < n; ++i) {
            int c = data[done + i];
            line.out().printf("%c", std::isprint(c) ? c : '.');
        }
        line.pad_to(kLineEnd);
        done += static_cast<UINT32>(n);
        if (done < d->st_obj_len) {
            line.print_and_clear();
        }
    }
    line.print_and_clear();
}

}  // namespace

}  // namespace bsp::db

using namespace bsp::db;

extern "C" {

BSP_API int st_info(UINT32 st_id) {
    const STORE *st = st_get(st_id);
    if (st == nullptr) {
        return -1;
    }
    print_title(kInfoTitles);
    Line row;
    row.out().printf("%.8s", st->st_name);
    row.pad_to(10);
    row.out().printf("%.8s", st->st_version);
    row.pad_to(20);
    UINT8 addr[4];
    UINT32 st_addr = st->st_addr;
    std::memcpy(addr, &st_addr, sizeof addr);
    put_bytes(row, addr, sizeof addr);
    row.pad_to(30);
    row.out().printf("%8ld", static_cast<long>(st->st_size));
    row.pad_to(40);
    row.out().printf("%8ld", static_cast<long>(st_pool(st)->pool_available));
    row.pad_to(50);
    row.print_and_clear();
    std::puts(kRule);
    return 0;
}

BSP_API int st_dump(UINT32 st_id) {
    const STORE *st = st_get(st_id);
    if (st == nullptr) {
        return -1;
    }
    print_title(kDumpTitles);
    PoolSpace space(st);
    bool sound = true;
    UINT32 head = st->st_obj_head;
    UINT32 node = head;
    for (UINT32 n = 0; node != 0; ++n) {
        const STORE_OBJ_DESC *d = st_desc(node);
        if (n >= space.max_steps || !space.holds_desc(node) ||
            !space.holds_block(d->st_obj_ptr, d->st_obj_len)) {
            sound = false;  // the listing stops where the store is damaged
            break;
        }
        dump_object(d);
        node = d->st_obj_next;
        if (node == head) {
            break;
        }
    }
    std::puts(kRule);
    return sound ? 0 : -1;
}

}  // extern "C"
