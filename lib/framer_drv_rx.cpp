// The serial framer's receive side: the "FRAMER" task that reads the port one byte at a
// time, the receive state machine, and the byte time-out that brings a stalled reception
// back to hunting for a start marker. The task and the time-out share the receive state
// under state_mutex(); the callback, the allocation notice and the console hand-over run
// after it is released.
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>

#include "common/immortal.h"
#include "common/task_handover.h"
#include "common/wake_fd.h"
#include "framer_drv_internal.h"

namespace bsp::framer {

namespace {

constexpr UINT8 kCarriageReturn = 0x0D;

// Receive state kept between bytes.
struct RxState {
    UINT8 u8_framer_byte;
    UINT8 temp_len;         // length bytes read
    UINT32 temp_frame_len;  // length being assembled
    UINT32 tcf_frame_len;   // message bytes still expected
    UINT8 *Tcf_base;        // message buffer
    UINT8 *Tcf_buffer;      // next free place in it
    UINT8 num_stop_bytes;   // stop bytes read
    UINT32 stop_byte;       // stop word being assembled
};

RxState rx;  // under state_mutex()

// What the task does once the state is released.
struct RxAction {
    UINT8 *announce = nullptr;  // newly allocated buffer to report
    UINT8 *deliver = nullptr;   // finished message for `callback`
    FRAMER_RX_CALLBACK callback = nullptr;
    bool hand_over = false;
};

// Hand-over of a new block to the task being started.
std::condition_variable &handshake_cv() {
    return immortal<std::condition_variable, struct HandshakeTag>();
}
TaskHandover<FRAMER> handover{state_mutex, handshake_cv};

void hunt_start(FRAMER *f) {
    f->framer_rx_state = FRAMER_RX_PRE_SYNC_STATE;
    f->framer_rx_pre_sync_substate = FRAMER_RX_1ST_PRE_SYNC_SUBSTATE;
}

void drop_partial_frame() {
    std::free(rx.Tcf_base);
    rx.Tcf_base = rx.Tcf_buffer = nullptr;
    rx.tcf_frame_len = 0;
    rx.temp_len = 0;
    rx.temp_frame_len = 0;
    rx.num_stop_bytes = 0;
    rx.stop_byte = 0;
}

// Start marker bytes expected in substates 1ST..4TH.
constexpr UINT8 kStartMarker[4] = {0x5A, 0xA5, 0xC3, 0x3C};

void pre_sync(FRAMER *f, UINT8 b, RxAction *action) {
    UINT32 &sub = f->framer_rx_pre_sync_substate;
    switch (sub) {
        case FRAMER_RX_1ST_PRE_SYNC_SUBSTATE:
            if (b == kStartMarker[0]) {
                sub = FRAMER_RX_2ND_PRE_SYNC_SUBSTATE;
            } else if (b == kCarriageReturn) {
                sub = FRAMER_RX_1_CR_TO_CLI;
            }
            break;
        case FRAMER_RX_2ND_PRE_SYNC_SUBSTATE:
        case FRAMER_RX_3RD_PRE_SYNC_SUBSTATE:
            sub = b == kStartMarker[sub - 1] ? sub + 1 : FRAMER_RX_1ST_PRE_SYNC_SUBSTATE;
            break;
        case FRAMER_RX_4TH_PRE_SYNC_SUBSTATE:
            if (b == kStartMarker[3]) {
                f->framer_rx_state = FRAMER_RX_SYNC_STATE;
            }
            sub = FRAMER_RX_1ST_PRE_SYNC_SUBSTATE;
            break;
        case FRAMER_RX_1_CR_TO_CLI:
            if (b == kCarriageReturn) {
                action->hand_over = true;
            } else {
                sub = b == kStartMarker[0] ? FRAMER_RX_2ND_PRE_SYNC_SUBSTATE
                                           : FRAMER_RX_1ST_PRE_SYNC_SUBSTATE;
            }
            break;
        default:
            sub = FRAMER_RX_1ST_PRE_SYNC_SUBSTATE;
            break;
    }
}

// Length field: a frame shorter than its own head and tail (0..11) or longer than the
// largest frame sends the receiver back to hunting for a start marker.
void sync(FRAMER *f, UINT8 b, RxAction *action) {
    rx.temp_frame_len = (rx.temp_frame_len << 8) | b;
    if (++rx.temp_len < 4) {
        return;
    }
    UINT32 length = rx.temp_frame_len;
    rx.temp_len = 0;
    rx.temp_frame_len = 0;
    if (length < kFrameOverhead || length > kMaxFrameLen) {
        hunt_start(f);
        return;
    }
    auto *buffer = static_cast<UINT8 *>(std::calloc(kMaxMsgLen, 1));
    if (buffer == nullptr) {
        rx.tcf_frame_len = 0;
        hunt_start(f);
        return;
    }
    rx.tcf_frame_len = length - kFrameOverhead;
    rx.Tcf_base = rx.Tcf_buffer = buffer;
    action->announce = buffer;
    f->framer_rx_state = FRAMER_RX_HUNT_STATE;
}

// Message bytes. The byte is consumed even when none is expected any more, so a frame of
// length 12 spends its first stop byte here.
void hunt(FRAMER *f, UINT8 b) {
    if (rx.tcf_frame_len > 0) {
        *rx.Tcf_buffer++ = b;
        --rx.tcf_frame_len;
    }
    if (rx.tcf_frame_len == 0 && rx.Tcf_base != nullptr) {
        f->framer_rx_state = FRAMER_RX_END_STATE;
    }
}

void end(FRAMER *f, UINT8 b, RxAction *action) {
    rx.stop_byte = (rx.stop_byte << 8) | b;
    if (++rx.num_stop_bytes < 4) {
        return;
    }
    if (rx.stop_byte == STOP_WORD && f->framer_rx_callback != nullptr) {
        action->deliver = rx.Tcf_base;
        action->callback = f->framer_rx_callback;
    } else {
        std::free(rx.Tcf_base);
    }
    rx.Tcf_base = rx.Tcf_buffer = nullptr;
    rx.stop_byte = 0;
    rx.num_stop_bytes = 0;
    hunt_start(f);
}

RxAction feed(FRAMER *f, UINT8 b) {
    RxAction action;
    std::lock_guard lock(state_mutex());
    if (f != current_framer()) {
        return action;  // a replaced block's task only waits for its port to close
    }
    rx.u8_framer_byte = b;
    switch (f->framer_rx_state) {
        case FRAMER_RX_PRE_SYNC_STATE:
            pre_sync(f, b, &action);
            break;
        case FRAMER_RX_SYNC_STATE:
            sync(f, b, &action);
            break;
        case FRAMER_RX_HUNT_STATE:
            hunt(f, b);
            break;
        case FRAMER_RX_END_STATE:
            end(f, b, &action);
            break;
        default:
            break;  // not opened yet: bytes are ignored
    }
    return action;
}

void perform(FRAMER *f, const RxAction &action) {
    if (action.announce != nullptr) {
        std::printf("Allocated ti_req at 0x%p\n", static_cast<void *>(action.announce));
    }
    if (action.deliver != nullptr) {
        action.callback(action.deliver);
    }
    if (action.hand_over) {
        FramerEnableCLI(f);
    }
}

// One byte from the port: 1 when read, 0 or -1 when the port has closed or failed. The
// read happens under the port lock only once input is there, so it never blocks the close.
ssize_t read_byte(FRAMER *f, UINT8 *b) {
    for (;;) {
        int fd = -1;
        {
            std::shared_lock port(port_lock());
            fd = f->fd_tty;
        }
        if (fd < 0 || wait_readable(fd, f->wake_fd, -1) == WaitResult::Woken) {
            return -1;
        }
        std::shared_lock port(port_lock());
        if (f->fd_tty != fd) {
            return -1;
        }
        if (readable_now(fd)) {
            return ::read(fd, b, 1);
        }
    }
}

FRAMER *take_started_block() {
    std::lock_guard lock(state_mutex());
    FRAMER *f = handover.take_locked();
    f->task_running = true;
    return f;
}

UINT32 timer_of(FRAMER *f) {
    std::lock_guard lock(state_mutex());
    return f->framer_timer_id;
}

void task_finished(FRAMER *f) {
    TimerDisable(timer_of(f));
    port_release_wake(f);
    std::lock_guard lock(state_mutex());
    f->task_running = false;
    if (f->retired) {
        free_block(f);
    }
}

}  // namespace

void start_task_handshake(FRAMER *f) {
    handover.post(f);
}

void cancel_task_handshake() {
    handover.cancel();
}

void wait_task_started() {
    handover.wait_taken();
}

void rx_reset() {
    std::lock_guard lock(state_mutex());
    drop_partial_frame();
}

void free_block(FRAMER *f) {
    if (f->wake_fd >= 0) {
        ::close(f->wake_fd);
    }
    std::free(f);
}

// A read that returns no byte (failure, or end of input on a hung-up line) ends the task.
void framer_hisr_rx_handler(UNSIGNED, void *) {
    FRAMER *self = take_started_block();
    for (;;) {
        UINT8 b = 0;
        ssize_t n = read_byte(self, &b);
        TimerDisable(timer_of(self));
        if (n <= 0) {
            break;
        }
        perform(self, feed(self, b));
        TimerEnable(timer_of(self));
    }
    task_finished(self);
}

void framer_timer_entry(UINT32 timer_id) {
    TimerDisable(timer_id);
    std::lock_guard lock(state_mutex());
    FRAMER *f = current_framer();
    if (f == nullptr || f->framer_timer_id != timer_id) {
        return;
    }
    hunt_start(f);
    drop_partial_frame();
}

}  // namespace bsp::framer
