// Memory regions that the library may name by 32-bit addresses: on a 64-bit host they lie
// below 4 GiB. A file-backed region mapped again at the same address is found complete.
#ifndef BSP_HOST_REGION_H
#define BSP_HOST_REGION_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace bsp::host {

// Anonymous zero-filled region below 4 GiB; null on failure.
void *map_low_region(size_t size);

// Region backed by `path` (created or grown to `size`), mapped shared at exactly `address`;
// null when the file cannot be used or the address is taken.
void *map_file_region(const std::string &path, size_t size, uintptr_t address);

void unmap_region(void *base, size_t size);

}  // namespace bsp::host

#endif
