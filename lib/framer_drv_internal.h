// Internal to the serial framer driver: the control block and the pieces shared by its
// files (framer_drv.cpp: operations; framer_drv_port.cpp: the port; framer_drv_rx.cpp: the
// receive task, state machine and byte time-out).
//
// Locks, always taken in this order:
// - lifecycle_lock(): exclusive while a control block is created or retired, shared by the
//   other operations for their whole run, so a block never goes away under an operation;
// - port_lock(): fd_tty changes only under it held exclusively; reads and writes on the
//   port hold it shared; settings changes and closing hold it exclusively;
// - state_mutex(): the current block pointer, framer_status, framer_rx_callback, the receive
//   state and the task bookkeeping. Held briefly, never across I/O or a callback (the byte
//   time-out routine takes it in the timer context).
#ifndef BSP_LIB_FRAMER_DRV_INTERNAL_H
#define BSP_LIB_FRAMER_DRV_INTERNAL_H

#include <termios.h>

#include <mutex>
#include <shared_mutex>

#include <bsp_ctrl/framer_drv.h>

namespace bsp::framer {

constexpr UINT32 kMaxMsgLen = 588;
constexpr UINT32 kFrameOverhead = 12;  // start marker, length, stop marker
constexpr UINT32 kMaxFrameLen = kMaxMsgLen + kFrameOverhead;
constexpr const char *kPortPath = "/dev/ttyS0";

enum FRAMER_RX_STATE : UINT32 {
    FRAMER_RX_PRE_SYNC_STATE = 1,
    FRAMER_RX_SYNC_STATE = 2,
    FRAMER_RX_HUNT_STATE = 3,
    FRAMER_RX_END_STATE = 4,
};

enum FRAMER_RX_PRE_SYNC_SUBSTATE : UINT32 {
    FRAMER_RX_1ST_PRE_SYNC_SUBSTATE = 1,
    FRAMER_RX_2ND_PRE_SYNC_SUBSTATE = 2,
    FRAMER_RX_3RD_PRE_SYNC_SUBSTATE = 3,
    FRAMER_RX_4TH_PRE_SYNC_SUBSTATE = 4,
    FRAMER_RX_1_CR_TO_CLI = 5,
};

// The framer control block, allocated zero-filled by Framer_Drv_Initialize.
struct FRAMER_struct {
    UINT32 framer_id;
    UINT32 framer_status;
    UINT32 framer_tcf_msg_len;
    int fd_tty;
    int baud_rate;
    UINT32 framer_timer_id;
    UINT8 *framer_tcf_frame;
    struct termios oldkey;
    struct termios newkey;
    UINT32 framer_rx_state;
    UINT32 framer_rx_pre_sync_substate;
    NU_SEMAPHORE framer_sem;
    NU_TASK framer_task_cb;
    OS_TASK_ENTRY framer_rx_handler;
    FRAMER_RX_CALLBACK framer_rx_callback;
    // Bookkeeping beyond the record: the receive task's wake descriptor, whether the task
    // runs, and whether a newer block has replaced this one.
    int wake_fd;
    bool task_running;
    bool retired;
    bool sem_created;
};
using FRAMER = FRAMER_struct;

std::shared_mutex &lifecycle_lock();
std::shared_mutex &port_lock();
std::mutex &state_mutex();

// The current control block (under state_mutex()).
FRAMER *&current_framer();
// The current block read under state_mutex().
FRAMER *current();

// Port (framer_drv_port.cpp).
bool port_open(FRAMER *f);
// Reads the settings into oldkey, applies newkey at `rate` (fall-back 9600), discards
// input; false when the port is closed.
bool port_apply_settings(FRAMER *f, UINT32 rate);
// Closes the port once: discards input, applies newkey again, closes and wakes the receive
// task. False when it was already closed. `rate` receives the rate in effect.
bool port_close(FRAMER *f, int *rate);
// Closes the port without the console settings (a block being retired).
void port_discard(FRAMER *f);
// Closes the wake descriptor once no receive task can wait on it any more (its task has
// ended or never started).
void port_release_wake(FRAMER *f);
// The hand-over to the login console (from FramerClose and from the receive task).
void FramerEnableCLI(FRAMER *f);

// Receive side (framer_drv_rx.cpp).
void framer_hisr_rx_handler(UNSIGNED argc, void *argv);
void framer_timer_entry(UINT32 timer_id);
// Hands a new block to the receive task about to be started: start_task_handshake before
// the task is created, then wait_task_started (returns once the task holds the block), or
// cancel_task_handshake when the task could not be created.
void start_task_handshake(FRAMER *f);
void wait_task_started();
void cancel_task_handshake();
// Forgets a partly received frame (a new framer starts clean).
void rx_reset();
// Releases a block whose task has ended (under lifecycle exclusive or from its own task).
void free_block(FRAMER *f);

}  // namespace bsp::framer

#endif
