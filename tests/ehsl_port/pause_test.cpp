// Pause in the PHY and the FPGA, the administrative status write and the supported speeds.
#include <bsp_ctrl/ehsl_pmap.h>
#include <linux/mii.h>

#include <atomic>
#include <thread>

#include "port_fixture.h"

namespace {

using bsp::sim::FpgaAccess;
using bsp::sim::FpgaWidth;
using bsp::test::driver_writes;
using bsp::test::kSfpPort;
using bsp::test::port_log;
using bsp::test::PortTest;
using Texts = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

const FpgaAccess kFlowOn{FpgaAccess::Write, FpgaWidth::W32, 0xCB00, 0x20000000, 0x60000000};
const FpgaAccess kFlowOff{FpgaAccess::Write, FpgaWidth::W32, 0xCB00, 0x00000000, 0x60000000};

TEST_F(PortTest, PauseOnAdvertisesBothBitsEnablesTheFpgaFieldAndRestarts) {
    ASSERT_EQ(ehsl_port_pause_set(kSfpPort, 0, 1), 0);
    EXPECT_EQ(driver_writes(), (Texts{"mdio_write(0,4,0x0de1)=0", "mdio_write(0,0,0x1340)=0"}));
    EXPECT_EQ(bsp::sim::fpga_writes(), (std::vector<FpgaAccess>{kFlowOn}));
    EXPECT_TRUE(bsp::sim::link_state().rx_pause);  // the partner pauses too
    int tx = 5;
    int rx = 5;
    ASSERT_EQ(ehsl_port_pause_get(kSfpPort, &tx, &rx), 0);
    EXPECT_EQ(tx, 0);
    EXPECT_EQ(rx, 1);
}

TEST_F(PortTest, PauseReceiveFlagDecidesAndTheFpgaIsWrittenEveryTime) {
    ASSERT_EQ(ehsl_port_pause_set(kSfpPort, 1, 0), 0);  // already off: no PHY write
    ASSERT_EQ(ehsl_port_pause_set(kSfpPort, 1, 0), 0);
    EXPECT_TRUE(driver_writes().empty());
    EXPECT_EQ(bsp::sim::fpga_writes(), (std::vector<FpgaAccess>{kFlowOff, kFlowOff}));
    EXPECT_EQ(port_log().front(), "2:[KVU7B] EHSL_PORT: ehsl_port_pause_set(port=3, tx=1, rx=0)\n");
}

TEST_F(PortTest, PauseOnFibreTouchesNothing) {
    bsp::sim::plug_sfp(SFP_FIBER);
    bsp::sim::clear_eth_calls();
    ASSERT_EQ(ehsl_port_pause_set(kSfpPort, 1, 1), 0);
    int tx = 5;
    int rx = 5;
    ASSERT_EQ(ehsl_port_mac_pause_get(kSfpPort, &tx, &rx), 0);
    EXPECT_EQ(tx + rx, 0);
    EXPECT_TRUE(bsp::sim::fpga_writes().empty());
    EXPECT_EQ(bsp::sim::eth_calls(), Texts{});
    EXPECT_EQ(port_log().back(), "2:[KVU7A] EHSL_PORT: ehsl_port_mac_pause_get(port 3, 0, 0)\n");
}

TEST_F(PortTest, PauseSetPassesOnAFailedRead) {
    bsp::sim::inject_eth_fault({"mdio_read", MII_ADVERTISE, -8, 1});
    EXPECT_EQ(ehsl_port_pause_set(kSfpPort, 1, 1), -8);
    EXPECT_TRUE(bsp::sim::fpga_writes().empty());
}

TEST_F(PortTest, AdminStatusSetSwitchesPauseOffFirst) {
    ASSERT_EQ(ehsl_port_pause_set(kSfpPort, 1, 1), 0);
    bsp::sim::clear_eth_calls();
    bsp::sim::fpga_clear_log();
    ASSERT_EQ(ehsl_port_adminstatus_set(kSfpPort, 0), 0);
    EXPECT_EQ(driver_writes(), (Texts{"mdio_write(0,4,0x01e1)=0", "mdio_write(0,0,0x1340)=0",
                                      "set_adminstatus(0)=0"}));
    EXPECT_EQ(bsp::sim::fpga_writes(), (std::vector<FpgaAccess>{kFlowOff}));
    int status = -1;
    ASSERT_EQ(ehsl_port_adminstatus_get(kSfpPort, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(bsp::sim::link_state().up);
    bsp::sim::inject_eth_fault({"set_adminstatus", -1, -3, 1});
    EXPECT_EQ(ehsl_port_adminstatus_set(kSfpPort, 1), -3);
}

TEST_F(PortTest, AdminStatusSetOnAnIllegalPortStillTriesPauseFirst) {
    EXPECT_EQ(ehsl_port_adminstatus_set(9, 1), -1);
    EXPECT_EQ(port_log(), (Texts{"2:[KVU7B] EHSL_PORT: ehsl_port_adminstatus_set(9, 1)\n",
                                 "2:[KVU7B] EHSL_PORT: ehsl_port_pause_set(port=9, tx=0, rx=0)\n",
                                 "2:[KVU7B] EHSL_PORT_E: Illegal port number: 9\n",
                                 "2:[KVU7B] EHSL_PORT_E: Illegal port number: 9\n"}));
}

// ---- supported speeds: needs the port map's capability phase to have ended ----

class SpeedsTest : public PortTest {
  protected:
    void SetUp() override {
        PortTest::SetUp();
        ehsl_pmap_init();
        bsp::test::end_capability_phase();
        for (int p = 1; p <= 3; ++p) {
            ehsl_pmap_synce_cap_init(p, 0);
        }
        bsp::sim::clear_log();
    }
};

struct SpeedsCase {
    const char *name;
    sfp_hw_t module;
    int init_cap;
    bool runtime_bit;
    int size;
    Bytes bytes;
    bool too_small;
};

class SupportedSpeeds : public SpeedsTest, public ::testing::WithParamInterface<SpeedsCase> {};

TEST_P(SupportedSpeeds, WritesTheBitmapMostSignificantByteFirst) {
    const SpeedsCase &c = GetParam();
    bsp::sim::plug_sfp(c.module);
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, c.init_cap), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_set(kSfpPort, c.runtime_bit ? 8 : 0), 0);
    bsp::sim::clear_log();
    Bytes out(static_cast<size_t>(c.size) + 1, 0xAA);
    ASSERT_EQ(ehsl_port_supported_speeds_get(kSfpPort, out.data(), c.size), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.size), c.bytes);
    EXPECT_EQ(out.back(), 0xAA);  // nothing past the buffer
    const Texts log = port_log();
    EXPECT_EQ(
        log.back() == "1:[KVU7A] EHSL_PORT_E: Input bitmap to not large enough to hold result\n",
        c.too_small);
    EXPECT_FALSE(bsp::sim::eth_driver_locked());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SupportedSpeeds,
    ::testing::Values(
        SpeedsCase{"CopperFullCapability", SFP_COPPER, 0x7, true, 4, {0xE0, 0xF8, 0, 0}, false},
        SpeedsCase{"CopperWithoutSynce", SFP_COPPER, 0x6, true, 4, {0xE0, 0xC0, 0, 0}, false},
        SpeedsCase{"FibreWithoutSynce", SFP_FIBER, 0, false, 4, {0x20, 0, 0, 0}, false},
        SpeedsCase{"FibreBitTwoOnly", SFP_FIBER, 0x3, false, 4, {0x20, 0x20, 0, 0}, false},
        SpeedsCase{"CopperOneByte", SFP_COPPER, 0, false, 1, {0xE0}, true},
        SpeedsCase{"FibreOneByteFits", SFP_FIBER, 0, false, 1, {0x20}, false},
        SpeedsCase{"CopperSixBytes", SFP_COPPER, 0x5, false, 6, {0xE0, 0xD0, 0, 0, 0, 0}, false},
        SpeedsCase{"CopperZeroBytes", SFP_COPPER, 0, false, 0, {}, true}),
    bsp::test::RowName());

