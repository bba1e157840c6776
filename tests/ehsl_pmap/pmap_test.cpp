// The port map: initialisation, mapping in both directions, updates and the link-state flag.
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <utility>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using Lines = std::vector<std::pair<uint32_t, std::string>>;

Lines pmap_log() {
    Lines out;
    for (const auto &r : bsp::sim::log_records()) {
        if (r.module == DBG_EHSL_PMAP_INDEX) {
            out.emplace_back(r.level, r.text);
        }
    }
    return out;
}

// The switch port mapped to `hw` and its link-state flag (the sentinel shows an unwritten output).
int eps_of(int hw) {
    int eps = 12345;
    EXPECT_EQ(ehsl_pmap_hw_to_eps(hw, &eps), 0);
    return eps;
}

int report_of(int hw) {
    int report = 12345;
    EXPECT_EQ(ehsl_pmap_link_state_event_get(hw, &report), 0);
    return report;
}

class PmapTest : public bsp::test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        kvu_hal_board_t b = bsp::sim::default_board();
        b.cp_num_of_entry[0] = 7;
        b.cp_num_of_entry[1] = 8;
        b.cp_num_of_entry[2] = 9;
        bsp::sim::set_board(b);
        ehsl_pmap_init();
        bsp::sim::clear_log();
    }
};

TEST_F(PmapTest, InitLogsEachPortAndLeavesEveryPortUnmapped) {
    ASSERT_EQ(ehsl_pmap_update(2, 14, 0), 0);  // a mapped entry is reset
    ASSERT_EQ(ehsl_pmap_link_state_event_set(2, 1), 0);
    bsp::sim::clear_log();
    ehsl_pmap_init();
    EXPECT_EQ(pmap_log(), (Lines{{1, "EHSL_PMAP_D:ehsl_pmap_init: i = 1\n"},
                                 {1, "EHSL_PMAP_D:ehsl_pmap_init: i = 2\n"},
                                 {1, "EHSL_PMAP_D:ehsl_pmap_init: i = 3\n"}}));
    for (int p = 1; p <= 3; ++p) {
        EXPECT_EQ(eps_of(p), -1);
        EXPECT_EQ(report_of(p), 0);
    }
}

TEST_F(PmapTest, HwToEpsLogsAndWritesTheMapping) {
    ASSERT_EQ(ehsl_pmap_update(3, 21, 99), 0);
    bsp::sim::clear_log();
    int eps = 0;
    ASSERT_EQ(ehsl_pmap_hw_to_eps(3, &eps), 0);
    EXPECT_EQ(eps, 21);
    EXPECT_EQ(pmap_log(),
              (Lines{{1, "EHSL_PMAP_KVU: ehsl_pmap_hw_to_eps  hw_port =3 epsPortNum =21...\n"}}));
}

TEST_F(PmapTest, EpsToHwWalksThePortsAndTheLowestPortWins) {
    ASSERT_EQ(ehsl_pmap_update(2, 5, 0), 0);
    ASSERT_EQ(ehsl_pmap_update(3, 5, 0), 0);
    bsp::sim::clear_log();
    int hw = 0;
    ASSERT_EQ(ehsl_pmap_eps_to_hw(5, &hw), 0);
    EXPECT_EQ(hw, 2);
    EXPECT_EQ(pmap_log(), (Lines{{2, "EHSL_PMAP_D eps_port arrived 5 \n"},
                                 {2, "EHSL_PMAP_D port 1 epsPortNum -1 \n"},
                                 {2, "EHSL_PMAP_D port 2 epsPortNum 5 \n"},
                                 {2, "EHSL_PMAP_D *hw_port setting \n"}}));
}

TEST_F(PmapTest, EpsToHwOfMinusOneFindsTheFirstUnmappedPort) {
    int hw = 0;
    ASSERT_EQ(ehsl_pmap_eps_to_hw(-1, &hw), 0);
    EXPECT_EQ(hw, 1);
}

TEST_F(PmapTest, EpsToHwReportsAMissingSwitchPortAndWritesNothing) {
    int hw = 77;
    EXPECT_EQ(ehsl_pmap_eps_to_hw(9, &hw), -1);
    EXPECT_EQ(hw, 77);
    Lines log = pmap_log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log.back(),
              (std::pair<uint32_t, std::string>{
                  1,
                  "EHSL_PMAP_D:ehsl_pmap_eps_to_hw: Couldn't find hw-port that corresponds to "
                  "eps-port: 9\n"}));
}

TEST_F(PmapTest, UpdateMapsAndLogs) {
    ASSERT_EQ(ehsl_pmap_link_state_event_set(1, 1), 0);
    bsp::sim::clear_log();
    ASSERT_EQ(ehsl_pmap_update(1, 12, 3), 0);
    EXPECT_EQ(pmap_log(),
              (Lines{{1, "[EHSL_PMAP_KVU] eps_port = 12 and hw_port = 1\n"},
                     {2, "EHSL_PMAP_D:ehsl_pmap_update: Created for port:1 - 12, 0x0001\n"},
                     {2, "EHSL_PMAP_KVU: ehsl_pmap_update ...\n"}}));
    EXPECT_EQ(report_of(1), 1);  // mapping leaves the flag as it was
}

