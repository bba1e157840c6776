// Owns a file descriptor for the length of a scope and closes it exactly once.
#ifndef BSP_LIB_COMMON_FD_GUARD_H
#define BSP_LIB_COMMON_FD_GUARD_H

#include <unistd.h>

namespace bsp {

class FdGuard {
  public:
    explicit FdGuard(int fd = -1) : fd_(fd) {}
    ~FdGuard() { reset(); }
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up ownership without closing.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor now; returns close()'s result (0 when there was none).
    int reset(int fd = -1) {
        int rc = 0;
        if (fd_ >= 0) {
            rc = ::close(fd_);
        }
        fd_ = fd;
        return rc;
    }

  private:
    int fd_;
};

}  // namespace bsp

#endif
