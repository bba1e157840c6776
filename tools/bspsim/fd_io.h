// Writing a whole text to a descriptor, as the shell's front ends and its console need: a
// terminal, a pipe, a file or a socket whose peer may have gone (no SIGPIPE then).
#ifndef BSP_TOOLS_BSPSIM_FD_IO_H
#define BSP_TOOLS_BSPSIM_FD_IO_H

#include <cstddef>
#include <string>

namespace bsp::shell {

// False when the descriptor stopped taking bytes.
bool write_all(int fd, const char *data, size_t size);
inline bool write_all(int fd, const std::string &text) {
    return write_all(fd, text.data(), text.size());
}

}  // namespace bsp::shell

#endif
