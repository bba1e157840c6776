// The simulated I2C buses: the chips on each bus, the addresses claimed by kernel drivers,
// the bus log, and the character device "/dev/i2c-N" with the requests of the kernel's
// i2c-dev driver.
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "bsp_sim/devices.h"
#include "bsp_sim/i2c.h"
#include "devices/i2c_bus.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

constexpr unsigned long kMaxAddr7 = 0x7f;
constexpr size_t kMaxMessage = 8192;  // i2c-dev cuts longer reads and writes
constexpr uint32_t kMaxRdwrMessages = I2C_RDWR_IOCTL_MAX_MSGS;

struct Bus {
    std::map<uint8_t, std::shared_ptr<I2cChip>> chips;
    std::set<uint8_t> busy;
};

struct Buses {
    std::mutex mutex;
    std::map<int, Bus> buses;
    std::vector<I2cTransfer> log;
};

Buses &buses() {
    return immortal<Buses>();  // descriptors may close during exit
}

std::string bus_path(int bus) {
    return "/dev/i2c-" + std::to_string(bus);
}

// ---- the i2c-dev character device ---------------------------------------------------------

class I2cDevFile : public OpenFile {
  public:
    I2cDevFile(int fd, int bus) : OpenFile(fd), bus_(bus) {}

    ssize_t read(void *buf, size_t count) override {
        count = std::min(count, kMaxMessage);
        int err = i2c_message(bus_, addr_, true, {static_cast<uint8_t *>(buf), count});
        return finish(err, count);
    }

    ssize_t write(const void *buf, size_t count) override {
        count = std::min(count, kMaxMessage);
        std::vector<uint8_t> copy(static_cast<const uint8_t *>(buf),
                                  static_cast<const uint8_t *>(buf) + count);
        int err = i2c_message(bus_, addr_, false, copy);
        return finish(err, count);
    }

    off_t lseek(off_t, int) override {
        errno = ESPIPE;
        return -1;
    }

    int ioctl(unsigned long request, void *arg) override {
        unsigned long value = reinterpret_cast<unsigned long>(arg);
        switch (request) {
            case I2C_SLAVE:
            case I2C_SLAVE_FORCE:
                return select(value, request == I2C_SLAVE_FORCE);
            case I2C_FUNCS:
                *static_cast<unsigned long *>(arg) = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
                return 0;
            case I2C_RETRIES:
            case I2C_TIMEOUT:
                return 0;
            case I2C_TENBIT:
                return fail(value != 0 ? EINVAL : 0);
            case I2C_SMBUS:
                return smbus(static_cast<i2c_smbus_ioctl_data *>(arg));
            case I2C_RDWR:
                return rdwr(static_cast<i2c_rdwr_ioctl_data *>(arg));
            default:
                return fail(ENOTTY);
        }
    }

  private:
    static int fail(int err) {
        if (err == 0) {
            return 0;
        }
        errno = err;
        return -1;
    }

    static ssize_t finish(int err, size_t count) {
        return err != 0 ? fail(err) : static_cast<ssize_t>(count);
    }

    int select(unsigned long addr, bool force) {
        if (addr > kMaxAddr7) {
            return fail(EINVAL);
        }
        if (!force && i2c_addr_busy(bus_, static_cast<uint8_t>(addr))) {
            return fail(EBUSY);
        }
        addr_ = static_cast<uint8_t>(addr);
        return 0;
    }

    int smbus(i2c_smbus_ioctl_data *req) {
        if (req == nullptr) {
            return fail(EFAULT);
        }
        bool rd = req->read_write == I2C_SMBUS_READ;
        if (req->size != I2C_SMBUS_QUICK && !(req->size == I2C_SMBUS_BYTE && !rd) &&
            req->data == nullptr) {
            return fail(EINVAL);
        }
        uint8_t buf[3] = {req->command, 0, 0};
        switch (req->size) {
            case I2C_SMBUS_QUICK:
                return fail(i2c_message(bus_, addr_, rd, {}));
            case I2C_SMBUS_BYTE:
                if (!rd) {
                    return fail(i2c_message(bus_, addr_, false, {buf, 1}));
                }
                return fail(i2c_message(bus_, addr_, true, {&req->data->byte, 1}));
            case I2C_SMBUS_BYTE_DATA:
            case I2C_SMBUS_WORD_DATA:
                return data_transfer(req, rd, buf);
            default:
                return fail(EOPNOTSUPP);
        }
    }

    // Byte and word data: the command, then the value (little-endian words).
    int data_transfer(i2c_smbus_ioctl_data *req, bool rd, uint8_t *buf) {
        size_t n = req->size == I2C_SMBUS_WORD_DATA ? 2 : 1;
        if (!rd) {
            buf[1] = static_cast<uint8_t>(req->data->word);
            buf[2] = static_cast<uint8_t>(req->data->word >> 8);
            if (n == 1) {
                buf[1] = req->data->byte;
            }
            return fail(i2c_message(bus_, addr_, false, {buf, n + 1}));
        }
        int err = i2c_message(bus_, addr_, false, {buf, 1});
        if (err == 0) {
            err = i2c_message(bus_, addr_, true, {buf + 1, n});
        }
        if (err == 0) {
            req->data->word = static_cast<uint16_t>(buf[1] | (n == 2 ? buf[2] << 8 : 0));
        }
        return fail(err);
    }

