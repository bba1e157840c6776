// The TCP frame socket: one listening socket, one client at a time, every message sent in a
// fixed 600-byte frame.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/be_pack.h"
#include "common/immortal.h"
#include "common/wake_fd.h"
#include "ti_socket_drv_internal.h"

// Exported through their declarations in ti_socket_drv.h.
extern "C" {
const UINT8 TCPSTART_BYTE1 = 0x5A;
const UINT8 TCPSTART_BYTE2 = 0xA5;
const UINT8 TCPSTART_BYTE3 = 0xC3;
const UINT8 TCPSTART_BYTE4 = 0x3C;
const UINT8 TCPSTOP_BYTE1 = 0xA5;
const UINT8 TCPSTOP_BYTE2 = 0x5A;
const UINT8 TCPSTOP_BYTE3 = 0x3C;
const UINT8 TCPSTOP_BYTE4 = 0xC3;
const UINT32 TCPSTOP_WORD = 0xA55A3CC3;
}

namespace bsp::tisock {

namespace {

thread_local FRAMER *t_own_block = nullptr;  // the block whose task runs on this thread

// Frame to the client, 600 bytes:
//   0    start marker            4 bytes
//   4    length, always 600      4 bytes, big-endian
//   8    message                 n bytes, then zeros up to 596
//   596  stop marker             4 bytes
void fill_frame(UINT8 *frame, const char *msg, UINT32 length) {
    const UINT8 start[4] = {TCPSTART_BYTE1, TCPSTART_BYTE2, TCPSTART_BYTE3, TCPSTART_BYTE4};
    const UINT8 stop[4] = {TCPSTOP_BYTE1, TCPSTOP_BYTE2, TCPSTOP_BYTE3, TCPSTOP_BYTE4};
    std::memcpy(frame, start, sizeof start);
    put_be32(frame + 4, kFrameLen);
    std::memcpy(frame + kHeadLen, msg, length);
    std::memcpy(frame + kStopOffset, stop, sizeof stop);
}

// Sends to the connected client, if any, without SIGPIPE when it has gone.
ssize_t send_to_client(FRAMER *f, const UINT8 *frame) {
    std::lock_guard lock(state_mutex());
    if (f->socket_status != SOCKET_CONNECTED || f->new_socket < 0) {
        return -1;
    }
    return ::send(f->new_socket, frame, kFrameLen, MSG_NOSIGNAL);
}

// Ends the block's task (waiting for it unless called from that task itself) and closes
// the listening socket once no task uses it. Under state_mutex().
void stop_locked(FRAMER *f, std::unique_lock<std::mutex> &lock) {
    f->closing = true;
    wake_fd_signal(f->wake_fd);
    if (f->task_running && t_own_block != f) {
        task_cv().wait(lock, [f] { return !f->task_running; });
    }
    if (!f->task_running) {
        if (f->socket >= 0) {
            ::close(f->socket);
            f->socket = -1;
        }
        wake_fd_close(&f->wake_fd);  // no task waits on it any more; the next open makes one
    }
}

void retire_current() {
    std::unique_lock lock(state_mutex());
    FRAMER *old = current_socket();
    current_socket() = nullptr;
    if (old == nullptr) {
        return;
    }
    stop_locked(old, lock);
    if (old->task_running) {
        old->retired = true;
    } else {
        free_block(old);
    }
}

// Ends the current block's task and closes its sockets, before the block is replaced.
void stop_current() {
    std::shared_lock life(lifecycle_lock());
    std::unique_lock lock(state_mutex());
    FRAMER *f = current_socket();
    if (f != nullptr) {
        stop_locked(f, lock);
    }
}

FRAMER *current() {
    std::lock_guard lock(state_mutex());
    return current_socket();
}

bool bind_and_listen(FRAMER *f) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(f->framer_id));
    if (::bind(f->socket, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0) {
        return false;
    }
    if (::listen(f->socket, 1) < 0) {
        std::perror("error");
        return false;
    }
    return true;
}

bool start_task(FRAMER *f) {
    {
        std::lock_guard lock(state_mutex());  // a concurrent close may release it
        if (f->wake_fd < 0) {
            f->wake_fd = wake_fd_create();
            if (f->wake_fd < 0) {
                return false;
            }
        }
    }
    // The receive buffer is made here, so that its failure is the open's failure.
    auto *buffer = static_cast<UINT8 *>(std::malloc(kReceiveBufferLen));
    if (buffer == nullptr) {
        return false;
    }
    f->rx_buffer = buffer;
    start_task_handshake(f);
    if (OS_Create_Task(&f->framer_task_cb, const_cast<CHAR *>("TISOCK"), f->framer_rx_handler, 0,
                       nullptr) != NU_SUCCESS) {
        cancel_task_handshake();
        f->rx_buffer = nullptr;
        std::free(buffer);
        return false;
    }
    wait_task_started();
    return true;
}

}  // namespace

