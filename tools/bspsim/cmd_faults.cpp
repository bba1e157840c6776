// Shell commands of the seeded bus fault plan: show it, seed it, give a kind a chance or
// make one event of it go wrong, and set how long a busy EEPROM stays busy.
#include <bsp_sim/sim.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "json.h"
#include "shell.h"

namespace bsp::shell {

namespace {

using sim::BusFault;

constexpr size_t kKinds = static_cast<size_t>(BusFault::Count);

bool parse_u64(const std::string &word, uint64_t *value) {
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(word.c_str(), &end, 0);
    if (word.empty() || word[0] == '-' || *end != '\0' || errno != 0) {
        return refuse("not a 64-bit number: %s", word.c_str());
    }
    *value = v;
    return true;
}

bool parse_chance(const std::string &word, double *chance) {
    char *end = nullptr;
    double v = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || !(v >= 0.0 && v <= 1.0)) {
        return refuse("a chance is a number from 0 to 1: %s", word.c_str());
    }
    *chance = v;
    return true;
}

bool parse_kind(const std::string &word, BusFault *kind) {
    if (std::optional<BusFault> k = sim::bus_fault_from_string(word)) {
        *kind = *k;
        return true;
    }
    std::string have;
    for (size_t k = 0; k < kKinds; ++k) {
        have += std::string(" ") + sim::to_string(static_cast<BusFault>(k));
    }
    return refuse("no such fault kind: %s (have:%s)", word.c_str(), have.c_str());
}

// "3 7@12": the events set to go wrong, with their fixed positions.
std::string positions_text(BusFault kind) {
    std::string text;
    for (const sim::FaultPlanPosition &p : sim::fault_plan_positions(kind)) {
        text += (text.empty() ? "" : " ") + std::to_string(p.event);
        if (p.at) {
            text += "@" + std::to_string(*p.at);
        }
    }
    return text.empty() ? "-" : text;
}

long long busy_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(sim::fault_plan_busy_time())
        .count();
}

void print_seed() {
    std::printf("fault plan seed 0x%016" PRIx64 ", eeprom busy %lld ms\n",
                sim::fault_plan_current_seed(), busy_ms());
}

void show_plan_json() {
    std::vector<std::string> kinds;
    for (size_t k = 0; k < kKinds; ++k) {
        auto kind = static_cast<BusFault>(k);
        std::vector<std::string> at;
        for (const sim::FaultPlanPosition &p : sim::fault_plan_positions(kind)) {
            JsonObject pos;
            pos.num("event", static_cast<long long>(p.event));
            p.at ? pos.num("at", *p.at) : pos.raw("at", "null");
            at.push_back(pos.text());
        }
        kinds.push_back(JsonObject()
                            .str("kind", sim::to_string(kind))
                            .real("chance", sim::fault_plan_chance(kind))
                            .num("events", static_cast<long long>(sim::fault_plan_events(kind)))
                            .raw("at_events", json_array(at))
                            .text());
    }
    std::vector<std::string> dealt;
    for (const sim::FaultPlanEvent &e : sim::fault_plan_log()) {
        dealt.push_back(json_string(sim::to_string(e)));
    }
    char seed[24];
    std::snprintf(seed, sizeof seed, "0x%016" PRIx64, sim::fault_plan_current_seed());
    JsonObject()
        .str("seed", seed)
        .num("eeprom_busy_ms", busy_ms())
        .raw("kinds", json_array(kinds))
        .raw("dealt", json_array(dealt))
        .print();
}

int show_plan() {
    if (json()) {
        show_plan_json();
        return 0;
    }
    print_seed();
    std::printf("%-20s %-8s %-8s %s\n", "kind", "chance", "events", "at events");
    for (size_t k = 0; k < kKinds; ++k) {
        auto kind = static_cast<BusFault>(k);
        std::printf("%-20s %-8g %-8" PRIu64 " %s\n", sim::to_string(kind),
                    sim::fault_plan_chance(kind), sim::fault_plan_events(kind),
                    positions_text(kind).c_str());
    }
    std::vector<sim::FaultPlanEvent> dealt = sim::fault_plan_log();
    std::printf("%zu fault(s) dealt\n", dealt.size());
    for (const sim::FaultPlanEvent &e : dealt) {
        std::printf("  %s\n", sim::to_string(e).c_str());
    }
    return 0;
}

int faults_seed(const Args &args) {
    uint64_t seed = 0;
    if (!parse_u64(args[1], &seed)) {
        return 1;
    }
    sim::fault_plan_seed(seed);
    print_seed();
    return 0;
}

int faults_chance(const Args &args) {
    BusFault kind;
    double chance = 0;
    if (!parse_kind(args[1], &kind) || !parse_chance(args[2], &chance)) {
        return 1;
    }
    sim::fault_plan_chance(kind, chance);
    std::printf("%s: chance %g\n", sim::to_string(kind), chance);
    return 0;
}

int faults_at(const Args &args) {
    BusFault kind;
    uint64_t event = 0;
    uint32_t at = 0;
    if (!parse_kind(args[1], &kind) || !parse_u64(args[2], &event) ||
        (args.size() > 3 && !parse_u32(args[3], &at))) {
        return 1;
    }
    if (event == 0) {
        return fail("events are counted from 1");
    }
    sim::fault_plan_at(kind, event, args.size() > 3 ? std::optional<uint32_t>(at) : std::nullopt);
    std::printf("%s: event #%" PRIu64 " goes wrong at %s\n", sim::to_string(kind), event,
                args.size() > 3 ? args[3].c_str() : "a drawn position");
    return 0;
}

int faults_busy(const Args &args) {
    uint32_t ms = 0;
    if (!parse_u32(args[1], &ms)) {
        return 1;
    }
    sim::fault_plan_busy_time(std::chrono::milliseconds(ms));
    std::printf("eeprom busy %lld ms\n", busy_ms());
    return 0;
}

int faults_off(const Args &) {
    sim::fault_plan_seed(0);
    std::printf("fault plan off\n");
    return 0;
}

struct Subcommand {
    const char *name;
    size_t min_words;  // including the subcommand's own name
    size_t max_words;
    const char *usage;
    int (*run)(const Args &args);
};

constexpr Subcommand kSubcommands[] = {
    {"seed", 2, 2, "faults seed N", faults_seed},
    {"chance", 3, 3, "faults chance KIND P", faults_chance},
    {"at", 3, 4, "faults at KIND N [AT]", faults_at},
    {"busy", 2, 2, "faults busy MS", faults_busy},
    {"off", 1, 1, "faults off", faults_off},
};

int cmd_faults(const Args &args) {
    if (args.empty()) {
        return show_plan();
    }
    for (const Subcommand &s : kSubcommands) {
        if (args[0] == s.name) {
            if (args.size() < s.min_words || args.size() > s.max_words) {
                return fail("usage: %s", s.usage);
            }
            return s.run(args);
        }
    }
    std::string have;
    for (const Subcommand &s : kSubcommands) {
        have += std::string(" ") + s.name;
    }
    return fail("no such faults command: %s (have:%s)", args[0].c_str(), have.c_str());
}

constexpr Command kCommands[] = {
    {"faults", 0, 4, "[seed|chance|at|busy|off]",
     "show or set the bus fault plan (seed first: it clears the rest)", cmd_faults},
};

}  // namespace

std::span<const Command> faults_commands() {
    return kCommands;
}

}  // namespace bsp::shell
