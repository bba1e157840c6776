// A seeded fault plan for the simulated buses: the models ask it, at each event of a kind
// (an EEPROM page write, a byte from the serial peer, an acknowledgement the PCI far side
// raises, ...), whether that event goes wrong and where. Each kind draws from its own
// generator seeded from the plan's seed, so the same seed and the same traffic on a bus give
// the same faults on that bus, whatever the other buses do: a run is replayed from its seed.
//
// The plan is off after a reset of the unit (no chances, no positions, seed 0).
#ifndef BSP_SIM_FAULT_PLAN_H
#define BSP_SIM_FAULT_PLAN_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bsp::sim {

enum class BusFault {
    EepromTear,         // a page write keeps its first N data bytes and nothing after them
    EepromBusy,         // after a write the EEPROM acknowledges nothing for fault_plan_busy_time
    FlashTear,          // a write programs N bytes, byte N partly, and fails with EIO
    FlashEraseTear,     // an erase sets N bytes, byte N partly, and fails with EIO
    SerialDrop,         // a byte from the peer or the terminal link never reaches the port
    SerialFlip,         // such a byte reaches the port with bit N inverted
    DoorbellLost,       // the PCI far side takes a message but raises no acknowledgement
    DoorbellRepeat,     // the PCI far side raises an acknowledgement twice
    HdlcDrop,           // a frame the HDLC far end sends is lost on the line
    DoorbellOutLost,    // the PCI far side never sees a doorbell the library rang
    DoorbellOutRepeat,  // the PCI far side sees a doorbell the library rang twice
    HdlcOutDrop,        // a frame the library puts is accepted but lost on the line
    Count
};

// "eeprom-tear", "eeprom-busy", "flash-tear", "flash-erase-tear", "serial-drop",
// "serial-flip", "doorbell-lost", "doorbell-repeat", "hdlc-drop", "doorbell-out-lost",
// "doorbell-out-repeat", "hdlc-out-drop".
const char *to_string(BusFault kind);

// The kind of one of those names.
std::optional<BusFault> bus_fault_from_string(std::string_view name);

// One fault the plan dealt: the event number of its kind (1 = the first event since the
// seed was set) and the position drawn for it (0 for kinds without a position).
struct FaultPlanEvent {
    BusFault kind;
    uint64_t event;
    uint32_t at;
    bool operator==(const FaultPlanEvent &) const = default;
};

// "serial-flip #12 at 3".
std::string to_string(const FaultPlanEvent &e);

// Starts the plan afresh with this seed: chances, positions, event counts and the record
// of dealt faults are cleared.
void fault_plan_seed(uint64_t seed);
uint64_t fault_plan_current_seed();

// Seeds the plan from the environment variable BSP_FAULT_SEED (decimal or 0x-hexadecimal)
// or, when it is unset or unreadable, from a random device, and prints
// "bsp_sim: fault plan seed 0x<16 hex digits>" on standard error so that a failing run can
// be replayed with BSP_FAULT_SEED set to it. Returns the seed.
uint64_t fault_plan_seed_from_env();

// Every event of `kind` goes wrong with this chance (0 to 1; 0 turns the kind off).
void fault_plan_chance(BusFault kind, double probability);
double fault_plan_chance(BusFault kind);

// Event number `nth` of `kind` (counted from the seed, 1 = the first) goes wrong, at
// position `at` (clamped into the event's span) or at a drawn one.
void fault_plan_at(BusFault kind, uint64_t nth, std::optional<uint32_t> at = std::nullopt);

// The events of `kind` set to go wrong, in event order, with their fixed positions.
struct FaultPlanPosition {
    uint64_t event;
    std::optional<uint32_t> at;
};
std::vector<FaultPlanPosition> fault_plan_positions(BusFault kind);

// How long the EEPROM stays busy after a write hit by EepromBusy (default 50 ms).
void fault_plan_busy_time(std::chrono::microseconds t);
std::chrono::microseconds fault_plan_busy_time();

// Faults dealt since the seed was set, oldest first; events of a kind counted so far.
std::vector<FaultPlanEvent> fault_plan_log();
uint64_t fault_plan_events(BusFault kind);

// For the models: counts one event of `kind` and tells whether it goes wrong; if so, the
// result is its position in [0, span) (span 0 counts as 1).
std::optional<uint32_t> fault_plan_hit(BusFault kind, uint32_t span = 1);

// For the models: a further value from the kind's generator (e.g. which bits of a torn byte
// were reached), so that it too follows from the seed.
uint32_t fault_plan_draw(BusFault kind);

}  // namespace bsp::sim

#endif
