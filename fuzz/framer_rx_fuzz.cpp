// The serial framer's receive state machine with arbitrary byte streams written by the far
// end of the line, broken by arbitrary pauses that let the byte time-out fire.
//
// Input: chunks of [length byte][bytes][pause byte]; the pause (in 10 ms steps) moves the
// manual clock, which runs the time-out in the timer thread while the task reads.
#include <bsp_ctrl/framer_api.h>
#include <bsp_sim/sim.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "fuzz_support.h"

namespace {

void take_message(UINT8 *msg) {
    std::free(msg);
}

// Waits (briefly) until the receive task has read everything sent so far.
void let_task_read(uint64_t sent) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (bsp::sim::serial_bytes_read() < sent && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::fresh_unit();
    if (FramerCreate(0) != 0 || FramerOpen(take_message, 115200) != 0) {
        std::abort();
    }
    bsp::fuzz::Input in(data, size);
    uint64_t sent = 0;
    while (!in.empty()) {
        std::vector<uint8_t> chunk(in.byte());
        chunk.resize(in.take(chunk.data(), chunk.size()));
        if (!chunk.empty() && bsp::sim::serial_peer_write(chunk)) {
            sent += chunk.size();
        }
        let_task_read(sent);
        bsp::sim::advance_clock_ms(uint64_t{in.byte()} * 10);
    }
    FramerClose();
    FramerDelete();
    bsp::sim::join_tasks(std::chrono::seconds(5));
    return 0;
}
