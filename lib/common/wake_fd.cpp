#include "common/wake_fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace bsp {

int wake_fd_create() {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void wake_fd_signal(int wake) {
    if (wake >= 0) {
        uint64_t one = 1;
        // A full counter is already signalled; nothing else can fail on a valid eventfd.
        [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
    }
}

void wake_fd_close(int *wake) {
    if (*wake >= 0) {
        ::close(*wake);
        *wake = -1;
    }
}

WaitResult wait_readable(int fd, int wake, int timeout_ms) {
    pollfd fds[2] = {{wake, POLLIN, 0}, {fd, POLLIN, 0}};
    nfds_t count = fd >= 0 ? 2 : 1;
    for (;;) {
        int n = ::poll(fds, count, timeout_ms);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || fds[0].revents != 0) {
            return WaitResult::Woken;
        }
        if (n == 0) {
            return WaitResult::TimedOut;
        }
        return WaitResult::Ready;
    }
}

bool readable_now(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

}  // namespace bsp
