// The board description served by kvu_hal_get, and the reset type of the current start.
#ifndef BSP_SIM_BOARD_H
#define BSP_SIM_BOARD_H

#include <bsp_ctrl/platform/bsp_board.h>

#include <string>
#include <vector>

namespace bsp::sim {

// The unit's default board: hardware ports 0..3 with the radio-link port 1, a copper LAN
// port 2 and the SFP cage port 3; port entries 0, 1, 2 serve hardware ports 1, 2, 3; three
// LAN ports of which LAN port 3 is the SFP cage (MII address 0); SEIS link 0 serves it.
kvu_hal_board_t default_board();

// Replaces the board description (the record kvu_hal_get returns keeps its address).
void set_board(const kvu_hal_board_t &board);
kvu_hal_board_t board();

// Named presets for the shell and tests: "default", "no-sfp", "two-sfp".
bool load_board_preset(const std::string &name);
std::vector<std::string> board_preset_names();

// Reset type reported by RLBSP_get_reset_type and eh_get_reset_type (1 = cold).
void set_reset_type(uint32_t type);
uint32_t reset_type();

// Calls of dbg_handle_logs_at_restart since the last reset.
unsigned restart_log_calls();

}  // namespace bsp::sim

#endif
