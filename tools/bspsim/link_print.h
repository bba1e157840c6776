// What the link commands share: dumps of receive buffers (which carry no length)
// and of what a far end got, printed whole even when a library task prints meanwhile, and a
// short wait for a receive callback so that scripts show what arrives.
#ifndef BSP_TOOLS_BSPSIM_LINK_PRINT_H
#define BSP_TOOLS_BSPSIM_LINK_PRINT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bsp::shell {

// Trailing zeros are left out of the dump.
void print_buffer(const char *what, const uint8_t *bytes, size_t size);
// A whole message or frame: what arrived, or what a far end got.
void print_packet(const char *what, const uint8_t *bytes, size_t size);
void print_far_end(const char *what, const std::vector<uint8_t> &bytes);
// Waits up to a second for `counter` to move on from `before`.
void await_count(const std::atomic<int> &counter, int before);

}  // namespace bsp::shell

#endif
