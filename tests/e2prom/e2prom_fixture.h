// Fixture of the EEPROM tests: a fresh unit with standard output and error captured, and the
// library's probe settled on the default chip (0x57, direct access) with the bus log cleared.
//
// The probe's result lasts for the life of the process (the library offers no way back), so
// a ProbeTest, which needs its own probe outcome, runs only as the first EEPROM test of a
// process (CTest runs each case in a process of its own) and skips otherwise; an E2promTest
// skips after a ProbeTest in the same process.
#ifndef BSP_TESTS_E2PROM_FIXTURE_H
#define BSP_TESTS_E2PROM_FIXTURE_H

#include <bsp_ctrl/e2prom.h>

#include <memory>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

inline Bytes pattern(size_t n, uint8_t first = 0) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

// The bus log of writing pattern(100, 0x80) at 0x30 to `chip`, then reading it back: writes
// end at page boundaries, reads set the position before each chunk of 64 bytes.
inline std::vector<std::string> transfer_log(uint8_t chip) {
    Bytes d = pattern(100, 0x80);
    const std::string w = "W " + hex(&chip, 1) + ": ", r = "R " + hex(&chip, 1) + ": ";
    return {w + "00 30 " + hex(d.data(), 16),
            w + "00 40 " + hex(d.data() + 16, 64),
            w + "00 80 " + hex(d.data() + 80, 20),
            w + "00 30",
            r + hex(d.data(), 64),
            w + "00 70",
            r + hex(d.data() + 64, 36)};
}

inline bool semaphore_free() {
    int value = 0;
    return sem_getvalue(&e2prom, &value) == 0 && value == 1;
}

class E2promTest : public SimTest {
  protected:
    explicit E2promTest(bool own_probe = false) : own_probe_(own_probe) {}

    void SetUp() override {
        SimTest::SetUp();
        static int tests_in_process = 0;
        static bool probe_altered = false;
        const bool first = ++tests_in_process == 1;
        capture();
        if (own_probe_) {
            if (!first) {
                GTEST_SKIP() << "needs a process of its own: the probe result lasts for it";
            }
            probe_altered = true;
            return;
        }
        if (probe_altered || e2prom_i2c_addr_find() != 0) {
            GTEST_SKIP() << "an earlier test of this process settled another probe outcome";
        }
        sim::clear_i2c_log();
        capture();
    }
    void TearDown() override {
        stdout_.reset();
        stderr_.reset();
        SimTest::TearDown();
    }

    // Captures anew, dropping what was written so far.
    void capture() {
        stdout_.reset();
        stderr_.reset();
        stdout_ = std::make_unique<StdoutCapture>();
        stderr_ = std::make_unique<StderrCapture>();
    }
    std::string out() { return stdout_->text(); }
    std::string err() { return stderr_->text(); }
    static Bytes chip(size_t at, size_t n) { return sim::eeprom_chip()->peek(at, n); }
    static void poke(size_t at, const Bytes &bytes) { sim::eeprom_chip()->poke(at, bytes); }

    std::unique_ptr<StdoutCapture> stdout_;
    std::unique_ptr<StderrCapture> stderr_;
    const bool own_probe_;
};

class ProbeTest : public E2promTest {
  protected:
    ProbeTest() : E2promTest(true) {}
};

}  // namespace bsp::test

#endif
