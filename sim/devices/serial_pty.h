// Internal to the simulated host: a pseudo-terminal pair as the serial models use it.
#ifndef BSP_SIM_DEVICES_SERIAL_PTY_H
#define BSP_SIM_DEVICES_SERIAL_PTY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bsp::sim {

struct Pty {
    int master = -1;  // non-blocking
    int keeper = -1;  // a slave descriptor held open so the line never hangs up
    std::string slave_path;
};

// A fresh pseudo-terminal in raw mode; false (nothing left open) on failure.
bool pty_create(Pty *pty);
void pty_destroy(Pty *pty);

// Bytes on their way to the port as the fault plan's serial faults leave them.
std::vector<uint8_t> serial_line_to_unit(const uint8_t *bytes, size_t size);

}  // namespace bsp::sim

#endif
