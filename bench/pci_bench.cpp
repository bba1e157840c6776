// PCI channel throughput through the simulated window, the far side acknowledging at once,
// next to a plain memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <bsp_ctrl/pcidev.h>
#include <bsp_sim/sim.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

void wait_far_side(size_t taken) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (bsp::sim::pci_taken_count() < taken && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
    }
}

void BM_PciSend(benchmark::State &state) {
    bsp::sim::reset_unit();
    init_pci();
    enable_pci();
    pci_open(1);
    std::vector<UINT8> msg(static_cast<size_t>(state.range(0)), 0x5A);
    int64_t sent = 0;
    for (auto _ : state) {
        if (pci_send(msg.data(), static_cast<UINT32>(msg.size()), 1) != 0) {
            state.SkipWithError("pci_send refused");
            break;
        }
        ++sent;
    }
    wait_far_side(static_cast<size_t>(sent));  // every message has crossed the window
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * state.range(0));
    pci_close();
    bsp::sim::pci_wait_idle();
}

void BM_Memcpy(benchmark::State &state) {
    std::vector<uint8_t> src(static_cast<size_t>(state.range(0)), 0x5A);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_PciSend)->Arg(16)->Arg(1536)->UseRealTime();
BENCHMARK(BM_Memcpy)->Arg(16)->Arg(1536);

}  // namespace

int main(int argc, char **argv) {
    bsp::sim::require_interposition();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bsp::sim::reset_unit();
    return 0;
}
