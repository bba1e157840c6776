// Fixture of the port layer's tests: a fresh unit with the driver started, and helpers that
// read the port layer's log and the driver calls it made.
#ifndef BSP_TESTS_EHSL_PORT_PORT_FIXTURE_H
#define BSP_TESTS_EHSL_PORT_PORT_FIXTURE_H

#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

// The SFP cage port of the default board.
constexpr int kSfpPort = 3;

// Messages of the port layer as "level:text".
inline std::vector<std::string> port_log() {
    std::vector<std::string> out;
    for (const auto &r : bsp::sim::log_records()) {
        if (r.module == DBG_EHSL_PORT_INDEX) {
            out.push_back(std::to_string(r.level) + ":" + r.text);
        }
    }
    return out;
}

// Whether the port layer logged `line` ("level:text") at all.
inline bool port_logged(const std::string &line) {
    const std::vector<std::string> log = port_log();
    return std::find(log.begin(), log.end(), line) != log.end();
}

// Driver calls that change something: MDIO writes and the driver's set calls.
inline std::vector<std::string> driver_writes() {
    std::vector<std::string> out;
    for (const std::string &c : bsp::sim::eth_calls()) {
        const std::string name = c.substr(0, c.find('('));
        if (name == "mdio_write" || name.ends_with("_set") || name.starts_with("set_")) {
            out.push_back(c);
        }
    }
    return out;
}

// The port map's capability phase ends for good in a process; tests that need it open are
// skipped when an earlier test of the same process ended it (under CTest each runs alone).
inline bool capability_phase_ended = false;

inline void end_capability_phase() {
    if (!capability_phase_ended) {
        ehsl_pmap_synce_cap_init_finished();
        capability_phase_ended = true;
    }
}

// Names each case of a parameterised test after its row's `name`.
struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row> &info) const {
        return info.param.name;
    }
};

// A link partner of the simulated copper link.
inline bsp::sim::LinkPartner make_partner(bool autoneg, uint16_t adv, uint16_t c1000,
                                          int forced = 100) {
    bsp::sim::LinkPartner p;
    p.autoneg = autoneg;
    p.advertise = adv;
    p.ctrl1000 = c1000;
    p.forced_speed = forced;
    return p;
}

class PortTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ehsl_port_init();
        bsp::sim::clear_log();
        bsp::sim::clear_eth_calls();
        bsp::sim::fpga_clear_log();
    }
    // Autonegotiation forced off, with the calls and messages that took cleared.
    static void stop_autoneg() {
        ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
        bsp::sim::clear_eth_calls();
        bsp::sim::clear_log();
    }
    // The stub record outlives the test: put back what oper_status_set may have changed.
    void TearDown() override {
        ehsl_port_oper_status_set(0, 2);
        ehsl_port_oper_status_set(1, 2);
        ehsl_port_oper_status_set(2, 0);
        SimTest::TearDown();
    }
};

}  // namespace bsp::test

#endif
