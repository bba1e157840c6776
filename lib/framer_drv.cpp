// The serial framer driver: the request entry and its seven operations.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "common/be_pack.h"
#include "framer_drv_internal.h"

// Exported through their declarations in framer_drv.h, which give them external linkage.
extern "C" {
const UINT8 START_BYTE1 = 0x5A;
const UINT8 START_BYTE2 = 0xA5;
const UINT8 START_BYTE3 = 0xC3;
const UINT8 START_BYTE4 = 0x3C;
const UINT8 STOP_BYTE1 = 0xA5;
const UINT8 STOP_BYTE2 = 0x5A;
const UINT8 STOP_BYTE3 = 0x3C;
const UINT8 STOP_BYTE4 = 0xC3;
const UINT32 STOP_WORD = 0xA55A3CC3;
}

namespace bsp::framer {

namespace {

using Operation = void (*)(FRAMER_DRV_REQUEST *);

struct OperationEntry {
    int code;
    Operation run;
};

constexpr OperationEntry kOperations[] = {
    {FRAMER_REQ_INITIALIZE, Framer_Drv_Initialize}, {FRAMER_REQ_ASSIGN, Framer_Drv_Assign},
    {FRAMER_REQ_RELEASE, Framer_Drv_Release},       {FRAMER_REQ_INPUT, Framer_Drv_Input},
    {FRAMER_REQ_OUTPUT, Framer_Drv_Output},         {FRAMER_REQ_STATUS, Framer_Drv_Status},
    {FRAMER_REQ_TERMINATE, Framer_Drv_Terminate},
};

// The current block when it has been initialised, else null (under state_mutex()).
FRAMER *initialised() {
    std::lock_guard lock(state_mutex());
    FRAMER *f = current_framer();
    return f != nullptr && f->framer_status != FRAMER_DRV_UNINITIALIZED ? f : nullptr;
}

// Replaces the current block with `f`. The old block's port is closed so that a single
// receive task reads the port; the block itself goes once its task has ended.
void install_block(FRAMER *f) {
    FRAMER *old = nullptr;
    {
        std::lock_guard lock(state_mutex());
        old = current_framer();
        current_framer() = f;
    }
    rx_reset();
    if (old == nullptr) {
        return;
    }
    port_discard(old);
    std::lock_guard lock(state_mutex());
    if (old->task_running) {
        old->retired = true;  // its task frees it on the way out
    } else {
        free_block(old);
    }
}

// Undoes a half-made framer; its task, if any, has not been started.
void abandon_block(FRAMER *f) {
    port_discard(f);
    port_release_wake(f);
    if (f->sem_created) {
        OS_Delete_Semaphore(&f->framer_sem);
        f->sem_created = false;
    }
}

// Creates the semaphore, the port and the task of `f`; false at the first failure.
bool create_resources(FRAMER *f) {
    if (OS_Create_Semaphore(&f->framer_sem, const_cast<CHAR *>("t_framer"), 1, NU_PRIORITY) !=
        NU_SUCCESS) {
        return false;
    }
    f->sem_created = true;
    if (!port_open(f)) {
        return false;
    }
    start_task_handshake(f);
    if (OS_Create_Task(&f->framer_task_cb, const_cast<CHAR *>("FRAMER"), f->framer_rx_handler, 0,
                       nullptr) != NU_SUCCESS) {
        cancel_task_handshake();
        return false;
    }
    wait_task_started();
    return true;
}

void write_byte(int fd, UINT8 b) {
    [[maybe_unused]] ssize_t n = ::write(fd, &b, 1);
}

// The frame, one byte per write: start marker, length (most significant first), message,
// stop marker.
void write_frame(int fd, const UINT8 *msg, UINT32 len) {
    const UINT8 start[4] = {START_BYTE1, START_BYTE2, START_BYTE3, START_BYTE4};
    const UINT8 stop[4] = {STOP_BYTE1, STOP_BYTE2, STOP_BYTE3, STOP_BYTE4};
    UINT8 length[4];
    put_be32(length, len + kFrameOverhead);
    for (UINT8 b : start) {
        write_byte(fd, b);
    }
    for (UINT8 b : length) {
        write_byte(fd, b);
    }
    for (UINT32 i = 0; i < len; ++i) {
        write_byte(fd, msg[i]);
    }
    for (UINT8 b : stop) {
        write_byte(fd, b);
    }
    tcdrain(fd);
}

// Sends under the port lock so the port cannot close in the middle; false when closed.
bool send_frame(FRAMER *f, const UINT8 *msg, UINT32 len) {
    std::shared_lock port(port_lock());
    if (f->fd_tty < 0) {
        return false;
    }
    write_frame(f->fd_tty, msg, len);
    return true;
}

void fail(FRAMER_DRV_REQUEST *request) {
    request->framer_error = 1;
}

}  // namespace

}  // namespace bsp::framer

using namespace bsp::framer;

