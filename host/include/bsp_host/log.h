// The debug log: per-module levels decide what is printed to standard error. A program that
// wants to read the messages back (a test, a console) turns on capture: every message is
// then also kept, whatever its level.
#ifndef BSP_HOST_LOG_H
#define BSP_HOST_LOG_H

#include <cstdint>
#include <string>
#include <vector>

namespace bsp::host {

struct LogRecord {
    uint32_t module;  // value of the DBG_*_INDEX variable; kNpuLogModule for npu_log_printf
    uint32_t level;
    std::string text;
};

constexpr uint32_t kNpuLogModule = 0;

struct LogModule {
    const char *name;  // "1588", "DPDP", "EHSL_PMAP", ...
    uint32_t index;
};

// The modules known to the log, for the shell.
const std::vector<LogModule> &log_modules();

// Messages of `module` with a level <= `level` are printed; -1 prints none.
void set_log_level(uint32_t module, int level);
int log_level(uint32_t module);
void set_all_log_levels(int level);

// Whether printed messages go to standard error (the default) or nowhere.
void set_log_printing(bool on);

std::vector<LogRecord> log_records();
// All captured texts of one module (or of every module) joined in order.
std::string log_text();
std::string log_text(uint32_t module);
void clear_log();

// Whether messages are kept for log_records and log_text (off by default).
void set_log_capture(bool on);

}  // namespace bsp::host

#endif
