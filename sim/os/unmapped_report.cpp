// A region address that names no mapped memory. The library reads the region it is given
// (a store's header first), so a wrong address (a pointer truncated to 32 bits, a region that
// was never mapped) faults inside the library. Once a unit is started, the simulated host
// says so on standard error, naming the address, and the fault then takes its usual course
// (a core dump, or a sanitizer's report).
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

#include "bsp_sim/unit.h"

namespace bsp::sim {

namespace {

// Faults below this are null pointers with an offset, not regions: Linux maps nothing under
// vm.mmap_min_addr (64 KiB by default).
constexpr uintptr_t kLowestRegion = 0x10000;

struct sigaction g_previous {};

// Only async-signal-safe calls: the text is filled in place and written with write(2).
void report(uintptr_t address) {
    char text[] =
        "bsp_sim: address 0x00000000 names no mapped memory; a region handed to the "
        "library must be mapped below 4 GiB (bsp_sim_region)\n";
    constexpr size_t kDigits = sizeof "bsp_sim: address 0x" - 1;
    for (size_t i = 0; i < 8; ++i) {
        text[kDigits + 7 - i] = "0123456789abcdef"[(address >> (4 * i)) & 0xf];
    }
    ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
    (void)written;
}

// Returning with the previous handler in place repeats the access under that handler.
void on_segv(int, siginfo_t *info, void *) {
    auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    // Only an address a 32-bit region id can name (every address does on a 32-bit host).
    bool region_address = (address >> 16 >> 16) == 0;
    if (info->si_code == SEGV_MAPERR && address >= kLowestRegion && region_address) {
        report(address);
    }
    ::sigaction(SIGSEGV, &g_previous, nullptr);
}

void install_report() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = on_segv;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGSEGV, &action, &g_previous);
    });
}

const ResetHook reset_hook{install_report, kCorePhase};

}  // namespace

}  // namespace bsp::sim