TEST_F(PmapTest, UnmappingSwitchesReportingOff) {
    ASSERT_EQ(ehsl_pmap_update(1, 12, 0), 0);
    ASSERT_EQ(ehsl_pmap_link_state_event_set(1, 1), 0);
    bsp::sim::clear_log();
    ASSERT_EQ(ehsl_pmap_update(1, -4, 0), 0);
    EXPECT_EQ(eps_of(1), -1);
    EXPECT_EQ(report_of(1), 0);
    EXPECT_EQ(pmap_log().at(0),
              (std::pair<uint32_t, std::string>{
                  2, "EHSL_PMAP_D:ehsl_pmap_update: Created for port:1 - -1, 0x0000\n"}));
}

TEST_F(PmapTest, UpdateWithZeroChangesNothingButLogs) {
    ASSERT_EQ(ehsl_pmap_update(2, 6, 0), 0);
    ASSERT_EQ(ehsl_pmap_link_state_event_set(2, 1), 0);
    bsp::sim::clear_log();
    ASSERT_EQ(ehsl_pmap_update(2, 0, 0), 0);
    EXPECT_EQ(pmap_log(),
              (Lines{{2, "EHSL_PMAP_D:ehsl_pmap_update: Created for port:2 - 6, 0x0001\n"},
                     {2, "EHSL_PMAP_KVU: ehsl_pmap_update ...\n"}}));
    EXPECT_EQ(eps_of(2), 6);
}

TEST_F(PmapTest, UpdateRefusesAnInvalidHwPortWithItsOwnMessage) {
    EXPECT_EQ(ehsl_pmap_update(4, 3, 0), -1);
    EXPECT_EQ(ehsl_pmap_update(0, 3, 0), -1);
    EXPECT_EQ(pmap_log(),
              (Lines{{1, "[EHSL_PMAP_KVU]Invalid hw port eps_port = 3 and hw_port = 4\n"},
                     {1, "[EHSL_PMAP_KVU]Invalid hw port eps_port = 3 and hw_port = 0\n"}}));
}

TEST_F(PmapTest, LinkStateSetStoresOneForAnyNonZeroValue) {
    ASSERT_EQ(ehsl_pmap_link_state_event_set(3, 5), 0);
    EXPECT_EQ(report_of(3), 1);
    ASSERT_EQ(ehsl_pmap_link_state_event_set(3, 0), 0);
    EXPECT_EQ(report_of(3), 0);
}

TEST_F(PmapTest, LinkStateOperationsLogBeforeRefusingThePort) {
    int report = 9;
    EXPECT_EQ(ehsl_pmap_link_state_event_get(0, &report), -1);
    EXPECT_EQ(ehsl_pmap_link_state_event_set(4, 1), -1);
    EXPECT_EQ(report, 9);
    EXPECT_EQ(pmap_log(),
              (Lines{{2, "EHSL_PMAP_KVU: ehsl_pmap_link_state_event_get ...\n"},
                     {1, "EHSL_PMAP_D:ehsl_pmap_link_state_event_get: Invalid hw port: 0\n"},
                     {2, "EHSL_PMAP_KVU: ehsl_pmap_link_state_event_set ...\n"},
                     {1, "EHSL_PMAP_D:ehsl_pmap_link_state_event_set: Invalid hw port: 4\n"}}));
}

class PmapInvalidPort : public PmapTest, public ::testing::WithParamInterface<int> {};

TEST_P(PmapInvalidPort, EveryEntryOperationRefusesIt) {
    const int p = GetParam();
    int out = 1234;
    EXPECT_EQ(ehsl_pmap_hw_to_eps(p, &out), -1);
    EXPECT_EQ(ehsl_pmap_synce_cap_init(p, 1), -1);
    EXPECT_EQ(ehsl_pmap_synce_cap_get(p, &out), -1);
    EXPECT_EQ(ehsl_pmap_synce_cap_set(p, 8), -1);
    EXPECT_EQ(ehsl_pmap_synce_cap_clear(p, 8), -1);
    EXPECT_EQ(out, 1234);
    const std::string n = std::to_string(p);
    EXPECT_EQ(pmap_log(),
              (Lines{{1, "EHSL_PMAP_D:ehsl_pmap_hw_to_eps: Invalid hw port: " + n + "\n"},
                     {1, "EHSL_PMAP_D:ehsl_pmap_synce_cap_init: Invalid hw port: " + n + "\n"},
                     {1, "EHSL_PMAP_D:ehsl_pmap_synce_cap_get: Invalid hw port: " + n + "\n"},
                     {1, "EHSL_PMAP_D:ehsl_pmap_synce_cap_set: Invalid hw port: " + n + "\n"},
                     {1, "EHSL_PMAP_D:ehsl_pmap_synce_cap_clear: Invalid hw port: " + n + "\n"}}));
}

INSTANTIATE_TEST_SUITE_P(Ports, PmapInvalidPort, ::testing::Values(0, 4, -1));

TEST_F(PmapTest, UnsupportedQueriesFailSilentlyAndWriteNothing) {
    unsigned int bridge = 5;
    unsigned char mac[6] = {1, 2, 3, 4, 5, 6};
    int speed = 7;
    EXPECT_EQ(ehsl_pmap_hw_to_bridgeport(1, &bridge), -1);
    EXPECT_EQ(ehsl_pmap_hw_to_mac(1, mac), -1);
    EXPECT_EQ(ehsl_pmap_max_speed_get(1, &speed), -1);
    EXPECT_EQ(ehsl_pmap_max_speed_set(1, 100), -1);
    EXPECT_EQ(bridge, 5u);
    EXPECT_EQ(mac[0], 1);
    EXPECT_EQ(speed, 7);
    EXPECT_EQ(pmap_log(), (Lines{{1, "EHSL_PMAP_KVU: ehsl_pmap_hw_to_bridgeport ...\n"}}));
}

}  // namespace
