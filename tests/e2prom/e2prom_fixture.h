// Fixture of the EEPROM tests: a fresh unit, the library's probe settled on the default chip
// (0x57, direct access), the bus log cleared, standard output and error captured.
//
// The probe's result lasts for the life of the process (the library offers no way back), so
// a test that needs its own probe outcome runs only as the first EEPROM test of a process
// (CTest runs each case in a process of its own) and skips otherwise.
#ifndef BSP_TESTS_E2PROM_FIXTURE_H
#define BSP_TESTS_E2PROM_FIXTURE_H

#include <bsp_ctrl/e2prom.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {

// "W 57: 00 30 aa ..." as the bus log renders a message.
std::string msg(char dir, uint8_t addr, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b);
std::vector<uint8_t> pattern(size_t n, uint8_t first = 0);

class E2promTest : public SimTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Skips unless this is the first EEPROM test of the process (for probe scenarios).
    bool fresh_process();
    // Skips when an earlier test of this process settled another probe outcome.
    bool default_probe();

    std::string out() { return stdout_->text(); }
    std::string err() { return stderr_->text(); }

    std::unique_ptr<StdoutCapture> stdout_;
    std::unique_ptr<StderrCapture> stderr_;
};

}  // namespace bsp::test

#define REQUIRE_FRESH_PROCESS() \
    if (!fresh_process())       \
    GTEST_SKIP() << "needs a process of its own: the probe result lasts for the process"
#define REQUIRE_DEFAULT_PROBE() \
    if (!default_probe())       \
    GTEST_SKIP() << "an earlier test of this process settled another probe outcome"

#endif
