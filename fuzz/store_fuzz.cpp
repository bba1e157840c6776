// Adoption of arbitrary region bytes, then every object operation and both printouts on
// whatever was adopted. The region sits at a fixed address so that stored absolute
// addresses in the seeds point inside it.
//
// Input: the first kRegionSize bytes are the region (zero-filled when shorter); the rest
// is a sequence of operations.
#include <bsp_ctrl/db_dev.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "fuzz_support.h"

namespace {

constexpr uintptr_t kRegionAddress = 0x32000000;
constexpr uint32_t kRegionSize = 2048;

uint8_t *region() {
    static auto *r = static_cast<uint8_t *>(
        ::mmap(reinterpret_cast<void *>(kRegionAddress), kRegionSize, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0));
    if (reinterpret_cast<uintptr_t>(r) != kRegionAddress) {
        std::abort();
    }
    return r;
}

void run_operations(UINT32 id, bsp::fuzz::Input &in) {
    uint8_t data[300];
    while (!in.empty()) {
        uint8_t op = in.byte();
        UINT8 key[4] = {0, 0, 0, static_cast<UINT8>(in.byte() & 7)};
        uint32_t size = in.byte();
        switch (op % 4) {
            case 0:
                st_put_obj(id, key, data, size);
                break;
            case 1:
                st_set_obj(id, key, data, size);
                break;
            case 2:
                st_get_obj(id, key, data, size);
                break;
            default:
                st_del_obj(id, key);
                break;
        }
    }
}

// Writes a valid store with a few objects as a seed: BSP_FUZZ_MAKE_SEED=path.
void make_seed(const char *path) {
    UINT32 id = 0;
    std::memset(region(), 0, kRegionSize);
    if (st_reinit(&id, kRegionAddress, kRegionSize) != 0) {
        std::abort();
    }
    const char *names[] = {"alpha", "beta", "gamma"};
    for (const char *n : names) {
        UINT8 key[4];
        st_obj_key(n, static_cast<UINT32>(std::strlen(n)), key);
        st_put_obj(id, key, n, static_cast<UINT32>(std::strlen(n)));
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(region()), kRegionSize);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    bsp::fuzz::fresh_unit();
    if (const char *seed = std::getenv("BSP_FUZZ_MAKE_SEED")) {
        make_seed(seed);
    }
    // The printouts go to standard output; keep the fuzzer's own output readable.
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::Input in(data, size);
    std::memset(region(), 0, kRegionSize);
    in.take(region(), kRegionSize);
    UINT32 id = 0;
    if (st_init(&id, kRegionAddress, kRegionSize) != 0) {
        return 0;
    }
    run_operations(id, in);
    st_info(id);
    st_dump(id);
    std::fflush(stdout);
    return 0;
}
