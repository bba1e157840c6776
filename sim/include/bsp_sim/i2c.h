// Simulated I2C buses "/dev/i2c-N" with the chips on them. The bus device behaves as the
// kernel's i2c-dev character device: I2C_SLAVE / I2C_SLAVE_FORCE select a 7-bit address
// (EBUSY for an address a kernel driver has claimed, unless forced), read() and write() are
// one bus message each, I2C_SMBUS runs SMBus transactions as messages, I2C_RDWR combined ones.
// A message to an address without a chip, or that the chip does not acknowledge, fails with
// ENXIO. Every message is recorded in the bus log with its exact bytes.
//
// The default unit has bus 1 with the inventory EEPROM (0x57), the SFP PHY (0x56) and the
// SFP module's identification EEPROM (0x50, 256 bytes, 1 address byte).
#ifndef BSP_SIM_I2C_H
#define BSP_SIM_I2C_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace bsp::sim {

// A chip model: it sees the messages addressed to it. A false result is a missing
// acknowledge; the transfer then fails on the bus.
class I2cChip {
  public:
    virtual ~I2cChip() = default;
    virtual bool write(std::span<const uint8_t> data) = 0;
    virtual bool read(std::span<uint8_t> out) = 0;
};

// A generic chip: `size` bytes of registers behind an address pointer of `addr_len` bytes
// (0, 1 or 2, most significant first) that a write sets and every transferred byte advances,
// wrapping at `size`.
class RegisterChip : public I2cChip {
  public:
    RegisterChip(size_t size, unsigned addr_len);
    bool write(std::span<const uint8_t> data) override;
    bool read(std::span<uint8_t> out) override;

    std::vector<uint8_t> peek(size_t offset, size_t count) const;
    void poke(size_t offset, std::span<const uint8_t> bytes);
    size_t pointer() const;

  private:
    mutable std::mutex mutex_;
    std::vector<uint8_t> regs_;
    unsigned addr_len_;
    size_t pointer_ = 0;
};

// The inventory EEPROM: 16 KiB, two address bytes, 64-byte pages. A write wraps inside its
// page; after a write with data the chip runs an internal write cycle during which it
// acknowledges nothing; reads continue from the address pointer.
class EepromChip : public I2cChip {
  public:
    static constexpr size_t kSize = 16384;
    static constexpr size_t kPage = 64;

    // Contents mapped from `image_fd` (a memory file or a state-folder file of kSize bytes);
    // the chip keeps the mapping, the caller keeps the descriptor.
    explicit EepromChip(int image_fd);
    EepromChip(const EepromChip &) = delete;
    EepromChip &operator=(const EepromChip &) = delete;
    ~EepromChip() override;
    bool write(std::span<const uint8_t> data) override;
    bool read(std::span<uint8_t> out) override;

    // Behind the library's back: no bus traffic, no write cycle.
    std::vector<uint8_t> peek(size_t offset, size_t count) const;
    void poke(size_t offset, std::span<const uint8_t> bytes);
    void fill(uint8_t value);

    void set_write_cycle(std::chrono::microseconds t);
    bool busy() const;              // inside a write cycle
    unsigned write_cycles() const;  // cycles started since creation

  private:
    bool busy_locked() const;

    mutable std::mutex mutex_;
    uint8_t *mem_;  // kSize bytes mapped from the image file
    size_t pointer_ = 0;
    std::chrono::microseconds cycle_{5000};
    std::chrono::steady_clock::time_point ready_at_{};
    unsigned cycles_ = 0;
};

// The PHY inside a copper SFP module: 32 16-bit registers; a write of the register number
// selects one, a read returns it most significant byte first and moves to the next, a write
// of register number and two bytes sets it.
class SfpPhyChip : public I2cChip {
  public:
    SfpPhyChip();
    bool write(std::span<const uint8_t> data) override;
    bool read(std::span<uint8_t> out) override;

    static constexpr size_t kRegs = 32;

    uint16_t reg(uint8_t regnum) const;
    void set_reg(uint8_t regnum, uint16_t value);

  private:
    mutable std::mutex mutex_;
    uint16_t regs_[kRegs];
    uint8_t pointer_ = 0;
};

// One message on a bus as the log keeps it.
struct I2cTransfer {
    int bus;
    uint8_t addr;
    bool read;
    bool acked;
    std::vector<uint8_t> data;  // written bytes, or the bytes read (empty when not acked)
    std::chrono::steady_clock::time_point at;
};

// "W 57: 00 30 aa", "R 57: 01 02", "W 57: nack" (bus left out).
std::string to_string(const I2cTransfer &t);

// Bus management (a bus exists as the device "/dev/i2c-N").
void add_i2c_bus(int bus);
void remove_i2c_bus(int bus);
void add_i2c_chip(int bus, uint8_t addr, std::shared_ptr<I2cChip> chip);
void remove_i2c_chip(int bus, uint8_t addr);
std::shared_ptr<I2cChip> i2c_chip(int bus, uint8_t addr);
std::vector<uint8_t> i2c_chip_addresses(int bus);
std::vector<int> i2c_buses();

// A kernel driver bound to the address: selecting it without force fails with EBUSY.
void set_i2c_busy(int bus, uint8_t addr, bool busy);

// Binds the EEPROM driver to the EEPROM chip at `addr`: the address turns busy and the
// driver's file "/sys/bus/i2c/devices/<bus>-00<addr>/eeprom" appears. Reads and writes of
// that file go through the driver to the chip over the bus (logged like any transfer):
// writes page by page, waiting out the write cycle, reads in chunks of up to 128 bytes.
// False when there is no EepromChip at that address.
bool bind_eeprom_driver(int bus, uint8_t addr);
std::string eeprom_sysfs_path(int bus, uint8_t addr);

// The chips of the default unit.
std::shared_ptr<EepromChip> eeprom_chip();
std::shared_ptr<SfpPhyChip> sfp_phy_chip();
std::shared_ptr<RegisterChip> sfp_id_chip();

// The bus log (every bus), oldest first, and the same rendered with to_string.
std::vector<I2cTransfer> i2c_log();
std::vector<std::string> i2c_log_text(int bus = 1);
void clear_i2c_log();

}  // namespace bsp::sim

#endif
