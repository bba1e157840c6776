// The reconfiguration operations and the channel-up token that pairs disables with enables.
#include "dpdp_fixture.h"

namespace {

using bsp::test::DpdpTest;
namespace sim = bsp::sim;

using Calls = std::vector<std::string>;
const char *kOpenCall = "open 3 1000000 0 15 128";

TEST_F(DpdpTest, SecondDisableWithoutEnableClosesNothing) {
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(DpDpDisable(), 1);
    EXPECT_EQ(sim::hdlc_calls(), Calls{"close"});
}

TEST_F(DpdpTest, EnableGivesTheTokenBack) {
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(DpDpEnable(), 0);
    EXPECT_TRUE(sim::hdlc_is_open());
    EXPECT_EQ(DpDpDisable(), 0);
    EXPECT_EQ(sim::hdlc_calls(), (Calls{"close", kOpenCall, "close"}));
}

TEST_F(DpdpTest, FailedEnableStillGivesTheTokenBack) {
    ASSERT_EQ(DpDpDisable(), 0);
    sim::hdlc_fail(sim::HdlcOp::Open);
    EXPECT_EQ(DpDpEnable(), 1);
    sim::hdlc_clear_calls();
    EXPECT_EQ(DpDpDisable(), 1);  // the token was there; closing a closed channel fails
    EXPECT_EQ(sim::hdlc_calls(), Calls{"close"});
}

TEST_F(DpdpTest, FailedCloseIsReported) {
    sim::hdlc_fail(sim::HdlcOp::Close);
    EXPECT_EQ(DpDpDisable(), 1);
    EXPECT_TRUE(sim::hdlc_is_open());
}

TEST_F(DpdpTest, HdlcServiceDrivesTheReconfiguration) {
    EXPECT_EQ(sim::hdlc_call_disable(), 0);
    EXPECT_FALSE(sim::hdlc_is_open());
    EXPECT_EQ(sim::hdlc_call_disable(), 1);
    EXPECT_EQ(sim::hdlc_call_enable(), 0);
    EXPECT_TRUE(sim::hdlc_is_open());
}

}  // namespace
