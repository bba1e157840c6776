// The simulated host of bsp_ctrl: one header for tests and tools.
#ifndef BSP_SIM_SIM_H
#define BSP_SIM_SIM_H

#include "bsp_sim/board.h"
#include "bsp_sim/clock.h"
#include "bsp_sim/devices.h"
#include "bsp_sim/driver.h"
#include "bsp_sim/eth.h"
#include "bsp_sim/fault.h"
#include "bsp_sim/fault_plan.h"
#include "bsp_sim/fpga.h"
#include "bsp_sim/hdlc.h"
#include "bsp_sim/i2c.h"
#include "bsp_sim/log.h"
#include "bsp_sim/mtd.h"
#include "bsp_sim/net.h"
#include "bsp_sim/os.h"
#include "bsp_sim/pci.h"
#include "bsp_sim/region.h"
#include "bsp_sim/serial.h"
#include "bsp_sim/state.h"
#include "bsp_sim/sync.h"
#include "bsp_sim/unit.h"

#endif
