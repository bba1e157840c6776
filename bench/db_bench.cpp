// Costs of the object database: cursor searches, puts in three key orders, and a whole
// DbObjOpen/DbObjWrite/DbObjClose cycle next to the raw store write it wraps.
#include <benchmark/benchmark.h>
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/db_dev.h>
#include <bsp_sim/sim.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Key = std::array<UINT8, 4>;

constexpr size_t kRegionSize = 4 * 1024 * 1024;

// One region below 4 GiB for the whole run.
UINT32 region() {
    static void *base = [] {
        bsp::sim::reset_unit();
        return bsp::sim::map_low_region(kRegionSize);
    }();
    return static_cast<UINT32>(reinterpret_cast<uintptr_t>(base));
}

// Keys whose byte-wise order is the order of `i`.
Key key_at(uint32_t i) {
    return {static_cast<UINT8>(i >> 24), static_cast<UINT8>(i >> 16), static_cast<UINT8>(i >> 8),
            static_cast<UINT8>(i)};
}

UINT32 fresh_store() {
    UINT32 id = 0;
    st_reinit(&id, region(), kRegionSize);
    return id;
}

UINT32 store_of(int64_t n) {
    UINT32 id = fresh_store();
    for (uint32_t i = 0; i < static_cast<uint32_t>(n); ++i) {
        Key k = key_at(2 * i);  // gaps keep room for misses
        st_put_obj(id, k.data(), &i, sizeof i);
    }
    return id;
}

// A read of the same key again and again: the cursor already stands on it.
void BM_GetSameKey(benchmark::State &state) {
    UINT32 id = store_of(state.range(0));
    Key k = key_at(2 * static_cast<uint32_t>(state.range(0) / 2));
    uint32_t v = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(st_get_obj(id, k.data(), &v, sizeof v));
    }
}
BENCHMARK(BM_GetSameKey)->Arg(100)->Arg(1000)->Arg(10000);

// Reads walking the keys in order: each one step from the last.
void BM_GetNextKey(benchmark::State &state) {
    uint32_t n = static_cast<uint32_t>(state.range(0));
    UINT32 id = store_of(n);
    uint32_t i = 0;
    uint32_t v = 0;
    for (auto _ : state) {
        Key k = key_at(2 * i);
        benchmark::DoNotOptimize(st_get_obj(id, k.data(), &v, sizeof v));
        i = i + 1 < n ? i + 1 : 0;
    }
}
BENCHMARK(BM_GetNextKey)->Arg(100)->Arg(1000)->Arg(10000);

enum Order { kAscending, kDescending, kRandom };

// Fills an empty store with range(0) objects in the order range(1); reports time per put.
void BM_Put(benchmark::State &state) {
    uint32_t n = static_cast<uint32_t>(state.range(0));
    std::vector<uint32_t> order(n);
    for (uint32_t i = 0; i < n; ++i) {
        order[i] = state.range(1) == kDescending ? n - 1 - i : i;
    }
    if (state.range(1) == kRandom) {
        std::shuffle(order.begin(), order.end(), std::mt19937(42));
    }
    for (auto _ : state) {
        state.PauseTiming();
        UINT32 id = fresh_store();
        state.ResumeTiming();
        for (uint32_t i : order) {
            Key k = key_at(i);
            benchmark::DoNotOptimize(st_put_obj(id, k.data(), &i, sizeof i));
        }
    }
    state.counters["per_put"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
BENCHMARK(BM_Put)
    ->ArgNames({"n", "order"})
    ->ArgsProduct({{1000, 10000}, {kAscending, kDescending, kRandom}})
    ->Unit(benchmark::kMicrosecond);

// The raw store write of a 64-byte object.
void BM_StoreSet64(benchmark::State &state) {
    UINT32 id = store_of(1000);
    Key k = key_at(500);
    std::array<UINT8, 64> data{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(st_set_obj(id, k.data(), data.data(), 64));
    }
}
BENCHMARK(BM_StoreSet64);

// The same write through the database API, uncontended: open ("r+", or "w" which also
// empties the object), write, close.
void BM_DbOpenWriteClose64(benchmark::State &state) {
    store_of(1000);
    DbCreate(0, region(), kRegionSize);
    char name[] = "config";
    char mode_w[] = "w";
    char mode_rw[] = "r+";
    char *mode = state.range(0) ? mode_w : mode_rw;
    UINT32 obj = 0;
    DbObjOpen(0, &obj, name, mode_w);
    DbObjClose(obj);
    std::array<UINT8, 64> data{};
    for (auto _ : state) {
        DbObjOpen(0, &obj, name, mode);
        DbObjWrite(obj, data.data(), 64);
        DbObjClose(obj);
    }
    DbDelete(0);
}
BENCHMARK(BM_DbOpenWriteClose64)->ArgName("mode_w")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
