// The HDLC channel service with channel 0 and its far end.
#include <bsp_ctrl/platform/bsp_board.h>

#include <algorithm>
#include <array>
#include <deque>
#include <mutex>

#include "bsp_sim/fault_plan.h"
#include "bsp_sim/hdlc.h"
#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

struct Channel {
    std::mutex mutex;
    bool open = false;
    hdlc_reconf_op enable = nullptr;
    hdlc_reconf_op disable = nullptr;
    hdlc_rx_handler handler = nullptr;
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> sent;
    std::deque<std::vector<uint8_t>> rx;
    std::array<unsigned, 4> failures{};
};

Channel &channel() {
    return immortal<Channel>();
}

void reset_channel() {
    Channel &c = channel();
    std::lock_guard lock(c.mutex);
    c.open = false;
    c.enable = c.disable = nullptr;
    c.handler = nullptr;
    c.calls.clear();
    c.sent.clear();
    c.rx.clear();
    c.failures.fill(0);
}

const ResetHook reset_hook{reset_channel};

// Counts down an injected failure of `op`; call with the lock held.
bool fails(Channel &c, HdlcOp op) {
    unsigned &left = c.failures[static_cast<size_t>(op)];
    if (left == 0) {
        return false;
    }
    --left;
    return true;
}

}  // namespace

std::vector<std::string> hdlc_calls() {
    std::lock_guard lock(channel().mutex);
    return channel().calls;
}

void hdlc_clear_calls() {
    std::lock_guard lock(channel().mutex);
    channel().calls.clear();
}

bool hdlc_is_open() {
    std::lock_guard lock(channel().mutex);
    return channel().open;
}

std::vector<std::vector<uint8_t>> hdlc_sent_frames() {
    std::lock_guard lock(channel().mutex);
    return channel().sent;
}

void hdlc_queue_rx(const std::vector<uint8_t> &frame) {
    if (fault_plan_hit(BusFault::HdlcDrop)) {
        return;  // lost on the line: the service never sees it
    }
    std::lock_guard lock(channel().mutex);
    channel().rx.push_back(frame);
}

bool hdlc_deliver() {
    hdlc_rx_handler handler;
    {
        std::lock_guard lock(channel().mutex);
        handler = channel().handler;
    }
    if (handler == nullptr) {
        return false;
    }
    handler(0);
    return true;
}

bool hdlc_receive(const std::vector<uint8_t> &frame) {
    hdlc_queue_rx(frame);
    return hdlc_deliver();
}

size_t hdlc_rx_pending() {
    std::lock_guard lock(channel().mutex);
    return channel().rx.size();
}

int hdlc_call_enable() {
    hdlc_reconf_op op;
    {
        std::lock_guard lock(channel().mutex);
        op = channel().enable;
    }
    return op ? op() : -1;
}

int hdlc_call_disable() {
    hdlc_reconf_op op;
    {
        std::lock_guard lock(channel().mutex);
        op = channel().disable;
    }
    return op ? op() : -1;
}

void hdlc_fail(HdlcOp op, unsigned count) {
    std::lock_guard lock(channel().mutex);
    channel().failures[static_cast<size_t>(op)] = count;
}

}  // namespace bsp::sim

using bsp::sim::channel;
using bsp::sim::HdlcOp;

extern "C" {

int hdlc_set_reconf_ch_data(UINT32 ch, hdlc_reconf_op enable, hdlc_reconf_op disable) {
    if (ch != 0) {
        return -1;
    }
    std::lock_guard lock(channel().mutex);
    channel().enable = enable;
    channel().disable = disable;
    channel().calls.emplace_back("set_reconf");
    return 0;
}

int hdlc_open(UINT32 ch, UINT32 clock_mode, UINT32 baud_rate, UINT32 crc_type, UINT32 option1,
              UINT32 option2) {
    if (ch != 0) {
        return -1;
    }
    std::lock_guard lock(channel().mutex);
    channel().calls.push_back("open " + std::to_string(clock_mode) + " " +
                              std::to_string(baud_rate) + " " + std::to_string(crc_type) + " " +
                              std::to_string(option1) + " " + std::to_string(option2));
    if (bsp::sim::fails(channel(), HdlcOp::Open)) {
        return -1;
    }
    channel().open = true;
    return 0;
}

int hdlc_close(UINT32 ch) {
    if (ch != 0) {
        return -1;
    }
    std::lock_guard lock(channel().mutex);
    channel().calls.emplace_back("close");
    if (!channel().open || bsp::sim::fails(channel(), HdlcOp::Close)) {
        return -1;
    }
    channel().open = false;
    return 0;
}

int hdlc_install_rx_callback(UINT32 ch, hdlc_rx_handler handler) {
    if (ch != 0) {
        return -1;
    }
    std::lock_guard lock(channel().mutex);
    channel().handler = handler;
    channel().calls.emplace_back("install_rx");
    return 0;
}

int hdlc_data_ready(UINT32 ch) {
    std::lock_guard lock(channel().mutex);
    return ch == 0 && !channel().rx.empty() ? 1 : 0;
}

int hdlc_get_frame(UINT32 ch, UINT8 *buffer, UINT32 capacity, UINT32 *size) {
    std::lock_guard lock(channel().mutex);
    if (ch != 0 || channel().rx.empty()) {
        return -1;
    }
    std::vector<uint8_t> frame = std::move(channel().rx.front());
    channel().rx.pop_front();
    // A frame that does not fit is dropped rather than cut.
    if (buffer == nullptr || size == nullptr || frame.size() > capacity ||
        bsp::sim::fails(channel(), HdlcOp::Get)) {
        return -1;
    }
    std::copy(frame.begin(), frame.end(), buffer);
    *size = static_cast<UINT32>(frame.size());
    return 0;
}

int hdlc_put_frame(UINT32 ch, UINT8 *buffer, UINT32 size, UINT32 *taken) {
    if (ch != 0) {
        return -1;
    }
    std::lock_guard lock(channel().mutex);
    channel().calls.push_back("put " + std::to_string(size));
    if (taken != nullptr) {
        *taken = 0;
    }
    if (!channel().open || buffer == nullptr || bsp::sim::fails(channel(), HdlcOp::Put)) {
        return -1;
    }
    if (!bsp::sim::fault_plan_hit(bsp::sim::BusFault::HdlcOutDrop)) {
        channel().sent.emplace_back(buffer, buffer + size);  // else lost on the line
    }
    if (taken != nullptr) {
        *taken = size;
    }
    return 0;
}

}  // extern "C"
