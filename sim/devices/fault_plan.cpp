// The seeded fault plan of the simulated buses.
#include "bsp_sim/fault_plan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>

#include "bsp_sim/unit.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

constexpr size_t kKinds = static_cast<size_t>(BusFault::Count);
constexpr std::chrono::microseconds kDefaultBusy{50000};

constexpr std::array<const char *, kKinds> kNames = {
    "eeprom-tear", "eeprom-busy",       "flash-tear",          "flash-erase-tear",
    "serial-drop", "serial-flip",       "doorbell-lost",       "doorbell-repeat",
    "hdlc-drop",   "doorbell-out-lost", "doorbell-out-repeat", "hdlc-out-drop",
};
static_assert(kNames.back() != nullptr, "every kind has a name");

struct Kind {
    std::mt19937_64 rng;
    double chance = 0;
    uint64_t events = 0;
    std::map<uint64_t, std::optional<uint32_t>> positions;  // event number -> position
};

struct Plan {
    std::mutex mutex;
    uint64_t seed = 0;
    std::array<Kind, kKinds> kinds;
    std::vector<FaultPlanEvent> log;
    std::chrono::microseconds busy = kDefaultBusy;
};

Plan &plan() {
    return immortal<Plan>();
}

// Spreads the seed over the kinds so that their generators are independent.
uint64_t kind_seed(uint64_t seed, size_t kind) {
    uint64_t z = seed + 0x9e3779b97f4a7c15ULL * (kind + 1);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void seed_locked(Plan &p, uint64_t seed) {
    p.seed = seed;
    for (size_t k = 0; k < kKinds; ++k) {
        p.kinds[k] = Kind{};
        p.kinds[k].rng.seed(kind_seed(seed, k));
    }
    p.log.clear();
    p.busy = kDefaultBusy;
}

Kind &kind_of(Plan &p, BusFault kind) {
    return p.kinds[static_cast<size_t>(kind) % kKinds];
}

void reset_plan() {
    std::lock_guard lock(plan().mutex);
    seed_locked(plan(), 0);
}

const ResetHook reset_hook{reset_plan, kCorePhase};

std::optional<uint64_t> parse_seed(const char *text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return static_cast<uint64_t>(v);
}

}  // namespace

const char *to_string(BusFault kind) {
    size_t k = static_cast<size_t>(kind);
    return k < kKinds ? kNames[k] : "?";
}

std::optional<BusFault> bus_fault_from_string(std::string_view name) {
    for (size_t k = 0; k < kKinds; ++k) {
        if (name == kNames[k]) {
            return static_cast<BusFault>(k);
        }
    }
    return std::nullopt;
}

std::string to_string(const FaultPlanEvent &e) {
    char text[96];
    std::snprintf(text, sizeof text, "%s #%" PRIu64 " at %" PRIu32, to_string(e.kind), e.event,
                  e.at);
    return text;
}

void fault_plan_seed(uint64_t seed) {
    std::lock_guard lock(plan().mutex);
    seed_locked(plan(), seed);
}

uint64_t fault_plan_current_seed() {
    std::lock_guard lock(plan().mutex);
    return plan().seed;
}

uint64_t fault_plan_seed_from_env() {
    std::optional<uint64_t> seed = parse_seed(std::getenv("BSP_FAULT_SEED"));
    if (!seed) {
        std::random_device rd;
        seed = uint64_t{rd()} << 32 | rd();
    }
    std::fprintf(stderr, "bsp_sim: fault plan seed 0x%016" PRIx64 "\n", *seed);
    fault_plan_seed(*seed);
    return *seed;
}

void fault_plan_chance(BusFault kind, double probability) {
    std::lock_guard lock(plan().mutex);
    kind_of(plan(), kind).chance = probability;
}

double fault_plan_chance(BusFault kind) {
    std::lock_guard lock(plan().mutex);
    return kind_of(plan(), kind).chance;
}

void fault_plan_at(BusFault kind, uint64_t nth, std::optional<uint32_t> at) {
    std::lock_guard lock(plan().mutex);
    kind_of(plan(), kind).positions[nth] = at;
}

std::vector<FaultPlanPosition> fault_plan_positions(BusFault kind) {
    std::lock_guard lock(plan().mutex);
    std::vector<FaultPlanPosition> out;
    for (const auto &[event, at] : kind_of(plan(), kind).positions) {
        out.push_back(FaultPlanPosition{event, at});
    }
    return out;
}

void fault_plan_busy_time(std::chrono::microseconds t) {
    std::lock_guard lock(plan().mutex);
    plan().busy = t;
}

std::chrono::microseconds fault_plan_busy_time() {
    std::lock_guard lock(plan().mutex);
    return plan().busy;
}

std::vector<FaultPlanEvent> fault_plan_log() {
    std::lock_guard lock(plan().mutex);
    return plan().log;
}

uint64_t fault_plan_events(BusFault kind) {
    std::lock_guard lock(plan().mutex);
    return kind_of(plan(), kind).events;
}

std::optional<uint32_t> fault_plan_hit(BusFault kind, uint32_t span) {
    std::lock_guard lock(plan().mutex);
    Plan &p = plan();
    Kind &k = kind_of(p, kind);
    span = span == 0 ? 1 : span;
    uint64_t event = ++k.events;
    // Every event draws once, hit or not, so that the sequence depends only on the count.
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(k.rng);
    auto fixed = k.positions.find(event);
    if (fixed == k.positions.end() && !(u < k.chance)) {
        return std::nullopt;
    }
    uint32_t at = std::uniform_int_distribution<uint32_t>(0, span - 1)(k.rng);
    if (fixed != k.positions.end() && fixed->second) {
        at = std::min(*fixed->second, span - 1);
    }
    p.log.push_back(FaultPlanEvent{kind, event, at});
    return at;
}

uint32_t fault_plan_draw(BusFault kind) {
    std::lock_guard lock(plan().mutex);
    return static_cast<uint32_t>(kind_of(plan(), kind).rng());
}

}  // namespace bsp::sim
