// The address range of the library's executable code, for the interposed functions that
// treat the library's calls apart from the hosting application's.
#include "devices/library_text.h"

#include <link.h>

#include <cstdint>
#include <cstring>

#include "bsp_sim/unit.h"

namespace bsp::sim {

namespace {

uintptr_t text_begin = 0;
uintptr_t text_end = 0;

int find_library_text(struct dl_phdr_info *info, size_t, void *) {
    const char *name = info->dlpi_name;
    if (name == nullptr || std::strstr(name, "/libbsp_ctrl.so") == nullptr) {
        return 0;
    }
    uintptr_t begin = UINTPTR_MAX;
    uintptr_t end = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) != 0) {
            uintptr_t at = info->dlpi_addr + ph.p_vaddr;
            begin = at < begin ? at : begin;
            end = at + ph.p_memsz > end ? at + ph.p_memsz : end;
        }
    }
    if (end != 0) {
        __atomic_store_n(&text_begin, begin, __ATOMIC_RELEASE);
        __atomic_store_n(&text_end, end, __ATOMIC_RELEASE);
    }
    return 1;
}

const ResetHook reset_hook{locate_library_text, kCorePhase};

}  // namespace

void locate_library_text() {
    if (__atomic_load_n(&text_end, __ATOMIC_ACQUIRE) == 0) {
        ::dl_iterate_phdr(find_library_text, nullptr);
    }
}

BSP_SIM_RAW bool called_from_library(const void *caller) {
    // The end is stored last and read first: a range seen with its end has its beginning.
    const uintptr_t end = __atomic_load_n(&text_end, __ATOMIC_ACQUIRE);
    const uintptr_t begin = __atomic_load_n(&text_begin, __ATOMIC_ACQUIRE);
    const auto at = reinterpret_cast<uintptr_t>(caller);
    return at >= begin && at < end;
}

}  // namespace bsp::sim
