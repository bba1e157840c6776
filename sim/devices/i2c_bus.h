// Internal to the simulated host: one message on a simulated I2C bus, for the bus device
// and for the kernel drivers that sit on a bus.
#ifndef BSP_SIM_DEVICES_I2C_BUS_H
#define BSP_SIM_DEVICES_I2C_BUS_H

#include <cstdint>
#include <span>

namespace bsp::sim {

// Sends one message (a read fills `data`); logs it. 0, or the errno of the failure:
// ENXIO when no chip acknowledges, ENODEV when the bus is gone.
int i2c_message(int bus, uint8_t addr, bool read, std::span<uint8_t> data);

bool i2c_addr_busy(int bus, uint8_t addr);

// Forgets every bus and the log (the unit's reset puts the default chips back).
void clear_i2c_buses();
// Removes the sysfs files of every bound EEPROM driver.
void unbind_eeprom_drivers();

}  // namespace bsp::sim

#endif
