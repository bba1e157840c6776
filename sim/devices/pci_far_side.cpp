// The far-side processor behind the PCI dual-port RAM: takes the library's messages from
// the transmit area and acknowledges them, and sends messages through the receive area.
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "bsp_sim/fault_plan.h"
#include "devices/pci_model.h"
#include "immortal.h"

namespace bsp::sim::pci {

namespace {

constexpr size_t kKeepTaken = 4096;

struct FarSide {
    std::mutex mutex;
    InterruptLine *line = nullptr;
    bool hold = false;
    size_t held = 0;
    std::deque<PciMessage> taken;
    size_t taken_count = 0;
    std::deque<PciMessage> rx_queue;  // injected, not yet placed in the receive area
    bool rx_busy = false;             // the receive area holds a message not yet taken
    uint32_t irq_type = 0;
    std::vector<unsigned long> ioctls;
    bool enabled = false;
    std::vector<uint16_t> doorbells;
};

FarSide &far() {
    return immortal<FarSide>();
}

alignas(64) uint16_t g_window[kPciWindowLength / 2];

volatile uint16_t &word(uint32_t offset) {
    return reinterpret_cast<volatile uint16_t *>(g_window)[offset / 2];
}

// Message bytes travel two to a word, the earlier byte in the high half.
void write_bytes(uint32_t offset, const uint8_t *bytes, size_t n) {
    for (size_t i = 0; i < n; i += 2) {
        uint16_t lo = i + 1 < n ? bytes[i + 1] : 0;
        word(offset + static_cast<uint32_t>(i)) = static_cast<uint16_t>(bytes[i] << 8 | lo);
    }
}

std::vector<uint8_t> read_bytes(uint32_t offset, size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; i += 2) {
        uint16_t w = word(offset + static_cast<uint32_t>(i));
        out[i] = static_cast<uint8_t>(w >> 8);
        if (i + 1 < n) {
            out[i + 1] = static_cast<uint8_t>(w);
        }
    }
    return out;
}

void raise_locked(FarSide &f, uint16_t bits) {
    if (f.line) {
        f.line->raise(bits);
    }
}

void take_tx_locked(FarSide &f) {
    PciMessage m;
    m.len_h = word(kPciTxLenH);
    m.len_l = word(kPciTxLenL);
    if (m.len_h == 0 && m.len_l == 0) {
        return;
    }
    uint32_t len = static_cast<uint32_t>(m.len_h & 0xFF) << 16 | m.len_l;
    m.dev = m.len_h >> 8;
    m.bytes = read_bytes(kPciTxBuff, std::min<uint32_t>(len, kPciBuffBytes));
    word(kPciTxLenL) = 0;
    word(kPciTxLenH) = 0;
    f.taken.push_back(std::move(m));
    if (f.taken.size() > kKeepTaken) {
        f.taken.pop_front();
    }
    ++f.taken_count;
    if (f.hold) {
        ++f.held;
    } else if (fault_plan_hit(BusFault::DoorbellLost)) {
        return;
    } else {
        raise_locked(f, kPciBellTaken);
        if (fault_plan_hit(BusFault::DoorbellRepeat)) {
            raise_locked(f, kPciBellTaken);
        }
    }
}

void place_rx_locked(FarSide &f, uint16_t len_h, uint16_t len_l,
                     const std::vector<uint8_t> &bytes) {
    write_bytes(kPciRxBuff, bytes.data(), std::min<size_t>(bytes.size(), kPciBuffBytes));
    word(kPciRxLenL) = len_l;
    word(kPciRxLenH) = len_h;
    f.rx_busy = true;
}

void place_next_rx_locked(FarSide &f) {
    if (f.rx_busy || f.rx_queue.empty()) {
        return;
    }
    PciMessage m = std::move(f.rx_queue.front());
    f.rx_queue.pop_front();
    auto len = static_cast<uint32_t>(m.bytes.size());
    place_rx_locked(f, static_cast<uint16_t>((m.dev & 0xFF) << 8 | (len >> 16 & 0xFF)),
                    static_cast<uint16_t>(len), m.bytes);
    raise_locked(f, kPciBellMessage);
}

// How often the far side sees a doorbell the library rang: never when the line loses it,
// twice when it repeats it.
int times_seen(uint16_t bell) {
    if (bell == 0 || fault_plan_hit(BusFault::DoorbellOutLost)) {
        return 0;
    }
    return fault_plan_hit(BusFault::DoorbellOutRepeat) ? 2 : 1;
}

void handle_bell_locked(FarSide &f, uint16_t bell) {
    f.doorbells.push_back(bell);
    if ((bell & kPciBellMessage) != 0) {
        f.rx_busy = false;
    }
    if ((bell & kPciBellTaken) != 0) {
        take_tx_locked(f);  // a second look finds the length cleared and takes nothing
    }
}

void service_locked(FarSide &f) {
    uint16_t bell = word(kPciDoorbellOut);
    if (bell != 0) {
        word(kPciDoorbellOut) = 0;
    }
    if (word(kPciRxLenH) == 0 && word(kPciRxLenL) == 0) {
        f.rx_busy = false;  // taken, whether or not its doorbell arrived
    }
    for (int n = times_seen(bell); n > 0; --n) {
        handle_bell_locked(f, bell);
    }
    place_next_rx_locked(f);
}

void before_entry(uint16_t bits) {
    std::lock_guard lock(far().mutex);
    word(kPciDoorbellIn) = bits;
    if (far().irq_type == 0 && far().line) {
        far().line->set_masked(true);  // a level interrupt stays off until handled
    }
}

void after_entry(uint16_t) {
    std::lock_guard lock(far().mutex);
    word(kPciDoorbellIn) = 0;
    service_locked(far());
}

}  // namespace

