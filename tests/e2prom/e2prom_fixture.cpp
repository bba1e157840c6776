// The EEPROM fixture: the definitions behind e2prom_fixture.h.
#include "e2prom_fixture.h"

namespace bsp::test {

namespace {

int tests_in_process = 0;
bool probe_altered = false;

}  // namespace

std::string msg(char dir, uint8_t addr, const std::vector<uint8_t> &bytes) {
    char head[16];
    std::snprintf(head, sizeof head, "%c %02x:", dir, addr);
    std::string s = head;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", b);
        s += hex;
    }
    return s;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> pattern(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

void E2promTest::SetUp() {
    SimTest::SetUp();
    ++tests_in_process;
    stdout_ = std::make_unique<StdoutCapture>();
    stderr_ = std::make_unique<StderrCapture>();
}

void E2promTest::TearDown() {
    stdout_.reset();
    stderr_.reset();
    SimTest::TearDown();
}

bool E2promTest::fresh_process() {
    if (tests_in_process != 1) {
        return false;
    }
    probe_altered = true;
    return true;
}

bool E2promTest::default_probe() {
    if (probe_altered) {
        return false;
    }
    if (e2prom_i2c_addr_find() != 0) {
        return false;
    }
    sim::clear_i2c_log();
    stdout_.reset();
    stdout_ = std::make_unique<StdoutCapture>();
    return true;
}

}  // namespace bsp::test
