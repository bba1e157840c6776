// Internal to the simulated host: the file that holds a memory chip's contents.
#ifndef BSP_SIM_DEVICES_IMAGE_FILE_H
#define BSP_SIM_DEVICES_IMAGE_FILE_H

#include <cstddef>

namespace bsp::sim {

// Opens the image `name` of `size` bytes: the state-folder file when the shell keeps state,
// else a memory file. `*fresh` tells whether the contents are new (to be initialised by the
// caller). -1 when neither could be made.
int open_image(const char *name, size_t size, bool *fresh);

}  // namespace bsp::sim

#endif
