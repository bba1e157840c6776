// Chip models of the simulated I2C buses: a generic register chip, the inventory EEPROM and
// the PHY of a copper SFP module. Each one speaks the part's wire protocol.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "bsp_sim/fault_plan.h"
#include "bsp_sim/i2c.h"

namespace bsp::sim {

// ---- RegisterChip -------------------------------------------------------------------------

RegisterChip::RegisterChip(size_t size, unsigned addr_len)
    : regs_(std::max<size_t>(size, 1), 0), addr_len_(std::min(addr_len, 2u)) {}

bool RegisterChip::write(std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    size_t i = 0;
    if (addr_len_ > 0 && !data.empty()) {
        size_t addr = 0;
        for (; i < addr_len_ && i < data.size(); ++i) {
            addr = (addr << 8) | data[i];
        }
        pointer_ = addr % regs_.size();
    }
    for (; i < data.size(); ++i) {
        regs_[pointer_] = data[i];
        pointer_ = (pointer_ + 1) % regs_.size();
    }
    return true;
}

bool RegisterChip::read(std::span<uint8_t> out) {
    std::lock_guard lock(mutex_);
    for (uint8_t &b : out) {
        b = regs_[pointer_];
        pointer_ = (pointer_ + 1) % regs_.size();
    }
    return true;
}

std::vector<uint8_t> RegisterChip::peek(size_t offset, size_t count) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < count && offset + i < regs_.size(); ++i) {
        out.push_back(regs_[offset + i]);
    }
    return out;
}

void RegisterChip::poke(size_t offset, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < bytes.size() && offset + i < regs_.size(); ++i) {
        regs_[offset + i] = bytes[i];
    }
}

size_t RegisterChip::pointer() const {
    std::lock_guard lock(mutex_);
    return pointer_;
}

// ---- EepromChip ---------------------------------------------------------------------------

namespace {

constexpr size_t kEepromAddrMask = EepromChip::kSize - 1;  // 14 address bits are decoded
constexpr size_t kEepromAddrBytes = 2;

}  // namespace

EepromChip::EepromChip(int image_fd) {
    void *p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, image_fd, 0);
    if (p == MAP_FAILED) {
        // Without an image the chip still works, in private memory.
        p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    mem_ = static_cast<uint8_t *>(p);
}

EepromChip::~EepromChip() {
    ::munmap(mem_, kSize);
}

bool EepromChip::busy_locked() const {
    return std::chrono::steady_clock::now() < ready_at_;
}

bool EepromChip::write(std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (busy_locked()) {
        return false;  // no acknowledge while the write cycle runs
    }
    if (data.size() < kEepromAddrBytes) {
        return true;  // an address byte alone changes nothing and starts no cycle
    }
    pointer_ = ((size_t{data[0]} << 8) | data[1]) & kEepromAddrMask;
    std::span<const uint8_t> payload = data.subspan(kEepromAddrBytes);
    if (payload.empty()) {
        return true;  // sets the address pointer for a following read
    }
    // The page buffer latches the bytes; the address counter rolls over inside the page. A
    // write torn by the fault plan (a power cut in the write cycle) keeps the bytes before
    // the tear and nothing after it.
    size_t page = pointer_ & ~(kPage - 1);
    size_t col = pointer_ & (kPage - 1);
    auto span = static_cast<uint32_t>(payload.size());
    size_t kept = fault_plan_hit(BusFault::EepromTear, span).value_or(span);
    for (size_t i = 0; i < payload.size(); ++i) {
        if (i < kept) {
            mem_[page + col] = payload[i];
        }
        col = (col + 1) % kPage;
    }
    pointer_ = page + col;
    auto cycle = cycle_;
    if (fault_plan_hit(BusFault::EepromBusy)) {
        cycle = std::max(cycle, fault_plan_busy_time());
    }
    ready_at_ = std::chrono::steady_clock::now() + cycle;
    ++cycles_;
    return true;
}

bool EepromChip::read(std::span<uint8_t> out) {
    std::lock_guard lock(mutex_);
    if (busy_locked()) {
        return false;
    }
    for (uint8_t &b : out) {
        b = mem_[pointer_];
        pointer_ = (pointer_ + 1) & kEepromAddrMask;
    }
    return true;
}

std::vector<uint8_t> EepromChip::peek(size_t offset, size_t count) const {
    std::lock_guard lock(mutex_);
    offset = std::min(offset, kSize);
    count = std::min(count, kSize - offset);
    return std::vector<uint8_t>(mem_ + offset, mem_ + offset + count);
}

void EepromChip::poke(size_t offset, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < bytes.size() && offset + i < kSize; ++i) {
        mem_[offset + i] = bytes[i];
    }
}

void EepromChip::fill(uint8_t value) {
    std::lock_guard lock(mutex_);
    std::memset(mem_, value, kSize);
}

void EepromChip::set_write_cycle(std::chrono::microseconds t) {
    std::lock_guard lock(mutex_);
    cycle_ = t;
}

bool EepromChip::busy() const {
    std::lock_guard lock(mutex_);
    return busy_locked();
}

unsigned EepromChip::write_cycles() const {
    std::lock_guard lock(mutex_);
    return cycles_;
}

// ---- SfpPhyChip ---------------------------------------------------------------------------

namespace {

// Power-on values of a gigabit copper PHY: control, status, identifiers, advertisement,
// 1000BASE-T control, PHY-specific control.
constexpr struct {
    uint8_t reg;
    uint16_t value;
} kPhyDefaults[] = {
    {0, 0x1140}, {1, 0x7949}, {2, 0x0141}, {3, 0x0cc2}, {4, 0x0de1}, {9, 0x0e00}, {16, 0x0078},
};

}  // namespace

SfpPhyChip::SfpPhyChip() : regs_{} {
    for (const auto &d : kPhyDefaults) {
        regs_[d.reg] = d.value;
    }
}

bool SfpPhyChip::write(std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (data.empty()) {
        return true;
    }
    pointer_ = data[0] % kRegs;
    for (size_t i = 1; i + 1 < data.size(); i += 2) {
        regs_[pointer_] = static_cast<uint16_t>((data[i] << 8) | data[i + 1]);
        pointer_ = static_cast<uint8_t>((pointer_ + 1) % kRegs);
    }
    return true;
}

bool SfpPhyChip::read(std::span<uint8_t> out) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < out.size(); ++i) {
        uint16_t v = regs_[pointer_];
        out[i] = static_cast<uint8_t>(i % 2 == 0 ? v >> 8 : v);
        if (i % 2 == 1) {
            pointer_ = static_cast<uint8_t>((pointer_ + 1) % kRegs);
        }
    }
    return true;
}

uint16_t SfpPhyChip::reg(uint8_t regnum) const {
    std::lock_guard lock(mutex_);
    return regs_[regnum % kRegs];
}

void SfpPhyChip::set_reg(uint8_t regnum, uint16_t value) {
    std::lock_guard lock(mutex_);
    regs_[regnum % kRegs] = value;
}

}  // namespace bsp::sim