std::shared_mutex &lifecycle_lock() {
    return immortal<std::shared_mutex, struct LifecycleTag>();
}

std::mutex &state_mutex() {
    return immortal<std::mutex, struct StateTag>();
}

std::condition_variable &task_cv() {
    return immortal<std::condition_variable, struct TaskTag>();
}

FRAMER *&current_socket() {
    static FRAMER *block = nullptr;
    return block;
}

void free_block(FRAMER *f) {
    for (int fd : {f->new_socket, f->socket, f->wake_fd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (f->sem_created) {
        OS_Delete_Semaphore(&f->framer_sem);
    }
    std::free(f);
}

// Marks the calling thread as the task of `f` (from the task's entry).
void set_own_block(FRAMER *f) {
    t_own_block = f;
}

}  // namespace bsp::tisock

using namespace bsp::tisock;

extern "C" {

BSP_API int ti_socket_init(int port) {
    // The previous socket's task ends first, outside the exclusive section, so that its
    // callback can still make calls while it finishes.
    stop_current();
    std::unique_lock life(lifecycle_lock());
    retire_current();
    auto *f = static_cast<FRAMER *>(std::calloc(1, sizeof(FRAMER)));
    if (f == nullptr) {
        return -1;
    }
    f->framer_id = static_cast<UINT32>(port);
    f->framer_rx_handler = framer_hisr_rx_handler;
    f->socket = f->new_socket = f->wake_fd = -1;
    {
        std::lock_guard lock(state_mutex());
        current_socket() = f;
    }
    if (OS_Create_Semaphore(&f->framer_sem, const_cast<CHAR *>("ti_sock"), 1, NU_PRIORITY) !=
        NU_SUCCESS) {
        return -1;
    }
    f->sem_created = true;
    f->socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (f->socket < 0) {
        return -1;
    }
    f->socket_status = SOCKET_DISCONNECTED;
    return 0;
}

BSP_API int ti_socket_open(TI_SOCKET_RX_CALLBACK framer_rx_callback) {
    std::shared_lock life(lifecycle_lock());
    FRAMER *f = nullptr;
    {
        std::lock_guard lock(state_mutex());
        f = current_socket();
        if (f == nullptr || f->socket < 0 || f->task_running || !bind_and_listen(f)) {
            return -1;
        }
        f->framer_rx_callback = framer_rx_callback;
    }
    return start_task(f) ? 0 : -1;
}

BSP_API int ti_socket_write(char *tcf_frame, UINT32 length) {
    std::shared_lock life(lifecycle_lock());
    FRAMER *f = current();
    if (f == nullptr || tcf_frame == nullptr || length == 0 || length > kMaxMsgLen) {
        return -1;
    }
    if (OS_Obtain_Semaphore(&f->framer_sem, NU_SUSPEND) != NU_SUCCESS) {
        return -1;
    }
    f->framer_tcf_frame = tcf_frame;
    f->framer_tcf_msg_len = kFrameLen;
    ssize_t sent = -1;
    auto *frame = static_cast<UINT8 *>(std::calloc(kFrameLen, 1));
    if (frame != nullptr) {
        fill_frame(frame, tcf_frame, length);
        sent = send_to_client(f, frame);
        std::free(frame);
    }
    bool released = OS_Release_Semaphore(&f->framer_sem) == NU_SUCCESS;
    return sent >= 0 && released ? 0 : -1;
}

// The socket, its task and its client stay as they are: only a new ti_socket_init ends them.
BSP_API int ti_socket_close(void) {
    return 0;
}

}  // extern "C"
