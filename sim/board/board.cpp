// The board description, the reset type of the current start and the restart-log call.
#include "bsp_sim/board.h"

#include <atomic>
#include <fstream>
#include <mutex>

#include "bsp_sim/state.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

struct Board {
    std::mutex mutex;
    kvu_hal_board_t record{};  // kvu_hal_get hands out this address
    std::atomic<uint32_t> reset_type{BSP_RESET_TYPE_COLD};
    std::atomic<unsigned> restart_log_calls{0};
};

Board &board_state() {
    return immortal<Board>();
}

kvu_hal_board_t no_sfp_board() {
    kvu_hal_board_t b = default_board();
    b.sfp_ports = 0;
    b.mii_addr_of_entry[2] = 3;  // the third LAN port is copper too
    return b;
}

kvu_hal_board_t two_sfp_board() {
    kvu_hal_board_t b = default_board();
    b.sfp_ports = 2;
    b.mii_addr_of_entry[1] = 0;
    b.seis_link_of_entry[1] = 1;
    return b;
}

struct Preset {
    const char *name;
    kvu_hal_board_t (*make)();
};

constexpr Preset kPresets[] = {
    {"default", default_board},
    {"no-sfp", no_sfp_board},
    {"two-sfp", two_sfp_board},
};

const char *const kResetTypeFile = "reset-type";

uint32_t persisted_reset_type() {
    std::ifstream in(state_path(kResetTypeFile));
    uint32_t t = BSP_RESET_TYPE_COLD;
    if (persistent() && in >> t) {
        return t;
    }
    return BSP_RESET_TYPE_COLD;
}

void reset_board() {
    set_board(default_board());
    board_state().reset_type = persisted_reset_type();
    board_state().restart_log_calls = 0;
}

const ResetHook reset_hook{reset_board, kCorePhase};

}  // namespace

kvu_hal_board_t default_board() {
    kvu_hal_board_t b{};
    b.max_hw_port = 3;
    b.lan_ports = 3;
    b.wan_ports = 1;
    b.sfp_ports = 1;
    b.enabled_ports = 0xE;  // hardware ports 1..3
    for (int e = 0; e < KVU_HAL_PORT_ENTRIES; ++e) {
        b.hw_port_of_entry[e] = e + 1;
        b.lan_port_of_entry[e] = e + 1;
        b.seis_link_of_entry[e] = e == 2 ? 0 : 1;
        b.cp_num_of_entry[e] = e;
    }
    b.entry_of_hw_port[0] = -1;
    for (int p = 1; p < KVU_HAL_HW_PORTS; ++p) {
        b.entry_of_hw_port[p] = p - 1;
    }
    b.mii_addr_of_entry[0] = 1;
    b.mii_addr_of_entry[1] = 2;
    b.mii_addr_of_entry[2] = 0;  // the SFP cage
    return b;
}

void set_board(const kvu_hal_board_t &b) {
    std::lock_guard lock(board_state().mutex);
    board_state().record = b;
}

kvu_hal_board_t board() {
    std::lock_guard lock(board_state().mutex);
    return board_state().record;
}

bool load_board_preset(const std::string &name) {
    for (const Preset &p : kPresets) {
        if (name == p.name) {
            set_board(p.make());
            return true;
        }
    }
    return false;
}

std::vector<std::string> board_preset_names() {
    std::vector<std::string> names;
    for (const Preset &p : kPresets) {
        names.emplace_back(p.name);
    }
    return names;
}

// Sets the reset type now and, in the shell, for the next start as well.
void set_reset_type(uint32_t type) {
    board_state().reset_type = type;
    if (persistent()) {
        std::ofstream(state_path(kResetTypeFile), std::ios::trunc) << type << '\n';
    }
}

uint32_t reset_type() {
    return board_state().reset_type;
}

unsigned restart_log_calls() {
    return board_state().restart_log_calls;
}

}  // namespace bsp::sim

using namespace bsp::sim;

extern "C" {

const kvu_hal_board_t *kvu_hal_get(void) {
    return &board_state().record;
}

int RLBSP_get_reset_type(UINT32 *type) {
    *type = reset_type();
    return 0;
}

int eh_get_reset_type(UINT32 *type) {
    *type = reset_type();
    return 0;
}

int dbg_handle_logs_at_restart(void) {
    ++board_state().restart_log_calls;
    return 0;
}

}  // extern "C"
