// The debug log: per-module levels for printing, capture of every message for tests.
#include <bsp_ctrl/platform/bsp_os.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "bsp_host/clock.h"
#include "bsp_host/immortal.h"
#include "bsp_host/log.h"

// The module indices the library reads; each selects one module's settings.
extern "C" {
UINT32 DBG_1588_INDEX = 1;
UINT32 DBG_DPDP_INDEX = 2;
UINT32 DBG_EHSL_PMAP_INDEX = 3;
UINT32 DBG_EHSL_PORT_INDEX = 4;
UINT32 DBG_FLASH_INDEX = 5;
UINT32 DBG_PCI_INDEX = 6;
UINT32 DBG_SEIS_INDEX = 7;
UINT32 DBG_SFP_INDEX = 8;
}

namespace bsp::host {

namespace {

constexpr int kDefaultLevel = 1;

struct Log {
    std::mutex mutex;
    std::vector<LogRecord> records;
    std::map<uint32_t, int> levels;
    bool printing = true;
    bool capturing = false;
};

Log &log() {
    return immortal<Log>();
}

void record(uint32_t module, uint32_t level, const char *format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string text;
    if (n >= static_cast<int>(sizeof small)) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(n));
    } else if (n > 0) {
        text.assign(small, static_cast<size_t>(n));
    }
    std::lock_guard lock(log().mutex);
    auto it = log().levels.find(module);
    int allowed = it == log().levels.end() ? kDefaultLevel : it->second;
    if (log().printing && static_cast<int>(level) <= allowed) {
        std::fputs(text.c_str(), stderr);
    }
    if (log().capturing) {
        log().records.push_back({module, level, std::move(text)});
    }
}

}  // namespace

const std::vector<LogModule> &log_modules() {
    static const std::vector<LogModule> modules = {
        {"1588", DBG_1588_INDEX},
        {"DPDP", DBG_DPDP_INDEX},
        {"EHSL_PMAP", DBG_EHSL_PMAP_INDEX},
        {"EHSL_PORT", DBG_EHSL_PORT_INDEX},
        {"FLASH", DBG_FLASH_INDEX},
        {"PCI", DBG_PCI_INDEX},
        {"SEIS", DBG_SEIS_INDEX},
        {"SFP", DBG_SFP_INDEX},
        {"NPU", kNpuLogModule},
    };
    return modules;
}

void set_log_level(uint32_t module, int level) {
    std::lock_guard lock(log().mutex);
    log().levels[module] = level;
}

int log_level(uint32_t module) {
    std::lock_guard lock(log().mutex);
    auto it = log().levels.find(module);
    return it == log().levels.end() ? kDefaultLevel : it->second;
}

void set_all_log_levels(int level) {
    for (const LogModule &m : log_modules()) {
        set_log_level(m.index, level);
    }
}

void set_log_printing(bool on) {
    std::lock_guard lock(log().mutex);
    log().printing = on;
}

std::vector<LogRecord> log_records() {
    std::lock_guard lock(log().mutex);
    return log().records;
}

std::string log_text() {
    std::string out;
    for (const LogRecord &r : log_records()) {
        out += r.text;
    }
    return out;
}

std::string log_text(uint32_t module) {
    std::string out;
    for (const LogRecord &r : log_records()) {
        if (r.module == module) {
            out += r.text;
        }
    }
    return out;
}

void set_log_capture(bool on) {
    std::lock_guard lock(log().mutex);
    log().capturing = on;
}

void clear_log() {
    std::lock_guard lock(log().mutex);
    log().records.clear();
}

}  // namespace bsp::host

extern "C" {

int log_printf(UINT32 index, UINT32 level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    bsp::host::record(index, level, format, args);
    va_end(args);
    return 0;
}

int npu_log_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    bsp::host::record(bsp::host::kNpuLogModule, 0, format, args);
    va_end(args);
    return 0;
}

UINT32 get_system_time(INT) {
    return static_cast<UINT32>(bsp::host::clock_ms());
}

}  // extern "C"
