// Fault matrix of the storage families: an EEPROM data item written, a flash sector written
// and erased, a block written to an I2C chip.
#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/i2cdev.h>
#include <semaphore.h>

#include <bsp_sim/sim.h>

#include <array>

#include "matrix.h"

namespace bsp::test {
namespace {

bool posix_sem_free(sem_t *sem) {
    int value = 0;
    return sem_getvalue(sem, &value) == 0 && value == 1;
}

// A formatted EEPROM with area 1; item 7 written (or overwritten: same size).
class E2promDataWrite : public Operation {
  public:
    void prepare() override {
        ASSERT_EQ(e2prom_init(), 0);
        ASSERT_EQ(e2prom_area_init(1, 1000), 0);
    }
    long run() override {
        std::array<UINT8, 5> data = {1, 2, 3, 4, 5};
        return e2prom_data_write(1, 7, data.size(), data.data());
    }
    bool is_failure(long result) const override { return result < 0; }
    // A failed close is reported on standard output; the transfer before it stands.
    bool ignored(sim::FaultOp op, unsigned) const override { return op == sim::FaultOp::Close; }
    bool device_lock_free() const override { return posix_sem_free(&e2prom); }
};

// Flash sector 2 written, then erased; the device closed with FlashDelete.
class FlashWriteErase : public Operation {
  public:
    long run() override {
        if (UINT32 r = FlashCreate(); r != 0) {
            return r;
        }
        static const char data[] = "flash contents";
        if (UINT32 r = FlashWrite(const_cast<char *>(data), 0x20000, sizeof data); r != 0) {
            return r;
        }
        return FlashEraseSector(2);
    }
    void undo() override { FlashDelete(); }
};

// Eight bytes written to a chip on bus 1 in blocks of four.
class I2cWriteBuf : public Operation {
  public:
    static constexpr int kChip = 0x20;
    long ok_code() const override { return 8; }
    void prepare() override {
        sim::add_i2c_chip(1, kChip, std::make_shared<sim::RegisterChip>(256, 1));
    }
    long run() override {
        std::array<UINT8, 8> data = {1, 2, 3, 4, 5, 6, 7, 8};
        return i2c_write_buf(1, kChip, 0x10, 1, data.data(), data.size(), 4);
    }
    // -1/-2 when the device or chip is refused; fewer bytes than asked when a block fails.
    bool is_failure(long result) const override { return result < ok_code(); }
    // A failed close is reported ("Close returned: "); the blocks written stand.
    bool ignored(sim::FaultOp op, unsigned) const override { return op == sim::FaultOp::Close; }
    bool device_lock_free() const override { return posix_sem_free(&i2cdev); }
};

class StorageFaults : public FaultMatrix {};

BSP_FAULT_CASE(StorageFaults, E2promDataWrite, E2promDataWrite, "e2prom");
BSP_FAULT_CASE(StorageFaults, FlashWriteErase, FlashWriteErase, "flash");
BSP_FAULT_CASE(StorageFaults, I2cWriteBuf, I2cWriteBuf, "i2cdev");
BSP_FAULT_MATRIX(StorageFaults);

}  // namespace
}  // namespace bsp::test
