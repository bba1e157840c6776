// Shell commands of the object database: databases 0 and 1 over regions kept in the state
// folder ("db0.region", "db1.region"), mapped at fixed addresses below 4 GiB so that the next
// start of the shell adopts them with every object; objects opened, read, written, closed
// and removed by name; the store printouts.
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/db_dev.h>
#include <bsp_sim/sim.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "capture.h"
#include "json.h"
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr uintptr_t kRegionAddress[2] = {0x30000000, 0x30800000};
constexpr uint32_t kDefaultSize = 1024 * 1024;
constexpr uint32_t kMaxSize = 0x800000;  // up to the next database's address
constexpr uint32_t kDefaultReadSize = 16;

struct Region {
    void *base = nullptr;
    uint32_t size = 0;
};

Region g_regions[2];
std::map<std::string, UINT32> g_open;  // objects this shell holds, by name

bool parse_db(const std::string &word, uint32_t *db) {
    if (!parse_choice(word, {"0", "1"}, "the database id")) {
        return false;
    }
    *db = word == "0" ? 0 : 1;
    return true;
}

std::string region_file(uint32_t db) {
    return sim::state_path("db" + std::to_string(db) + ".region");
}

// The size of a region file kept from an earlier run, or 0.
uint32_t kept_size(uint32_t db) {
    struct stat st {};
    std::string path = region_file(db);
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || st.st_size > off_t{kMaxSize}) {
        return 0;
    }
    return static_cast<uint32_t>(st.st_size);
}

void unmap_all() {
    for (Region &r : g_regions) {
        sim::unmap_region(r.base, r.size);
        r = Region{};
    }
}

// Maps the database's region once per run: file-backed at its fixed address when the shell
// has a state folder, anonymous otherwise.
bool map_region(uint32_t db, uint32_t size) {
    Region &r = g_regions[db];
    if (r.base != nullptr) {
        if (size != 0 && size != r.size) {
            return refuse("database %u: its region is mapped with %u bytes, not %u", db, r.size,
                          size);
        }
        return true;
    }
    size = size ? size : (kept_size(db) ? kept_size(db) : kDefaultSize);
    std::string path = region_file(db);
    r.base = path.empty() ? sim::map_low_region(size)
                          : sim::map_file_region(path, size, kRegionAddress[db]);
    if (r.base == nullptr) {
        return refuse("cannot map the region of database %u", db);
    }
    r.size = size;
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        at_shell_exit([] {
            for (auto &[name, id] : g_open) {
                DbObjClose(id);
            }
            g_open.clear();
            DbDelete(0);
            DbDelete(1);
            unmap_all();
        });
    }
    return true;
}

UINT32 region_address(uint32_t db) {
    return static_cast<UINT32>(reinterpret_cast<uintptr_t>(g_regions[db].base));
}

int cmd_db_create(const Args &args) {
    uint32_t db = 0;
    uint32_t size = 0;
    if (!parse_db(args[0], &db) || (args.size() > 1 && !parse_u32(args[1], &size))) {
        return 1;
    }
    if (args.size() > 1 && (size <= ST_HEADER_SPACE || size > kMaxSize)) {
        return fail("SIZE is %u..%u: %s", ST_HEADER_SPACE + 1, kMaxSize, args[1].c_str());
    }
    uint32_t kept = g_regions[db].base == nullptr ? kept_size(db) : 0;
    if (size != 0 && kept != 0 && size != kept) {
        return fail(
            "database %u keeps a region of %u bytes in the state folder, not %u: "
            "db-create %u without a size adopts it with its objects",
            db, kept, size, db);
    }
    if (!map_region(db, size)) {
        return 1;
    }
    if (DbCreate(db, region_address(db), g_regions[db].size) != 0) {
        return fail(
            "DbCreate = 1: database %u is in use with open objects, or its region "
            "holds no store that can be adopted (db-wipe %u lays it out anew, "
            "losing what it holds)",
            db, db);
    }
    std::printf("database %u: region 0x%08x, %u bytes\n", db, region_address(db),
                g_regions[db].size);
    return 0;
}

int cmd_db_wipe(const Args &args) {
    uint32_t db = 0;
    if (!parse_db(args[0], &db) || !map_region(db, 0)) {
        return 1;
    }
    if (!g_open.empty()) {
        return fail("close every open object first");
    }
    UINT32 id = 0;
    return st_reinit(&id, region_address(db), g_regions[db].size) == 0 ? 0 : 1;
}

int cmd_db_delete(const Args &args) {
    uint32_t db = 0;
    if (!parse_db(args[0], &db)) {
        return 1;
    }
    return DbDelete(db) == 0 ? 0 : 1;
}

