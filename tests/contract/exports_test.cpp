// The contract between the library and its host: the shared object defines only its C API
// and leaves every host service undefined, to be resolved from the host process at load time.
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <regex>
#include <set>
#include <string>

// The host-service records have the layout that the library and every host rely on: the
// library reads them in memory the host owns, so a change on either side is caught here, at
// compile time, on every target the suite is built for.
static_assert(sizeof(MEM_POOL) == 24, "the pool record is six 32-bit words");
static_assert(sizeof(MEM_HEADER) == 16, "the block header is four 32-bit words");
static_assert(offsetof(MEM_POOL, memory_search) == 20);

static_assert(offsetof(kvu_hal_board_t, max_hw_port) == 0);
static_assert(offsetof(kvu_hal_board_t, lan_ports) == 16);
static_assert(offsetof(kvu_hal_board_t, wan_ports) == 20);
static_assert(offsetof(kvu_hal_board_t, sfp_ports) == 24);
static_assert(offsetof(kvu_hal_board_t, enabled_ports) == 28);
static_assert(offsetof(kvu_hal_board_t, hw_port_of_entry) == 32);
static_assert(offsetof(kvu_hal_board_t, entry_of_hw_port) == 44);
static_assert(offsetof(kvu_hal_board_t, mii_addr_of_entry) == 60);
static_assert(offsetof(kvu_hal_board_t, lan_port_of_entry) == 72);
static_assert(offsetof(kvu_hal_board_t, seis_link_of_entry) == 84);
static_assert(offsetof(kvu_hal_board_t, cp_num_of_entry) == 96);
static_assert(sizeof(kvu_hal_board_t) == 108);

static_assert(sizeof(STATUS) == 4 && sizeof(UNSIGNED) == 4);

namespace {

// The lines a command prints, each cut at its first '@' (a symbol's version).
std::set<std::string> lines_of(const std::string &command) {
    std::set<std::string> out;
    FILE *p = popen(command.c_str(), "r");
    char line[4096];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
        std::string s(line);
        out.insert(s.substr(0, s.find_first_of("@\n")));
    }
    if (p != nullptr) {
        pclose(p);
    }
    return out;
}

std::set<std::string> symbols(const char *which) {
    return lines_of(std::string("nm -D --format=just-symbols ") + which + " " + BSP_CTRL_SO);
}

bool is_host_service(const std::string &s) {
    static const std::regex host(
        "^(OS_.*|MEM_.*|Timer(Create|Enable|Disable)|log_printf|npu_log_printf|get_system_time|"
        "DBG_.*_INDEX|vanta.*|kvu_hal_get|eth_ctrl_emac_sfp_.*|sfp_mon_.*|hdlc_.*|RLBSP_.*|"
        "eh_get_reset_type|dbg_handle_logs_at_restart)$");
    return std::regex_match(s, host);
}

// The library, under its soname, defines exactly the documented API (nothing missing, nothing
// extra), and no host service nor any C++ symbol.
TEST(ExportsTest, DefinedSymbolsAreExactlyTheListedApi) {
    std::set<std::string> listed =
        lines_of(std::string("grep -v -e '^#' -e '^$' ") + BSP_SOURCE_DIR +
                 "/tests/contract/exported_symbols.txt");
    ASSERT_GT(listed.size(), 100u);
    std::string soname = std::string("readelf -d ") + BSP_CTRL_SO + " | grep -o 'soname: .*'";
    EXPECT_EQ(lines_of(soname).count("soname: [libbsp_ctrl.so.1]"), 1u);
    std::set<std::string> defined = symbols("--defined-only");
    for (const std::string &name : listed) {
        EXPECT_EQ(defined.count(name), 1u) << name << " is not exported";
    }
    for (const std::string &name : defined) {
        EXPECT_EQ(listed.count(name), 1u) << name << " is exported but not part of the API";
        EXPECT_FALSE(is_host_service(name)) << name << " must stay a host service";
        EXPECT_NE(name.rfind("_Z", 0), 0u) << name << " is a C++ symbol";
    }
}

// Every host service the library calls is found in the hosting executable itself.
TEST(ExportsTest, HostServicesResolveToTheHostProcess) {
    std::set<std::string> undefined = symbols("--undefined-only");
    ASSERT_GT(undefined.count("OS_Create_Semaphore"), 0u) << "nm could not read " << BSP_CTRL_SO;
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    for (const std::string &u : undefined) {
        if (!is_host_service(u)) {
            continue;
        }
        void *sym = dlsym(RTLD_DEFAULT, u.c_str());
        Dl_info info{};
        ASSERT_NE(sym, nullptr) << u;
        ASSERT_NE(dladdr(sym, &info), 0) << u;
        EXPECT_STREQ(info.dli_fname, exe) << u;
    }
}

}  // namespace
