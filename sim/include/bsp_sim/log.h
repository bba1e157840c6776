// The simulated unit's debug log is the host layer's; the unit captures every message.
#ifndef BSP_SIM_LOG_H
#define BSP_SIM_LOG_H

#include <bsp_host/log.h>

namespace bsp::sim {

using bsp::host::clear_log;
using bsp::host::kNpuLogModule;
using bsp::host::log_level;
using bsp::host::log_modules;
using bsp::host::log_records;
using bsp::host::log_text;
using bsp::host::LogModule;
using bsp::host::LogRecord;
using bsp::host::set_all_log_levels;
using bsp::host::set_log_level;
using bsp::host::set_log_printing;

}  // namespace bsp::sim

#endif
