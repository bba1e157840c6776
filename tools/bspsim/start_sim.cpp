// The simulator shell's unit: the whole simulated host, its devices reached by interposition,
// and the fault plan seeded from BSP_FAULT_SEED.
#include <bsp_sim/bsp_sim_c.h>
#include <bsp_sim/fault_plan.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "start.h"

namespace bsp::shell {

const char kProgram[] = "bspsim";
const char kDefaultStateDir[] = "./bspsim-state";

namespace {

// A fault seed that is no number would silently deal other faults than the one asked for.
bool read_fault_seed(std::optional<uint64_t> *seed) {
    const char *text = std::getenv("BSP_FAULT_SEED");
    if (text == nullptr) {
        return true;
    }
    char *end = nullptr;
    errno = 0;
    uint64_t value = std::strtoull(text, &end, 0);
    if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0) {
        std::fprintf(stderr,
                     "bspsim: BSP_FAULT_SEED is not a number (decimal or 0x-hexadecimal): %s\n",
                     text);
        return false;
    }
    *seed = value;
    return true;
}

}  // namespace

bool start_unit(const std::string &state_dir) {
    std::optional<uint64_t> seed;
    if (!read_fault_seed(&seed)) {
        return false;
    }
    bsp_sim_start(state_dir.c_str());
    if (seed) {
        bsp::sim::fault_plan_seed(*seed);
        std::fprintf(stderr, "bsp_sim: fault plan seed 0x%016" PRIx64 "\n", *seed);
    }
    keep_fpga_registers();
    return true;
}

}  // namespace bsp::shell
