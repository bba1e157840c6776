// Internal to the TCP frame socket: the control block and the pieces shared by
// ti_socket_drv.cpp (the API) and ti_socket_drv_rx.cpp (the receive task).
//
// Locks: lifecycle_lock() is held exclusively while a control block is replaced and shared
// by the other calls for their whole run. state_mutex() guards new_socket, socket_status,
// the listening socket once the task runs, the callback and the task bookkeeping; a send
// holds it so the task cannot close the client's socket in the middle of one.
#ifndef BSP_LIB_TI_SOCKET_DRV_INTERNAL_H
#define BSP_LIB_TI_SOCKET_DRV_INTERNAL_H

#include <bsp_ctrl/platform/bsp_os.h>

#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#include <bsp_ctrl/ti_socket_drv.h>

namespace bsp::tisock {

constexpr UINT32 kFrameLen = 600;
constexpr UINT32 kMaxMsgLen = 588;
constexpr size_t kHeadLen = 8;  // start marker and length
constexpr size_t kStopOffset = 596;
constexpr size_t kReceiveBufferLen = 1000;

enum : int { SOCKET_DISCONNECTED = 0, SOCKET_CONNECTED = 1 };

// The socket control block, allocated zero-filled by ti_socket_init.
struct FRAMER_struct {
    UINT32 framer_id;  // TCP port
    UINT32 framer_status;
    UINT32 framer_tcf_msg_len;
    int socket;      // listening socket
    int new_socket;  // connected client
    int socket_status;
    UINT32 framer_timer_id;
    char *framer_tcf_frame;
    NU_SEMAPHORE framer_sem;
    NU_TASK framer_task_cb;
    OS_TASK_ENTRY framer_rx_handler;
    TI_SOCKET_RX_CALLBACK framer_rx_callback;
    // Bookkeeping beyond the record.
    int wake_fd;       // wakes the receive task
    UINT8 *rx_buffer;  // made by the opener, taken over by the task it starts
    bool sem_created;
    bool task_running;
    bool closing;  // the task is to end
    bool retired;  // replaced by a newer block; its task frees it on the way out
};
using FRAMER = FRAMER_struct;

std::shared_mutex &lifecycle_lock();
std::mutex &state_mutex();
std::condition_variable &task_cv();  // signalled when a task starts or ends
FRAMER *&current_socket();           // under state_mutex()

void framer_hisr_rx_handler(UNSIGNED argc, void *argv);

// Hands a block to the task being started (see the serial framer's handshake).
void start_task_handshake(FRAMER *f);
void wait_task_started();
void cancel_task_handshake();

// Releases a block whose task has ended (under state_mutex()).
void free_block(FRAMER *f);

// Marks the calling thread as the task of `f`, so that a close from its callback does not
// wait for the task itself.
void set_own_block(FRAMER *f);

}  // namespace bsp::tisock

#endif
