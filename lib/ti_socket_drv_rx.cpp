// The TCP frame socket's receive task "TISOCK": accepts one client at a time and passes each
// block the client sends, without its 8-byte head, to the receive callback. It waits in
// poll together with a wake descriptor so that a new ti_socket_init can end it, and pauses after
// a failed accept or receive so that a persistent error does not spin.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/task_handover.h"
#include "common/wake_fd.h"
#include "ti_socket_drv_internal.h"

namespace bsp::tisock {

namespace {

constexpr int kErrorPauseMs = 100;

TaskHandover<FRAMER> handover{state_mutex, task_cv};

// Pauses after an error; false when the task is to end.
bool pause_after_error(FRAMER *f) {
    return wait_readable(-1, f->wake_fd, kErrorPauseMs) != WaitResult::Woken;
}

bool accept_client(FRAMER *f, int listening) {
    if (wait_readable(listening, f->wake_fd, -1) == WaitResult::Woken) {
        return false;
    }
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    int client = ::accept(listening, reinterpret_cast<sockaddr *>(&address), &length);
    if (client < 0) {
        std::perror("ERROR on accept");
        return pause_after_error(f);
    }
    std::lock_guard lock(state_mutex());
    f->new_socket = client;
    f->socket_status = SOCKET_CONNECTED;
    return true;
}

void disconnect_locked(FRAMER *f) {
    if (f->new_socket >= 0) {
        ::close(f->new_socket);
    }
    f->new_socket = -1;
    f->socket_status = SOCKET_DISCONNECTED;
}

void deliver(FRAMER *f, const UINT8 *block, size_t size) {
    auto *msg = static_cast<UINT8 *>(std::calloc(kFrameLen, 1));
    if (msg == nullptr) {
        return;
    }
    std::memcpy(msg, block + kHeadLen, size - kHeadLen);
    TI_SOCKET_RX_CALLBACK callback = nullptr;
    {
        std::lock_guard lock(state_mutex());
        callback = f->framer_rx_callback;
    }
    if (callback != nullptr) {
        callback(msg);
    } else {
        std::free(msg);
    }
}

// One block from the client. A block shorter than the frame head carries no message.
bool receive_block(FRAMER *f, int client, UINT8 *buffer) {
    if (wait_readable(client, f->wake_fd, -1) == WaitResult::Woken) {
        return false;
    }
    ssize_t n = ::recv(client, buffer, kFrameLen, 0);
    if (n == 0) {
        std::lock_guard lock(state_mutex());
        disconnect_locked(f);
        return true;
    }
    if (n < 0) {
        return pause_after_error(f);
    }
    if (static_cast<size_t>(n) >= kHeadLen) {
        deliver(f, buffer, static_cast<size_t>(n));
    }
    return true;
}

// One pass of the loop; false when the task is to end.
bool serve(FRAMER *f, UINT8 *buffer) {
    int listening = -1;
    int client = -1;
    {
        std::lock_guard lock(state_mutex());
        if (f->closing) {
            return false;
        }
        listening = f->socket;
        client = f->socket_status == SOCKET_CONNECTED ? f->new_socket : -1;
    }
    return client < 0 ? accept_client(f, listening) : receive_block(f, client, buffer);
}

FRAMER *take_started_block(UINT8 **buffer) {
    std::lock_guard lock(state_mutex());
    FRAMER *f = handover.take_locked();
    *buffer = f->rx_buffer;
    f->rx_buffer = nullptr;
    f->task_running = true;
    set_own_block(f);
    return f;
}

// The task's sockets go with it: the client's always, the listening one when the task was
// told to end (a new ti_socket_init waits for this); its wake descriptor always.
void task_finished(FRAMER *f) {
    std::lock_guard lock(state_mutex());
    disconnect_locked(f);
    if (f->closing && f->socket >= 0) {
        ::close(f->socket);
        f->socket = -1;
    }
    wake_fd_close(&f->wake_fd);
    f->task_running = false;
    task_cv().notify_all();
    if (f->retired) {
        free_block(f);
    }
}

}  // namespace

void start_task_handshake(FRAMER *f) {
    handover.post(f);
}

void wait_task_started() {
    handover.wait_taken();
}

void cancel_task_handshake() {
    handover.cancel();
}

void framer_hisr_rx_handler(UNSIGNED, void *) {
    UINT8 *buffer = nullptr;
    FRAMER *self = take_started_block(&buffer);
    while (serve(self, buffer)) {
    }
    std::free(buffer);
    task_finished(self);
}

}  // namespace bsp::tisock