extern "C" {

BSP_API void Framer_Drv_Entry(NU_DRIVER_REQUEST *request) {
    if (request == nullptr || request->nu_supplemental_ptr == nullptr) {
        return;
    }
    auto *framer_request = static_cast<FRAMER_DRV_REQUEST *>(request->nu_supplemental_ptr);
    for (const OperationEntry &op : kOperations) {
        if (op.code == request->nu_function) {
            op.run(framer_request);
            return;
        }
    }
}

BSP_API void Framer_Drv_Initialize(FRAMER_DRV_REQUEST *request) {
    std::unique_lock life(lifecycle_lock());
    auto *f = static_cast<FRAMER *>(std::calloc(1, sizeof(FRAMER)));
    if (f == nullptr) {
        fail(request);
        return;
    }
    f->fd_tty = -1;
    f->wake_fd = -1;
    install_block(f);
    f->framer_id = request->framer_request_info.framer_initialize.port_type;
    if (f->framer_id != 0) {
        return;
    }
    f->framer_rx_handler = framer_hisr_rx_handler;
    // The byte time-out timer comes first: without it a frame cut short would hold the
    // receiver forever. A timer cannot be deleted; when a later step fails it stays
    // disabled and its routine ignores it (it names no framer's timer).
    UINT32 timer_id = 0;
    if (TimerCreate(0, &timer_id, framer_timer_entry, 0, 1000, 1000, 0) != NU_SUCCESS ||
        !create_resources(f)) {
        abandon_block(f);
        fail(request);
        return;
    }
    std::lock_guard lock(state_mutex());
    f->framer_timer_id = timer_id;
    f->framer_status = FRAMER_DRV_READY;
    request->framer_error = 0;
}

BSP_API void Framer_Drv_Assign(FRAMER_DRV_REQUEST *request) {
    std::shared_lock life(lifecycle_lock());
    FRAMER *f = initialised();
    const FRAMER_DRV_ASSIGN &args = request->framer_request_info.framer_assign;
    if (f == nullptr || !port_apply_settings(f, args.baudrate)) {
        fail(request);
        return;
    }
    std::lock_guard lock(state_mutex());
    f->framer_rx_state = FRAMER_RX_PRE_SYNC_STATE;
    f->framer_rx_pre_sync_substate = FRAMER_RX_1ST_PRE_SYNC_SUBSTATE;
    f->framer_rx_callback = args.rx_callback;
    f->framer_status = FRAMER_DRV_ASSIGNED;
    request->framer_error = 0;
}

BSP_API void Framer_Drv_Release(FRAMER_DRV_REQUEST *request) {
    std::shared_lock life(lifecycle_lock());
    FRAMER *f = initialised();
    if (f == nullptr) {
        fail(request);
        return;
    }
    FramerEnableCLI(f);
    request->framer_error = 0;
}

BSP_API void Framer_Drv_Input(FRAMER_DRV_REQUEST *request) {
    std::shared_lock life(lifecycle_lock());
    FRAMER *f = initialised();
    if (f == nullptr ||
        !port_apply_settings(f, request->framer_request_info.framer_input.baudrate)) {
        fail(request);
        return;
    }
    request->framer_error = 0;
}

BSP_API void Framer_Drv_Output(FRAMER_DRV_REQUEST *request) {
    std::shared_lock life(lifecycle_lock());
    const FRAMER_DRV_OUTPUT &args = request->framer_request_info.framer_output;
    FRAMER *f = nullptr;
    {
        std::lock_guard lock(state_mutex());
        f = current_framer();
        if (f == nullptr || f->framer_status != FRAMER_DRV_ASSIGNED) {
            f = nullptr;
        }
    }
    if (f == nullptr || args.tcf_frame == nullptr || args.tcf_msg_len == 0 ||
        args.tcf_msg_len > kMaxMsgLen) {
        fail(request);
        return;
    }
    if (OS_Obtain_Semaphore(&f->framer_sem, NU_SUSPEND) != NU_SUCCESS) {
        fail(request);
        return;
    }
    f->framer_tcf_frame = args.tcf_frame;
    f->framer_tcf_msg_len = args.tcf_msg_len;
    bool sent = send_frame(f, args.tcf_frame, args.tcf_msg_len);
    bool released = OS_Release_Semaphore(&f->framer_sem) == NU_SUCCESS;
    request->framer_error = sent && released ? 0 : 1;
}

BSP_API void Framer_Drv_Status(FRAMER_DRV_REQUEST *) {}

BSP_API void Framer_Drv_Terminate(FRAMER_DRV_REQUEST *request) {
    std::shared_lock life(lifecycle_lock());
    FRAMER *f = initialised();
    if (f == nullptr || OS_Delete_Semaphore(&f->framer_sem) != NU_SUCCESS) {
        fail(request);
        return;
    }
    std::lock_guard lock(state_mutex());
    f->sem_created = false;
    f->framer_status = FRAMER_DRV_UNINITIALIZED;
    request->framer_error = 0;
}

}  // extern "C"
