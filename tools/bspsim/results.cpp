// What the library's result codes mean, as each family documents them: printed beside the
// number wherever the shell shows a result, so that nobody needs the reference at hand.
#include <cstdio>
#include <cstring>

#include "shell.h"

namespace bsp::shell {

namespace {

struct Meaning {
    const char *calls;  // the calls that share these codes, blank-separated; "*" for a prefix
    long long code;
    const char *text;
};

constexpr Meaning kMeanings[] = {
    {"e2prom_i2c_addr_find", -1, "no EEPROM answered on bus 1"},
    {"e2prom_reset", -1, "not every byte was written"},
    {"e2prom_*", -1, "the EEPROM already has a header"},
    {"e2prom_*", -2, "no EEPROM header"},
    {"e2prom_*", -3, "no terminator among the area entries"},
    {"e2prom_*", -4, "EEPROM header check byte wrong"},
    {"e2prom_*", -5, "EEPROM header full"},
    {"e2prom_*", -6, "area already present"},
    {"e2prom_*", -7, "no such area"},
    {"e2prom_*", -8, "no terminator among the data entries"},
    {"e2prom_*", -9, "area header check byte wrong"},
    {"e2prom_*", -10, "area header full"},
    {"e2prom_*", -11, "the area would end beyond 0x3E00"},
    {"e2prom_*", -12, "no such data item in the area"},
    {"e2prom_*", -13, "a read of the EEPROM returned nothing"},
    {"e2prom_*", -14, "data item check byte wrong"},
    {"e2prom_*", -15, "the data does not fit"},
    {"Framer*", 1, "refused: not created, not open, or a bad message"},
    {"FramerEnableDebugPort", 6, "closing the framer failed: no console started"},
    {"DpdpOpen DpdpClose", 1, "the HDLC channel refused"},
    {"DpdpSend", 1, "not sent: reconfigured (dispatcher 0), busy, or HDLC refused"},
    {"DpdpSetHeaderValue", 1, "no memory for the header byte"},
    {"pci_send", -1, "refused: the channel is not open or the message is too long"},
    {"ti_socket_*", -1, "refused or failed"},
    {"i2c_*", -1, "opening the bus failed"},
    {"i2c_*", -2, "selecting the chip failed"},
    {"i2c_*", -3, "writing the data address failed"},
    {"ecps_* seis_* init_seis", -1, "illegal port, or failed"},
    {"ecps_* seis_* init_seis", -2, "SFP port without a usable module"},
};

bool names(const char *calls, const char *call) {
    const char *p = calls;
    while (*p != '\0') {
        size_t n = std::strcspn(p, " ");
        bool prefix = n > 0 && p[n - 1] == '*';
        size_t len = prefix ? n - 1 : n;
        if (std::strncmp(p, call, len) == 0 && (prefix || call[len] == '\0')) {
            return true;
        }
        p += n + (p[n] == ' ' ? 1 : 0);
    }
    return false;
}

}  // namespace

std::string result_meaning(const char *call, long long result) {
    for (const Meaning &m : kMeanings) {
        if (m.code == result && names(m.calls, call)) {
            return std::string(" (") + m.text + ")";
        }
    }
    return "";
}

std::string result_text(const char *call, long long result) {
    return std::string(call) + " = " + std::to_string(result) + result_meaning(call, result);
}

void print_result(const char *call, long long result) {
    std::printf("%s\n", result_text(call, result).c_str());
}

}  // namespace bsp::shell
