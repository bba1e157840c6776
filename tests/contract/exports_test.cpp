// The contract between the library and its host: the shared object defines only its C API
// and leaves every host service undefined, to be resolved from the host process at load time.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace {

struct Symbols {
    std::set<std::string> defined;
    std::set<std::string> undefined;
};

std::string run(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

std::set<std::string> names(const std::string &listing) {
    std::set<std::string> out;
    std::regex line(R"(^\s*(?:[0-9a-fA-F]+\s+)?[A-Za-z]\s+(\S+?)(?:@\S*)?$)");
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        std::string l = listing.substr(start, end - start);
        std::smatch m;
        if (std::regex_match(l, m, line)) {
            out.insert(m[1]);
        }
        start = end == std::string::npos ? listing.size() : end + 1;
    }
    return out;
}

Symbols library_symbols() {
    std::string so = BSP_CTRL_SO;
    return {names(run("nm -D --defined-only " + so)), names(run("nm -D --undefined-only " + so))};
}

bool is_host_service(const std::string &s) {
    static const std::regex host(
        "^(OS_.*|MEM_.*|Timer(Create|Enable|Disable)|log_printf|npu_log_printf|get_system_time|"
        "DBG_.*_INDEX|vanta.*|kvu_hal_get|eth_ctrl_emac_sfp_.*|sfp_mon_.*|hdlc_.*|RLBSP_.*|"
        "eh_get_reset_type|dbg_handle_logs_at_restart)$");
    return std::regex_match(s, host);
}

TEST(ExportsTest, NoHostServiceAndNoCxxSymbolIsDefined) {
    Symbols s = library_symbols();
    ASSERT_FALSE(s.undefined.empty()) << "nm could not read " << BSP_CTRL_SO;
    for (const std::string &d : s.defined) {
        EXPECT_FALSE(is_host_service(d)) << d << " must stay a host service";
        EXPECT_NE(d.rfind("_Z", 0), 0u) << d << " is a C++ symbol";
    }
}

std::set<std::string> listed_exports() {
    std::ifstream in(std::string(BSP_SOURCE_DIR) + "/tests/contract/exported_symbols.txt");
    std::set<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#') {
            out.insert(line);
        }
    }
    return out;
}

// The library defines exactly the documented API: nothing missing, nothing extra.
TEST(ExportsTest, DefinedSymbolsAreExactlyTheListedApi) {
    std::set<std::string> listed = listed_exports();
    ASSERT_FALSE(listed.empty());
    Symbols s = library_symbols();
    for (const std::string &name : listed) {
        EXPECT_EQ(s.defined.count(name), 1u) << name << " is not exported";
    }
    for (const std::string &name : s.defined) {
        EXPECT_EQ(listed.count(name), 1u) << name << " is exported but not part of the API";
    }
}

// Every host service the library calls is found in the hosting executable itself.
TEST(ExportsTest, HostServicesResolveToTheHostProcess) {
    Symbols s = library_symbols();
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    for (const std::string &u : s.undefined) {
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

TEST(ExportsTest, LibraryHasSoname) {
    std::string dynamic = run(std::string("readelf -d ") + BSP_CTRL_SO);
    EXPECT_NE(dynamic.find("Library soname: [libbsp_ctrl.so.1]"), std::string::npos) << dynamic;
}

}  // namespace