TEST_F(SpeedsTest, MessagesOfTheQuery) {
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, 0x7), 0);
    unsigned char b[4];
    ASSERT_EQ(ehsl_port_supported_speeds_get(kSfpPort, b, 4), 0);
    EXPECT_EQ(
        port_log(),
        (Texts{"1:[KVU7B] EHSL_PORT: Get supported speed, port 3, size 4\n",
               "1:[KVU7B] EHSL_PORT1: tmp_speeds = -524288000, port 3, size 4\n",
               "1:[KVU7B] ehsl_port_supported_speeds_get: ehsl_port_supported_speeds_get - "
               "port = 3 speeds = 00000006\n",
               "1:[KVU7B] EHSL_PORT2: ehsl_port_supported_speeds_get(port 3 speeds: e0f00000\n"}));
}

TEST_F(SpeedsTest, IllegalPortReleasesTheLockAndClearsTheFirstByte) {
    unsigned char b[2] = {0x55, 0x55};
    EXPECT_EQ(ehsl_port_supported_speeds_get(1, b, 2), -1);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 0x55);
    EXPECT_FALSE(bsp::sim::eth_driver_locked());
}

// Needs a process where the capability phase has not ended yet.
TEST_F(PortTest, SupportedSpeedsHoldsTheDriverLockUntilTheCapabilityPhaseEnds) {
    if (bsp::test::capability_phase_ended) {
        GTEST_SKIP() << "the capability phase already ended in this process";
    }
    ehsl_pmap_init();
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, 0x3), 0);
    std::atomic<bool> done{false};
    unsigned char b[4] = {};
    std::thread query([&] {
        EXPECT_EQ(ehsl_port_supported_speeds_get(kSfpPort, b, 4), 0);
        done = true;
    });
    ASSERT_TRUE(bsp::test::wait_until([] { return bsp::sim::eth_driver_locked(); }));
    EXPECT_FALSE(
        bsp::test::wait_until([&] { return done.load(); }, std::chrono::milliseconds(300)));
    EXPECT_TRUE(bsp::sim::eth_driver_locked());
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, 0x7), 0);
    bsp::test::end_capability_phase();
    ASSERT_TRUE(bsp::test::wait_until([&] { return done.load(); }));
    query.join();
    EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xE0, 0xF0, 0, 0}));  // values stored before the end
    EXPECT_FALSE(bsp::sim::eth_driver_locked());
}

}  // namespace
