// Waking a task that waits for input: the task polls its descriptor together with an
// eventfd, and another thread signals the eventfd to make it stop waiting (closing a
// descriptor does not wake a thread that is blocked on it). A pause that a signal cuts
// short paces a task through persistent errors.
#ifndef BSP_LIB_COMMON_WAKE_FD_H
#define BSP_LIB_COMMON_WAKE_FD_H

namespace bsp {

// A fresh wake descriptor, or -1.
int wake_fd_create();

// Wakes every present and future wait on `wake` (it stays signalled).
void wake_fd_signal(int wake);

// Closes `*wake` when open and leaves -1 there; only once nothing can wait on it any more.
void wake_fd_close(int *wake);

enum class WaitResult { Ready, Woken, TimedOut };

// Waits until `fd` has input (or an error or hang-up to report), `wake` is signalled or
// `timeout_ms` passes (-1: no limit). A negative `fd` waits on `wake` alone.
WaitResult wait_readable(int fd, int wake, int timeout_ms);

// True when `fd` has input (or an error to report) right now.
bool readable_now(int fd);

}  // namespace bsp

#endif
