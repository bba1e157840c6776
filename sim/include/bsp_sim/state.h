// The state folder that keeps the board's images between runs of the shell.
#ifndef BSP_SIM_STATE_H
#define BSP_SIM_STATE_H

#include <cstdint>
#include <span>
#include <string>

namespace bsp::sim {

// An empty folder name (the default, and what tests use) keeps everything in memory. A folder
// is locked by the process that uses it: false (with the reason naming the holder's process
// id) when another unit holds it; the unit then keeps everything in memory.
bool set_state_dir(const std::string &dir, std::string *why = nullptr);
const std::string &state_dir();
bool persistent();

// Path of a named image inside the state folder (empty when not persistent).
std::string state_path(const std::string &name);

// Reads a whole image into `out` (false when absent or of another size).
bool load_image(const std::string &name, std::span<uint8_t> out);
bool save_image(const std::string &name, std::span<const uint8_t> data);

}  // namespace bsp::sim

#endif
