#include "fd_io.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace bsp::shell {

bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) {
            n = ::write(fd, data, size);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace bsp::shell