    int rdwr(i2c_rdwr_ioctl_data *req) {
        if (req == nullptr || req->msgs == nullptr) {
            return fail(EFAULT);
        }
        if (req->nmsgs > kMaxRdwrMessages) {
            return fail(EINVAL);
        }
        for (uint32_t i = 0; i < req->nmsgs; ++i) {
            const i2c_msg &m = req->msgs[i];
            if (m.len > kMaxMessage || m.addr > kMaxAddr7 || (m.len > 0 && m.buf == nullptr)) {
                return fail(EINVAL);
            }
            int err = i2c_message(bus_, static_cast<uint8_t>(m.addr), (m.flags & I2C_M_RD) != 0,
                                  {m.buf, m.len});
            if (err != 0) {
                return fail(err);
            }
        }
        return static_cast<int>(req->nmsgs);
    }

    int bus_;
    uint8_t addr_ = 0;
};

class I2cDevDevice : public Device {
  public:
    explicit I2cDevDevice(int bus) : bus_(bus) {}
    std::shared_ptr<OpenFile> open(int) override {
        int fd = reserve_fd();
        if (fd < 0) {
            return nullptr;
        }
        return std::make_shared<I2cDevFile>(fd, bus_);
    }

  private:
    int bus_;
};

}  // namespace

// ---- messages and the log -----------------------------------------------------------------

int i2c_message(int bus, uint8_t addr, bool read, std::span<uint8_t> data) {
    std::lock_guard lock(buses().mutex);
    auto b = buses().buses.find(bus);
    if (b == buses().buses.end()) {
        return ENODEV;
    }
    auto c = b->second.chips.find(addr);
    bool acked = false;
    if (c != b->second.chips.end()) {
        acked = read ? c->second->read(data) : c->second->write(data);
    }
    I2cTransfer t{bus, addr, read, acked, {}, std::chrono::steady_clock::now()};
    if (acked) {
        t.data.assign(data.begin(), data.end());
    }
    buses().log.push_back(std::move(t));
    return acked ? 0 : ENXIO;
}

bool i2c_addr_busy(int bus, uint8_t addr) {
    std::lock_guard lock(buses().mutex);
    auto b = buses().buses.find(bus);
    return b != buses().buses.end() && b->second.busy.count(addr) != 0;
}

std::string to_string(const I2cTransfer &t) {
    char head[16];
    std::snprintf(head, sizeof head, "%c %02x:", t.read ? 'R' : 'W', t.addr);
    std::string s = head;
    if (!t.acked) {
        return s + " nack";
    }
    for (uint8_t b : t.data) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", b);
        s += hex;
    }
    return s;
}

std::vector<I2cTransfer> i2c_log() {
    std::lock_guard lock(buses().mutex);
    return buses().log;
}

std::vector<std::string> i2c_log_text(int bus) {
    std::vector<std::string> out;
    for (const I2cTransfer &t : i2c_log()) {
        if (t.bus == bus) {
            out.push_back(to_string(t));
        }
    }
    return out;
}

void clear_i2c_log() {
    std::lock_guard lock(buses().mutex);
    buses().log.clear();
}

// ---- bus management -----------------------------------------------------------------------

void add_i2c_bus(int bus) {
    {
        std::lock_guard lock(buses().mutex);
        buses().buses.try_emplace(bus);
    }
    add_device(bus_path(bus), std::make_shared<I2cDevDevice>(bus));
}

void remove_i2c_bus(int bus) {
    remove_device(bus_path(bus));
    std::lock_guard lock(buses().mutex);
    buses().buses.erase(bus);
}

void add_i2c_chip(int bus, uint8_t addr, std::shared_ptr<I2cChip> chip) {
    add_i2c_bus(bus);
    std::lock_guard lock(buses().mutex);
    buses().buses[bus].chips[addr] = std::move(chip);
}

void remove_i2c_chip(int bus, uint8_t addr) {
    std::lock_guard lock(buses().mutex);
    auto b = buses().buses.find(bus);
    if (b != buses().buses.end()) {
        b->second.chips.erase(addr);
    }
}

std::shared_ptr<I2cChip> i2c_chip(int bus, uint8_t addr) {
    std::lock_guard lock(buses().mutex);
    auto b = buses().buses.find(bus);
    if (b == buses().buses.end()) {
        return nullptr;
    }
    auto c = b->second.chips.find(addr);
    return c == b->second.chips.end() ? nullptr : c->second;
}

std::vector<uint8_t> i2c_chip_addresses(int bus) {
    std::lock_guard lock(buses().mutex);
    std::vector<uint8_t> out;
    auto b = buses().buses.find(bus);
    if (b != buses().buses.end()) {
        for (const auto &[addr, chip] : b->second.chips) {
            out.push_back(addr);
        }
    }
    return out;
}

std::vector<int> i2c_buses() {
    std::lock_guard lock(buses().mutex);
    std::vector<int> out;
    for (const auto &[bus, b] : buses().buses) {
        out.push_back(bus);
    }
    return out;
}

void set_i2c_busy(int bus, uint8_t addr, bool busy) {
    std::lock_guard lock(buses().mutex);
    auto b = buses().buses.find(bus);
    if (b == buses().buses.end()) {
        return;
    }
    if (busy) {
        b->second.busy.insert(addr);
    } else {
        b->second.busy.erase(addr);
    }
}

void clear_i2c_buses() {
    std::vector<int> all = i2c_buses();
    for (int bus : all) {
        remove_i2c_bus(bus);
    }
    clear_i2c_log();
}

}  // namespace bsp::sim
