// The simulated serial port "/dev/ttyS0": the slave side of a real pseudo-terminal, put in
// raw mode when the unit is reset. The library opens it through the device mechanism and
// drives it with the ordinary open/termios/read/write/close calls; the far end of the line
// (the peer) is the pseudo-terminal's master, which tests drive with the calls below. Every
// reset gives a fresh pseudo-terminal.
#ifndef BSP_SIM_SERIAL_H
#define BSP_SIM_SERIAL_H

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bsp::sim {

constexpr const char *kSerialPortPath = "/dev/ttyS0";

// The master descriptor (non-blocking) and the slave's path, e.g. "/dev/pts/3".
int serial_master_fd();
std::string serial_slave_path();

// The peer sends bytes down the line; false when they could not all be written.
bool serial_peer_write(const std::vector<uint8_t> &bytes);

// The peer reads what the library sent: `count` bytes, or fewer when `deadline` passes.
std::vector<uint8_t> serial_peer_read(size_t count, std::chrono::milliseconds deadline);

// The peer reads whatever arrives until no byte has come for `quiet`.
std::vector<uint8_t> serial_peer_read_quiet(std::chrono::milliseconds quiet);

// Bytes the peer has sent that have reached the port's input queue and are not read yet
// (bytes on their way through the pseudo-terminal are not counted).
size_t serial_pending_input();

// Bytes the library has read from the port since the last reset.
uint64_t serial_bytes_read();

// The port's settings as the library last applied them; false on failure.
bool serial_port_settings(struct termios *settings);

// Descriptors of "/dev/ttyS0" the library holds open.
size_t serial_open_descriptors();

// A second pseudo-terminal for a person's terminal program: bytes pass between its line and
// the far end of the simulated port, so the person takes the peer's place (while the link
// runs, the peer calls above see nothing). `tap` (may be empty) sees every chunk, with
// `to_unit` true for the direction towards the library; it runs on the link's thread.
// Returns the path to attach to, or "" on failure. Stopped by a reset or explicitly.
using SerialTap = std::function<void(bool to_unit, const uint8_t *data, size_t size)>;
std::string serial_start_terminal_link(SerialTap tap);
void serial_stop_terminal_link();
std::string serial_terminal_link_path();

}  // namespace bsp::sim

#endif