int cmd_db_open(const Args &args) {
    uint32_t db = 0;
    if (!parse_db(args[0], &db)) {
        return 1;
    }
    if (g_open.count(args[1]) != 0) {
        return fail("%s is already open (db-close it first)", args[1].c_str());
    }
    std::string name = args[1];
    std::string mode = args[2];
    UINT32 id = 0;
    if (DbObjOpen(db, &id, name.data(), mode.data()) != 0) {
        return fail("DbObjOpen = 1: no such database or object, or a bad mode");
    }
    g_open[name] = id;
    std::printf("%s: object id 0x%08x\n", name.c_str(), id);
    return 0;
}

// The id of an object this shell holds; 0 (with a message) when it holds none of that name.
UINT32 held(const std::string &name) {
    auto it = g_open.find(name);
    if (it == g_open.end()) {
        refuse("%s is not open (db-open it first)", name.c_str());
        return 0;
    }
    return it->second;
}

int cmd_db_read(const Args &args) {
    UINT32 id = held(args[0]);
    uint32_t size = kDefaultReadSize;
    if (id == 0 || (args.size() > 1 && !parse_range(args[1], 1, kMaxReadBytes, "SIZE", &size))) {
        return 1;
    }
    std::vector<uint8_t> data(size);
    if (DbObjRead(id, data.data(), size) != 0) {
        return fail("DbObjRead = 1");
    }
    print_hex_dump(data.data(), data.size(), 0);
    return 0;
}

int cmd_db_write(const Args &args) {
    UINT32 id = held(args[0]);
    std::vector<uint8_t> data;
    if (id == 0 || !parse_bytes(args[1], &data)) {
        return 1;
    }
    if (DbObjWrite(id, data.data(), static_cast<UINT32>(data.size())) != 0) {
        return fail("DbObjWrite = 1: the object is open for reading only, or the store is full");
    }
    return 0;
}

// Close or remove: the shell gives the name up either way once the call has run.
int finish(const Args &args, UINT32 (*op)(UINT32), const char *what) {
    UINT32 id = held(args[0]);
    if (id == 0) {
        return 1;
    }
    UINT32 rc = op(id);
    g_open.erase(args[0]);
    if (rc != 0) {
        return fail("%s = 1", what);
    }
    return 0;
}

int cmd_db_close(const Args &args) {
    return finish(args, DbObjClose, "DbObjClose");
}
int cmd_db_remove(const Args &args) {
    return finish(args, DbObjRemove, "DbObjRemove");
}

int print_store(const Args &args, int (*print)(UINT32)) {
    uint32_t db = 0;
    if (!parse_db(args[0], &db)) {
        return 1;
    }
    if (g_regions[db].base == nullptr) {
        return fail("database %u is not created (db-create %u)", db, db);
    }
    return print(region_address(db)) == 0 ? 0 : fail("the region holds no store");
}

// The store header as st_info prints it, field by field.
int print_info_json(UINT32 region) {
    OutputCapture capture;
    int rc = st_info(region);
    std::string text = capture.finish();
    size_t row = text.find("\nstore");
    char name[16] = {}, version[16] = {}, address[16] = {};
    unsigned long size = 0, avail = 0;
    if (rc != 0 || row == std::string::npos ||
        std::sscanf(text.c_str() + row + 1, "%15s %15s %15s %lu %lu", name, version, address, &size,
                    &avail) != 5) {
        return 1;
    }
    char region_text[16];
    std::snprintf(region_text, sizeof region_text, "0x%08x", region);
    JsonObject()
        .str("region", region_text)
        .str("name", name)
        .str("version", version)
        .str("address", address)
        .num("size", static_cast<long long>(size))
        .num("avail", static_cast<long long>(avail))
        .print();
    return 0;
}

int cmd_db_info(const Args &args) {
    return print_store(args, json() ? print_info_json : st_info);
}
int cmd_db_dump(const Args &args) {
    return print_store(args, st_dump);
}

constexpr Command kCommands[] = {
    {"db-create", 1, 2, "0|1 [SIZE]", "create a database over its kept region (adopts its objects)",
     cmd_db_create},
    {"db-wipe", 1, 1, "0|1", "lay the database's region out as an empty store", cmd_db_wipe},
    {"db-delete", 1, 1, "0|1", "delete a database (its objects stay in the region)", cmd_db_delete},
    {"db-open", 3, 3, "0|1 NAME r|w|r+|w+", "open an object by name", cmd_db_open},
    {"db-read", 1, 2, "NAME [SIZE]", "read an open object (SIZE bytes, default 16, at most 65536)",
     cmd_db_read},
    {"db-write", 2, 2, "NAME BYTES", "replace an open object (hex or text:...)", cmd_db_write},
    {"db-close", 1, 1, "NAME", "close an open object", cmd_db_close},
    {"db-remove", 1, 1, "NAME", "delete an open object from the store", cmd_db_remove},
    {"db-info", 1, 1, "0|1", "print the store header (st_info)", cmd_db_info},
    {"db-dump", 1, 1, "0|1", "print every stored object (st_dump)", cmd_db_dump},
};

}  // namespace

std::span<const Command> db_commands() {
    return kCommands;
}

}  // namespace bsp::shell