void *window() {
    return g_window;
}

void attach(InterruptLine &l) {
    l.set_hooks(before_entry, after_entry);
    std::lock_guard lock(far().mutex);
    far().line = &l;
    if (far().rx_busy) {
        raise_locked(far(), kPciBellMessage);  // sent before the library attached
    }
}

InterruptLine *line() {
    std::lock_guard lock(far().mutex);
    return far().line;
}

void service() {
    std::lock_guard lock(far().mutex);
    service_locked(far());
}

void note_ioctl(unsigned long request) {
    std::lock_guard lock(far().mutex);
    far().ioctls.push_back(request);
}

void note_enabled() {
    std::lock_guard lock(far().mutex);
    far().enabled = true;
}

uint32_t irq_type() {
    std::lock_guard lock(far().mutex);
    return far().irq_type;
}

void reset_far_side() {
    std::lock_guard lock(far().mutex);
    FarSide &f = far();
    f.line = nullptr;
    f.hold = false;
    f.held = 0;
    f.taken.clear();
    f.taken_count = 0;
    f.rx_queue.clear();
    f.rx_busy = false;
    f.irq_type = 0;
    f.ioctls.clear();
    f.enabled = false;
    f.doorbells.clear();
    std::memset(g_window, 0, sizeof g_window);
}

}  // namespace bsp::sim::pci

namespace bsp::sim {

using pci::far;

std::vector<PciMessage> pci_taken() {
    std::lock_guard lock(far().mutex);
    return {far().taken.begin(), far().taken.end()};
}

size_t pci_taken_count() {
    std::lock_guard lock(far().mutex);
    return far().taken_count;
}

void pci_hold_acks(bool hold) {
    std::lock_guard lock(far().mutex);
    far().hold = hold;
    for (; !hold && far().held > 0; --far().held) {
        pci::raise_locked(far(), kPciBellTaken);
    }
}

size_t pci_held_acks() {
    std::lock_guard lock(far().mutex);
    return far().held;
}

bool pci_release_ack(uint16_t also_bits) {
    std::lock_guard lock(far().mutex);
    if (far().held == 0) {
        return false;
    }
    --far().held;
    pci::raise_locked(far(), static_cast<uint16_t>(kPciBellTaken | also_bits));
    return true;
}

void pci_inject(const std::vector<uint8_t> &bytes, uint32_t dev) {
    std::lock_guard lock(far().mutex);
    far().rx_queue.push_back(PciMessage{bytes, dev, 0, 0});
    pci::place_next_rx_locked(far());
}

size_t pci_rx_pending() {
    std::lock_guard lock(far().mutex);
    return far().rx_queue.size() + (far().rx_busy ? 1 : 0);
}

bool pci_place_rx_raw(uint16_t len_h, uint16_t len_l, const std::vector<uint8_t> &bytes) {
    std::lock_guard lock(far().mutex);
    if (far().rx_busy) {
        return false;
    }
    pci::place_rx_locked(far(), len_h, len_l, bytes);
    return true;
}

void pci_raise(uint16_t bits) {
    std::lock_guard lock(far().mutex);
    pci::raise_locked(far(), bits);
}

void pci_set_irq_type(uint32_t type) {
    std::lock_guard lock(far().mutex);
    far().irq_type = type;
}

std::vector<unsigned long> pci_ioctls() {
    std::lock_guard lock(far().mutex);
    return far().ioctls;
}

void pci_clear_ioctls() {
    std::lock_guard lock(far().mutex);
    far().ioctls.clear();
}

bool pci_enabled() {
    std::lock_guard lock(far().mutex);
    return far().enabled;
}

std::vector<uint16_t> pci_doorbells() {
    std::lock_guard lock(far().mutex);
    return far().doorbells;
}

uint16_t pci_peek16(uint32_t offset) {
    return offset < kPciWindowLength ? pci::word(offset & ~1u) : 0;
}

void pci_poke16(uint32_t offset, uint16_t value) {
    if (offset < kPciWindowLength) {
        pci::word(offset & ~1u) = value;
    }
}

bool pci_wait_idle(int timeout_ms) {
    InterruptLine *l = pci::line();
    return l == nullptr || l->wait_idle(timeout_ms);
}

}  // namespace bsp::sim
