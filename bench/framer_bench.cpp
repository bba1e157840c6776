// Serial framer throughput over the simulated port's pseudo-terminal: frames sent by
// FramerWrite and read by the far end, and frames sent by the far end and handed to the
// receive callback, for the smallest and the largest message.
#include <benchmark/benchmark.h>
#include <bsp_ctrl/framer_api.h>
#include <bsp_sim/sim.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Delivered {
    std::mutex mutex;
    std::condition_variable cv;
    int64_t count = 0;
};

Delivered &delivered() {
    static Delivered d;
    return d;
}

void on_message(UINT8 *msg) {
    std::free(msg);
    std::lock_guard lock(delivered().mutex);
    ++delivered().count;
    delivered().cv.notify_all();
}

bool start_framer() {
    bsp::sim::reset_unit();
    return FramerCreate(0) == 0 && FramerOpen(on_message, 115200) == 0;
}

void stop_framer() {
    FramerClose();
    FramerDelete();
    bsp::sim::join_tasks(10s);
}

std::vector<uint8_t> frame_of(const std::vector<uint8_t> &msg) {
    uint32_t length = static_cast<uint32_t>(msg.size() + 12);
    std::vector<uint8_t> f(length, 0);
    const uint8_t head[8] = {0x5A,
                             0xA5,
                             0xC3,
                             0x3C,
                             0,
                             0,
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length)};
    const uint8_t stop[4] = {0xA5, 0x5A, 0x3C, 0xC3};
    std::copy(head, head + 8, f.begin());
    std::copy(msg.begin(), msg.end(), f.begin() + 8);
    std::copy(stop, stop + 4, f.end() - 4);
    return f;
}

void BM_FramerWrite(benchmark::State &state) {
    if (!start_framer()) {
        state.SkipWithError("framer did not open");
        return;
    }
    std::vector<uint8_t> msg(static_cast<size_t>(state.range(0)), 0x41);
    size_t frame_size = msg.size() + 12;
    int64_t frames = 0;
    for (auto _ : state) {
        if (FramerWrite(msg.data(), static_cast<UINT32>(msg.size())) != 0 ||
            bsp::sim::serial_peer_read(frame_size, 10s).size() != frame_size) {
            state.SkipWithError("frame lost");
            break;
        }
        ++frames;
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * state.range(0));
    stop_framer();
}

void BM_FramerReceive(benchmark::State &state) {
    if (!start_framer()) {
        state.SkipWithError("framer did not open");
        return;
    }
    std::vector<uint8_t> frame =
        frame_of(std::vector<uint8_t>(static_cast<size_t>(state.range(0)), 0x41));
    int64_t frames = 0;
    {
        std::lock_guard lock(delivered().mutex);
        delivered().count = 0;
    }
    for (auto _ : state) {
        bsp::sim::serial_peer_write(frame);
        ++frames;
        std::unique_lock lock(delivered().mutex);
        if (!delivered().cv.wait_for(lock, 10s, [frames] { return delivered().count >= frames; })) {
            state.SkipWithError("frame lost");
            break;
        }
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * state.range(0));
    stop_framer();
}

BENCHMARK(BM_FramerWrite)->Arg(1)->Arg(588)->UseRealTime();
BENCHMARK(BM_FramerReceive)->Arg(1)->Arg(588)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    bsp::sim::require_interposition();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
