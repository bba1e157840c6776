// The port layer: classification, raw PHY access, attributes on copper and fibre modules,
// configuration and advertisement (the exact PHY register and driver sequences, and what a
// real link partner makes of them), pause, supported speeds, the diagnostic printouts and the
// command interpreter.
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <gmock/gmock.h>
#include <linux/mii.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using sim::FpgaAccess;
using sim::FpgaWidth;
using Texts = std::vector<std::string>;

// The SFP cage port of the default board.
constexpr int kSfpPort = 3;

// Messages of the port layer as "level:text".
Texts port_log() {
    Texts out;
    for (const auto &r : sim::log_records()) {
        if (r.module == DBG_EHSL_PORT_INDEX) {
            out.push_back(std::to_string(r.level) + ":" + r.text);
        }
    }
    return out;
}

// Driver calls that change something: MDIO writes and the driver's set calls.
Texts driver_writes() {
    Texts out;
    for (const std::string &c : sim::eth_calls()) {
        const std::string name = c.substr(0, c.find('('));
        if (name == "mdio_write" || name.ends_with("_set") || name.starts_with("set_")) {
            out.push_back(c);
        }
    }
    return out;
}

// The port map's capability phase ends for good in a process; tests that need it open are
// skipped when an earlier test of the same process ended it (under CTest each runs alone).
bool capability_phase_ended = false;

void end_capability_phase() {
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

// Puts `module` in the cage; SFP_NO_SFP empties it.
void plug(sfp_hw_t module) {
    if (module == SFP_NO_SFP) {
        sim::pull_sfp();
    } else {
        sim::plug_sfp(module);
    }
}

class PortTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ehsl_port_init();
        sim::clear_log();
        sim::clear_eth_calls();
        sim::fpga_clear_log();
    }
    // Autonegotiation forced off, with the calls and messages that took cleared.
    static void stop_autoneg() {
        ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
        sim::clear_eth_calls();
        sim::clear_log();
    }
};

const char kStubInitial[] =
    "--------------------------------------\n"
    "|   INFO       | port_1    |  port_2   | \n"
    "-------------------------------------\n"
    "|  OperStatus  |     2     |       2    | \n"
    "|  AdminStatus |     2     |       2    | \n"
    "|  Speed       |  1000     |    1000    | \n"
    "|  Auto        |     1     |       1    | \n"
    "|  TxPause     |     0     |       0    | \n"
    "|  RxPause     |     0     |       0    | \n"
    "|  Sfp         |     0     |       0    | \n"
    "|  Duplex      |     0     |       0    | \n"
    "|  Mode        |     0     |       0    | \n"
    "--------------------------------------\n";

std::string run(const char *name, int port = kSfpPort, int value = 0) {
    StdoutCapture out;
    EXPECT_EQ(cli_cmd(0, port, const_cast<char *>(name), value), 0);
    return out.text();
}

// Before the port layer is started (each test case runs in a process of its own under CTest).
TEST(PortBeforeInit, StubPrintsItsStartingValuesAndCannotBeWritten) {
    sim::reset_unit();
    if (kvu_info != nullptr) {
        GTEST_SKIP() << "the port layer was started earlier in this process";
    }
    EXPECT_EQ(run("stub_conf"), kStubInitial);
    EXPECT_EQ(run("Operstatus_set", 1, 1), "Error in Operstatus set\n");
}

TEST_F(PortTest, InitStartsTheDriverAndPublishesTheStub) {
    sim::reset_unit();
    EXPECT_EQ(sfp_port_hw_status(kSfpPort), SFP_NOT_INIT);
    ehsl_port_init();
    EXPECT_EQ(port_log(), (Texts{"1:[KVU7B] ehsl_port_kvu: init eth ports\n",
                                 "1:[KVU7B] ehsl_port_kvu: calling eth_ctrl_emac_sfp_init\n"}));
    const kvu_stub *first = kvu_info;
    ehsl_port_init();
    EXPECT_EQ(kvu_info, first);
    EXPECT_EQ(sim::eth_driver_init_calls(), 2u);
    EXPECT_EQ(run("stub_conf"), kStubInitial);
    EXPECT_EQ(ehsl_port_oper_status_set(1, 7), 0);
    EXPECT_EQ(kvu_info->oper_status[1], 7);
    EXPECT_EQ(ehsl_port_oper_status_set(3, 5), -1);
    EXPECT_EQ(ehsl_port_oper_status_set(-1, 5), -1);
    EXPECT_EQ(kvu_info->adminstatus[0], 2);    // the next field is untouched
    EXPECT_EQ(kvu_info->autoneg_value[2], 0);  // the third port is not printed
}

// What an operation was given to write to; 7 before each call.
int given;
ehsl_port_cfg_t cfg_out;
ehsl_port_mdix_t mdix_out;
ehsl_port_speed_t speed_out;
unsigned char speeds_out[4];

// Every operation that classifies its port, and what it gives for a cage without a usable
// module (-1 where it goes through another operation).
struct Classified {
    const char *name;
    int (*call)(int port);
    int empty;
    const char *command = nullptr;  // the command that runs it, and its error line
    const char *error = "";
};

// clang-format off
const Classified kClassified[] = {
    {"phy_get", [](int p) { return ehsl_port_phy_get(p, 0, &given); }, -2},
    {"phy_set", [](int p) { return ehsl_port_phy_set(p, 0, 0); }, -2},
    {"speed_get", [](int p) { return ehsl_port_speed_get(p, &given); }, -2, "speed_get", "Error reading port speed\n"},
    {"speed_set", [](int p) { return ehsl_port_speed_set(p, 1000); }, -2, "speed_set", "Error in speed set\n"},
    {"adminstatus_get", [](int p) { return ehsl_port_adminstatus_get(p, &given); }, -2, "adminstatus_get", "Error in admin status get\n"},
    {"adminstatus_set", [](int p) { return ehsl_port_adminstatus_set(p, 1); }, -2, "adminstatus_set", "Error in admin status set\n"},
    {"link_status_get", [](int p) { return ehsl_port_link_status_get(p, &given); }, -2, "link_status", "Error reading Link status\n"},
    {"duplex_get", [](int p) { return ehsl_port_duplex_get(p, &cfg_out); }, -2, "duplex_get", "Error reading duplex config status\n"},
    {"duplex_set", [](int p) { return ehsl_port_duplex_set(p, EHSL_PORT_CONFIG_FD); }, -2, "duplex_set", "Error in duplex set\n"},
    {"mdix_get", [](int p) { return ehsl_port_mdix_get(p, &mdix_out); }, -2, "mdix_get", "Error reading mdix config status\n"},
    {"mdix_set", [](int p) { return ehsl_port_mdix_set(p, EHSL_PORT_MDIX_NORMAL); }, -2, "mdix_set", "Error in mdix set\n"},
    {"autoneg_get", [](int p) { return ehsl_port_autoneg_get(p, &given); }, -2, "autoneg_get", "Error reading autoneg\n"},
    {"autoneg_set", [](int p) { return ehsl_port_autoneg_set(p, 0); }, -2, "autoneg_set", "Error in autoneg set\n"},
    {"llf_get", [](int p) { return ehsl_port_llf_get(p, &given); }, -2},
    {"llf_set", [](int p) { return ehsl_port_llf_set(p, 1); }, -2},
    {"master_set", [](int p) { return ehsl_port_master_set(p, 2); }, -2, "master_set", "Error in config set\n"},
    {"pause_set", [](int p) { return ehsl_port_pause_set(p, 1, 1); }, -2},
    {"pause_get", [](int p) { return ehsl_port_pause_get(p, &given, &given); }, -2},
    {"config_get", [](int p) { return ehsl_port_config_get(p, &given, &cfg_out, &cfg_out); }, -1, "config_get", "Error reading config status\n"},
    {"speed_status_get", [](int p) { return ehsl_port_speed_status_get(p, &speed_out); }, -1},
    {"supported_speeds_get", [](int p) { return ehsl_port_supported_speeds_get(p, speeds_out, 2); }, -2, "supported_speeds", "Error reading supported speeds\n"},
};
// clang-format on

class IllegalPort : public PortTest, public ::testing::WithParamInterface<int> {};

// Ports outside the board are named in the log; a port whose PHY has an MII address of its own
// is refused silently.
TEST_P(IllegalPort, IsRefusedByEveryOperation) {
    const int p = GetParam();
    EXPECT_EQ(sfp_port_hw_status(p), SFP_NO_SFP);
    EXPECT_EQ(ehsl_port_phy_get(p, MII_BMCR, &given), -1);
    const std::string m = "2:[KVU7B] EHSL_PORT_E: Illegal port number: " + std::to_string(p) + "\n";
    EXPECT_EQ(port_log(), p >= 1 && p <= 3 ? Texts{} : Texts{m});
    std::fill(std::begin(speeds_out), std::end(speeds_out), 0x55);
    for (const Classified &op : kClassified) {
        EXPECT_EQ(op.call(p), -1) << op.name;
    }
    EXPECT_EQ(Bytes(speeds_out, speeds_out + 2), (Bytes{0, 0x55}));
    EXPECT_TRUE(driver_writes().empty());
    EXPECT_FALSE(sim::eth_driver_locked());
}

INSTANTIATE_TEST_SUITE_P(Ports, IllegalPort, ::testing::Values(0, -1, 4, 1, 2));

// An empty cage, a failing module and a cage not yet watched (the driver has not been started);
// the commands print their error lines.
TEST_F(PortTest, CageWithoutAUsableModuleRefusesEveryOperation) {
    for (sfp_hw_t t : {SFP_NO_SFP, SFP_ERROR, SFP_NOT_INIT}) {
        if (t == SFP_NOT_INIT) {
            sim::reset_unit();
        } else {
            plug(t);
        }
        for (const Classified &op : kClassified) {
            EXPECT_EQ(op.call(kSfpPort), op.empty) << op.name << " with module " << t;
            if (op.command != nullptr) {
                EXPECT_EQ(run(op.command, kSfpPort, 1), op.error) << op.name;
            }
        }
        EXPECT_FALSE(sim::eth_driver_locked());
    }
    EXPECT_TRUE(driver_writes().empty());
}

// Runs a getter of an enum-valued attribute of the SFP port through `given`, copied as bytes
// as a C caller's enum may hold any int (7 before each call).
template <class E>
int via_out(int (*get)(int, E *)) {
    E e;
    std::memcpy(&e, &given, sizeof e);
    const int r = get(kSfpPort, &e);
    std::memcpy(&given, &e, sizeof e);
    return r;
}

// Driver writes of the configuration sequences, and the FPGA flow-control field on and off.
const FpgaAccess kFlowOn{FpgaAccess::Write, FpgaWidth::W32, 0xCB00, 0x20000000, 0x60000000};
const FpgaAccess kFlowOff{FpgaAccess::Write, FpgaWidth::W32, 0xCB00, 0x00000000, 0x60000000};
const std::string kRestart = "mdio_write(0,0,0x1340)=0";
const std::string kAdv1000 = "mdio_write(0,4,0x0001)=0";
const std::string kNo1000 = "mdio_write(0,9,0x0000)=0";
const std::string kHalf = "duplex_set(3,11)=0";

// One operation on a module, with a driver call made to fail where `fault` names one: its
// result, what it left in `given`, and the driver calls that changed something. A failed call
// is passed on as it came, and nothing is done after it.
struct OpCase {
    const char *name;
    sfp_hw_t module;
    sim::EthFault fault;
    int (*call)();
    int result;
    int out;
    Texts writes;
    std::optional<Texts> log = std::nullopt;  // the port layer's messages, where they matter
    void (*before)() = nullptr;               // what the call finds, where it is not power-on
    std::vector<FpgaAccess> fpga = {};        // the FPGA writes
    const char *logged = nullptr;             // one message among the others
};

class Op : public PortTest, public ::testing::WithParamInterface<OpCase> {};

TEST_P(Op, GivesItsResultAndWritesOnlyWhatItShould) {
    const OpCase &c = GetParam();
    plug(c.module);
    if (c.before != nullptr) {
        c.before();
    }
    sim::clear_eth_calls();
    sim::clear_log();
    sim::fpga_clear_log();
    if (!c.fault.call.empty()) {
        sim::inject_eth_fault(c.fault);
    }
    given = 7;
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(given, c.out);
    EXPECT_EQ(driver_writes(), c.writes);
    EXPECT_EQ(sim::fpga_writes(), c.fpga);
    EXPECT_FALSE(sim::eth_driver_locked());
    if (c.log) {
        EXPECT_EQ(port_log(), *c.log);
    }
    if (c.logged != nullptr) {
        EXPECT_THAT(port_log(), ::testing::Contains(c.logged));
    }
}

// Statistics as one number: first counter, second counter, result (all 5 before the call).
template <class Counter>
int stats(int (*get)(int, Counter *, int, unsigned int *)) {
    unsigned int c[2] = {5, 5};
    unsigned int r = 5;
    const int rc = get(kSfpPort, c, 1, &r);
    given = static_cast<int>(c[0] * 100 + c[1] * 10 + r);
    return rc;
}

// The pause flags through `given` as tx * 10 + rx (both 5 before the call).
int pause_flags(int (*get)(int, int *, int *)) {
    int tx = 5;
    int rx = 5;
    const int r = get(kSfpPort, &tx, &rx);
    given = tx * 10 + rx;
    return r;
}

// Autonegotiation off, 100 Mbit/s half duplex forced through the driver.
void force_100_half() {
    eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP);
    eth_ctrl_emac_sfp_speed_set(kSfpPort, 100);
    eth_ctrl_emac_sfp_duplex_set(kSfpPort, EHSL_PORT_CONFIG_HD);
}

// The configured speed of the SFP port through `given` (as it was where none is recognised).
int config_speed() {
    cfg_out = static_cast<ehsl_port_cfg_t>(given);
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_HD;
    const int r = ehsl_port_config_get(kSfpPort, &given, &cfg_out, &duplex);
    given = cfg_out;
    return r;
}

constexpr sfp_hw_t C = SFP_COPPER;
constexpr sfp_hw_t F = SFP_FIBER;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Op, ::testing::Values(
    OpCase{"PhyGetWithoutPointer", C, {}, [] { return ehsl_port_phy_get(kSfpPort, MII_ADVERTISE, nullptr); }, -1, 7, {}},
    OpCase{"PhyGetFault", C, {"mdio_read", MII_ADVERTISE, -5, 1}, [] { return ehsl_port_phy_get(kSfpPort, MII_ADVERTISE, &given); }, -5, 7, {}},
    OpCase{"PhyGet", C, {}, [] { return ehsl_port_phy_get(kSfpPort, MII_ADVERTISE, &given); }, 0, 0x01E1, {}, Texts{"2:[KVU7B] EHSL PHY READ: Port 3: Reg:04: Val:01e1\n"}},
    OpCase{"PhySetKeepsTheLow16Bits", C, {}, [] { return ehsl_port_phy_set(kSfpPort, MII_ADVERTISE, 0x7A0DE1); }, 0, 7, {"mdio_write(0,4,0x0de1)=0"}, Texts{"2:[KVU7A] EHSL PHY WRITE: Port 3: Reg:04: Val:7a0de1\n"}},
    OpCase{"AdminStatusUp", C, {}, [] { return ehsl_port_adminstatus_get(kSfpPort, &given); }, 0, 1, {}},
    OpCase{"AdminStatusPowerDownAlone", C, {}, [] { return ehsl_port_adminstatus_get(kSfpPort, &given); }, 0, 1, {}, std::nullopt, [] { sim::phy_poke(MII_BMCR, BMCR_ANENABLE | BMCR_PDOWN); }},
    OpCase{"AdminStatusPowerDownAndIsolate", C, {}, [] { return ehsl_port_adminstatus_get(kSfpPort, &given); }, 0, 0, {}, Texts{"1:[KVU7A] EHSL_PORT: ehsl_port_adminstatus_get(port 3, *)\n", "2:[KVU7B] EHSL PHY READ: Port 3: Reg:00: Val:1c00\n", "1:[KVU7B] EHSL_PORT: ehsl_port_adminstatus_get(port 3, 0)\n", "1:[KVU7B] EHSL_PORT_KVU: ehsl_port_adminstatus_get ...\n"}, [] { sim::phy_poke(MII_BMCR, BMCR_ANENABLE | BMCR_PDOWN | BMCR_ISOLATE); }},
    OpCase{"DuplexGet", C, {}, [] { return via_out(ehsl_port_duplex_get); }, 0, EHSL_PORT_CONFIG_FD, {}, Texts{"2:[KVU7A] EHSL_PORT: ehsl_port_duplex_get(3, *)\n", "2:[KVU7A] EHSL_PORT: ehsl_port_duplex_get(3, 10)\n"}},
    // a partner forced to 100 Mbit/s, found by parallel detection: half duplex
    OpCase{"DuplexGetParallelDetection", C, {}, [] { return via_out(ehsl_port_duplex_get); }, 0, EHSL_PORT_CONFIG_HD, {}, std::nullopt, [] { sim::set_link_partner({.autoneg = false}); }},
    OpCase{"SpeedSet", C, {}, [] { return ehsl_port_speed_set(kSfpPort, 100); }, 0, 7, {"speed_set(3,100)=0"}, Texts{"2:[KVU7B] EHSL_PORT: ehsl_port_speed_set(3, 100)\n"}},
    OpCase{"SpeedSetFaultNonZero", C, {"speed_set", -1, 3, 1}, [] { return ehsl_port_speed_set(kSfpPort, 10); }, 3, 7, {"speed_set(3,10)=3"}},
    OpCase{"SpeedGetFault", C, {"speed_get", -1, -7, 1}, [] { return ehsl_port_speed_get(kSfpPort, &given); }, -7, 7, {}},
    OpCase{"LlfGetFaultPositive", C, {"llf_get", -1, 4, 1}, [] { return ehsl_port_llf_get(kSfpPort, &given); }, 4, 7, {}},
    OpCase{"PauseSetFault", C, {"mdio_read", MII_ADVERTISE, -8, 1}, [] { return ehsl_port_pause_set(kSfpPort, 1, 1); }, -8, 7, {}},
    // the second read of register 9 is the master mode's
    OpCase{"ConfigSetMasterModeFault", C, {"mdio_read", MII_CTRL1000, -6, 2}, [] { return ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_10HD); }, -1, 7, {}},
    OpCase{"MdixGet", C, {}, [] { return via_out(ehsl_port_mdix_get); }, 0, EHSL_PORT_MDIX_AUTO, {}},
    OpCase{"MdixSetUnchanged", C, {}, [] { return ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_AUTO); }, 0, 7, {}},
    OpCase{"MdixSetCrossover", C, {}, [] { return ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_XOVER); }, 0, 7, {"mdix_set(3,2)=0"}},
    OpCase{"DuplexSetOnlyAChange", C, {}, [] { return ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_HD); }, 0, 7, {"duplex_set(3,11)=0"}, std::nullopt, [] { ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_FD); }},
    OpCase{"AutonegGet", C, {}, [] { return ehsl_port_autoneg_get(kSfpPort, &given); }, 0, 1, {}},
    OpCase{"AutonegSetUnchanged", C, {}, [] { return ehsl_port_autoneg_set(kSfpPort, 1); }, 0, 7, {}},
    OpCase{"AutonegSetOff", C, {}, [] { return ehsl_port_autoneg_set(kSfpPort, 0); }, 0, 7, {"autoneg_set(2)=0"}},
    OpCase{"AutonegSetOffThenOn", C, {}, [] { return ehsl_port_autoneg_set(kSfpPort, 9); }, 0, 7, {"autoneg_set(1)=0"}, std::nullopt, [] { ehsl_port_autoneg_set(kSfpPort, 0); }},
    OpCase{"LlfSet", C, {}, [] { return ehsl_port_llf_set(kSfpPort, 1); }, 0, 7, {"llf_set(3,1)=0"}},
    OpCase{"SpeedGetWithoutPointer", C, {}, [] { return ehsl_port_speed_get(kSfpPort, nullptr); }, -1, 7, {}},
    OpCase{"LinkStatusWithoutPointer", C, {}, [] { return ehsl_port_link_status_get(kSfpPort, nullptr); }, -1, 7, {}},
    OpCase{"DuplexGetWithoutPointer", C, {}, [] { return ehsl_port_duplex_get(kSfpPort, nullptr); }, -1, 7, {}},
    OpCase{"AutonegGetWithoutPointer", C, {}, [] { return ehsl_port_autoneg_get(kSfpPort, nullptr); }, -1, 7, {}},
    OpCase{"ConfigGetWithoutPointers", C, {}, [] { return ehsl_port_config_get(kSfpPort, nullptr, nullptr, nullptr); }, -1, 7, {}},
    OpCase{"SpeedsWithoutBufferOfOneByte", C, {}, [] { return ehsl_port_supported_speeds_get(kSfpPort, nullptr, 1); }, -1, 7, {}},
    OpCase{"MtuGet", C, {}, [] { return ehsl_port_mtu_get(kSfpPort, &given); }, 0, 1544, {}},
    OpCase{"MtuSet", C, {}, [] { return ehsl_port_mtu_set(kSfpPort, 9000); }, 0, 7, {}},
    OpCase{"UntaggedPriorityGet", C, {}, [] { return ehsl_port_untagged_priority_get(kSfpPort, &given); }, -1, 7, {}},
    OpCase{"UntaggedPrioritySet", C, {}, [] { return ehsl_port_untagged_priority_set(kSfpPort, 3); }, -1, 7, {}},
    OpCase{"ClearStatistics", C, {}, [] { return ehsl_es_stat_clear_statistics(kSfpPort) + ehsl_port_stat_clear_all(); }, 0, 7, {}},
    OpCase{"SyncEnableSet", C, {}, [] { return ehsl_port_sync_enable_set(kSfpPort, 1, 0); }, 0, 7, {}, Texts{"2:[KVU7B] EHSL SYNC ENABLE SET: port 3: enable 1\n"}},
    OpCase{"IfTableZeroesTheFirstCounter", C, {}, [] { return stats(ehsl_es_stat_ifTable); }, 0, 50, {}},
    OpCase{"IfXTableZeroesTheFirstCounter", C, {}, [] { return stats(ehsl_es_stat_ifXTable); }, 0, 50, {}},
    OpCase{"IfXTableWithoutResult", C, {}, [] { return ehsl_es_stat_ifXTable(kSfpPort, &given, 1, nullptr); }, -1, 7, {}},
    OpCase{"ConfigGetReadsTheAdvertisement", C, {}, [] { return config_speed(); }, 0, EHSL_PORT_CONFIG_100FD, {}, std::nullopt, [] { ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_100FD); }},
    // an advertisement of 1000 Mbit/s half duplex is written but not recognised
    OpCase{"ConfigGetUnrecognisedAdvertisement", C, {}, [] { return config_speed(); }, 0, 7, {}, std::nullopt, [] { ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_1000HD); }, {}, "1:[KVU7A] EHSL_PORT_E:ehsl_port_advert_get: Unrecognized ability setting\n"},
    // the command's value: 0 automatic, 1 master, anything else slave
    OpCase{"CommandMasterSetAutomatic", C, {}, [] { return static_cast<int>(run("master_set", kSfpPort, 0).size()); }, 0, 7, {"master_set(3,3)=0"}},
    OpCase{"CommandMasterSetMaster", C, {}, [] { return static_cast<int>(run("master_set", kSfpPort, 1).size()); }, 0, 7, {"master_set(3,2)=0"}},
    OpCase{"CommandMasterSetSlave", C, {}, [] { return static_cast<int>(run("master_set", kSfpPort, 7).size()); }, 0, 7, {"master_set(3,1)=0"}},
    OpCase{"ConfigGetReadsTheForcedState", C, {}, [] { return config_speed(); }, 0, EHSL_PORT_CONFIG_100HD, {}, std::nullopt, force_100_half, {}, "2:[KVU7B] EHSL_PORT: ehsl_port_config_get(port 3, autoneg: 0, speed: 7, duplex: 11)\n"},
    // pause on advertises both bits, switches the FPGA field on and renegotiates
    OpCase{"PauseOn", C, {}, [] { return ehsl_port_pause_set(kSfpPort, 0, 1); }, 0, 7, {"mdio_write(0,4,0x0de1)=0", kRestart}, std::nullopt, nullptr, {kFlowOn}},
    OpCase{"PauseGetAfterPauseOn", C, {}, [] { return pause_flags(ehsl_port_pause_get); }, 0, 1, {}, std::nullopt, [] { ehsl_port_pause_set(kSfpPort, 0, 1); }},
    // the receive flag decides; already off, the PHY is left alone but the FPGA written again
    OpCase{"PauseOffAgain", C, {}, [] { return ehsl_port_pause_set(kSfpPort, 1, 0); }, 0, 7, {}, Texts{"2:[KVU7B] EHSL_PORT: ehsl_port_pause_set(port=3, tx=1, rx=0)\n", "2:[KVU7B] EHSL PHY READ: Port 3: Reg:04: Val:01e1\n"}, [] { ehsl_port_pause_set(kSfpPort, 1, 0); }, {kFlowOff}},
    // the administrative status switches pause off first
    OpCase{"AdminStatusSetDown", C, {}, [] { return ehsl_port_adminstatus_set(kSfpPort, 0); }, 0, 7, {"mdio_write(0,4,0x01e1)=0", kRestart, "set_adminstatus(0)=0"}, std::nullopt, [] { ehsl_port_pause_set(kSfpPort, 1, 1); }, {kFlowOff}},
    OpCase{"AdminStatusGetAfterSetDown", C, {}, [] { return ehsl_port_adminstatus_get(kSfpPort, &given); }, 0, 0, {}, std::nullopt, [] { ehsl_port_adminstatus_set(kSfpPort, 0); }},
    OpCase{"AdminStatusSetFault", C, {"set_adminstatus", -1, -3, 1}, [] { return ehsl_port_adminstatus_set(kSfpPort, 1); }, -3, 7, {"set_adminstatus(1)=-3"}, std::nullopt, nullptr, {kFlowOff}},
    // the speed status as the link resolved with the partner (autonegotiation on)
    OpCase{"SpeedStatusGigabit", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_1000FD, {}},
    OpCase{"SpeedStatusFastEthernetFull", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_100FD, {}, std::nullopt, [] { sim::set_link_partner({.advertise = 0x01E1, .ctrl1000 = 0}); }},
    OpCase{"SpeedStatusTenHalfOnly", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_10HD, {}, std::nullopt, [] { sim::set_link_partner({.advertise = 0x0021, .ctrl1000 = 0}); }},
    OpCase{"SpeedStatusParallelDetection", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_100HD, {}, std::nullopt, [] { sim::set_link_partner({.autoneg = false, .advertise = 0, .ctrl1000 = 0}); }},
    OpCase{"SpeedStatusNoCommonAbility", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, -1, 7, {}, std::nullopt, [] { sim::set_link_partner({.advertise = 0x0001, .ctrl1000 = 0x0100}); }, {}, "1:[KVU7A] EHSL_PORT_E: Unknown speed result on port 3\n"},
    OpCase{"FibreSpeedGet", F, {}, [] { return ehsl_port_speed_get(kSfpPort, &given); }, 0, 1000, {}},
    OpCase{"FibreSpeedSet1000", F, {}, [] { return ehsl_port_speed_set(kSfpPort, 1000); }, 0, 7, {}},
    OpCase{"FibreSpeedSet100", F, {}, [] { return ehsl_port_speed_set(kSfpPort, 100); }, -1, 7, {}},
    OpCase{"FibreMasterSet", F, {}, [] { return ehsl_port_master_set(kSfpPort, 2); }, 0, 7, {}},
    OpCase{"FibrePhyGet", F, {}, [] { return ehsl_port_phy_get(kSfpPort, 1, &given); }, -2, 7, {}},
    OpCase{"FibrePhySet", F, {}, [] { return ehsl_port_phy_set(kSfpPort, 1, 0); }, -2, 7, {}},
    OpCase{"FibreAdminStatusGetLeavesTheValue", F, {}, [] { return ehsl_port_adminstatus_get(kSfpPort, &given); }, 0, 7, {}},
    OpCase{"FibreDuplexGet", F, {}, [] { return via_out(ehsl_port_duplex_get); }, 0, EHSL_PORT_CONFIG_FD, {}},
    OpCase{"FibreMdixGet", F, {}, [] { return via_out(ehsl_port_mdix_get); }, 0, EHSL_PORT_MDIX_AUTO, {}},
    OpCase{"FibreMdixSetNormal", F, {}, [] { return ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_NORMAL); }, 0, 7, {}},
    OpCase{"FibreMdixSetAuto", F, {}, [] { return ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_AUTO); }, -1, 7, {}},
    OpCase{"FibrePauseSet", F, {}, [] { return ehsl_port_pause_set(kSfpPort, 1, 1); }, 0, 7, {}},
    OpCase{"FibreMacPauseGet", F, {}, [] { return pause_flags(ehsl_port_mac_pause_get); }, 0, 0, {}},
    OpCase{"FibreLinkLossForwarding", F, {}, [] { return ehsl_port_llf_get(kSfpPort, &given); }, 0, 1, {}, std::nullopt, [] { ehsl_port_llf_set(kSfpPort, 1); }},
    OpCase{"FibreConfigWithAutonegOff", F, {}, [] { return config_speed(); }, 0, EHSL_PORT_CONFIG_1000FD, {}, std::nullopt, [] { eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP); }}),
    RowName());
// clang-format on

TEST_F(PortTest, SpeedGetOnCopperAsksTheDriverAfterTheLinkTest) {
    int speed = 0;
    ASSERT_EQ(ehsl_port_speed_get(kSfpPort, &speed), 0);
    EXPECT_EQ(speed, 1000);
    // The first status read after power-on shows the latched link loss.
    EXPECT_EQ(sim::eth_calls(),
              (Texts{"mdio_read(0,1)=0x7929", "mdio_read(0,1)=0x792d", "speed_get(3)=0"}));
    EXPECT_EQ(port_log().back(), "1:[KVU7B] EHSL_PORT: ehsl_port_speed_get(port 3, 1000)\n");
    sim::set_link_connected(false);
    ASSERT_EQ(ehsl_port_speed_get(kSfpPort, &speed), 0);
    EXPECT_EQ(speed, 0);
}

struct ConfigCase {
    const char *name;
    bool autoneg;
    int config;
    int result;
    Texts writes;
};

class ConfigSet : public PortTest, public ::testing::WithParamInterface<ConfigCase> {};

// Autonegotiation on, from the power-on advertisement (which reads as AUTODETECT): the
// advertisement is written and renegotiated. Off, from forced 1000 Mbit/s full duplex with
// automatic master/slave: speed, master mode and duplex are forced in that order.
TEST_P(ConfigSet, WritesTheAdvertisementOrForcesTheLink) {
    const ConfigCase &c = GetParam();
    if (!c.autoneg) {
        stop_autoneg();
    }
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, static_cast<ehsl_port_cfg_t>(c.config)), c.result);
    EXPECT_EQ(driver_writes(), c.writes);
    if (c.result != 0) {
        EXPECT_EQ(port_log().back(),
                  "1:[KVU7A] EHSL_PORT_E:ehsl_port_config_set: Unknown Config type " +
                      std::to_string(c.config) + "\n");
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, ConfigSet, ::testing::Values(
    ConfigCase{"OnAutodetect", true, 1, 0, {}},
    ConfigCase{"OnMaster1000", true, 2, 0, {kAdv1000, "mdio_write(0,9,0x1a00)=0", kRestart}},
    ConfigCase{"OnSlave1000", true, 3, 0, {kAdv1000, "mdio_write(0,9,0x1200)=0", kRestart}},
    ConfigCase{"OnFull1000", true, 4, 0, {kAdv1000, kRestart}},
    ConfigCase{"OnHalf1000", true, 5, 0, {kAdv1000, "mdio_write(0,9,0x0100)=0", kRestart}},
    ConfigCase{"OnFull100", true, 6, 0, {"mdio_write(0,4,0x0101)=0", kNo1000, kRestart}},
    ConfigCase{"OnHalf100", true, 7, 0, {"mdio_write(0,4,0x0081)=0", kNo1000, kRestart}},
    ConfigCase{"OnFull10", true, 8, 0, {"mdio_write(0,4,0x0041)=0", kNo1000, kRestart}},
    ConfigCase{"OnHalf10", true, 9, 0, {"mdio_write(0,4,0x0021)=0", kNo1000, kRestart}},
    ConfigCase{"OnOutOfRange", true, 42, 0, {kAdv1000, kRestart}},
    ConfigCase{"OffAutodetect", false, 1, 0, {"mdio_write(0,4,0x0141)=0", "speed_set(3,0)=0"}},
    ConfigCase{"OffMaster1000", false, 2, 0, {kAdv1000, "mdio_write(0,9,0x1a00)=0", "master_set(3,2)=0"}},
    ConfigCase{"OffSlave1000", false, 3, 0, {kAdv1000, "mdio_write(0,9,0x1200)=0", "master_set(3,1)=0"}},
    ConfigCase{"OffFull1000", false, 4, 0, {kAdv1000}},
    ConfigCase{"OffFull100", false, 6, 0, {"mdio_write(0,4,0x0101)=0", kNo1000, "speed_set(3,100)=0"}},
    ConfigCase{"OffHalf100", false, 7, 0, {"mdio_write(0,4,0x0081)=0", kNo1000, "speed_set(3,100)=0", kHalf}},
    ConfigCase{"OffFull10", false, 8, 0, {"mdio_write(0,4,0x0041)=0", kNo1000, "speed_set(3,10)=0"}},
    ConfigCase{"OffHalf10", false, 9, 0, {"mdio_write(0,4,0x0021)=0", kNo1000, "speed_set(3,10)=0", kHalf}},
    ConfigCase{"OffHalf1000Refused", false, 5, -1, {}},
    ConfigCase{"OffDuplexFDRefused", false, 10, -1, {}},
    ConfigCase{"OffZeroRefused", false, 0, -1, {}}),
    RowName());
// clang-format on

TEST_F(PortTest, AutodetectWithAutonegOffAsksForAutomaticMasterWhenItDiffers) {
    ASSERT_EQ(eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP), 0);
    ASSERT_EQ(eth_ctrl_emac_sfp_master_set(kSfpPort, 2), 0);
    sim::clear_eth_calls();
    sim::clear_log();
    ASSERT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_AUTODETECT), 0);
    EXPECT_EQ(driver_writes(), (Texts{"mdio_write(0,4,0x0141)=0", "mdio_write(0,9,0x0200)=0",
                                      "speed_set(3,0)=0", "master_set(3,3)=0"}));
    EXPECT_THAT(port_log(), ::testing::Contains("1:[KVU7A] EHSL_PORT_E:(3) ehsl_port_config_set: "
                                                "autodetect not allowed when autoneg is off\n"));
}

TEST_F(PortTest, ForcedSequenceStopsAtTheFirstFailure) {
    stop_autoneg();
    sim::inject_eth_fault({"master_set", -1, -9, 1});
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_1000FD_SLAVE), -1);
    EXPECT_EQ(driver_writes(), (Texts{"mdio_write(0,4,0x0001)=0", "mdio_write(0,9,0x1200)=0",
                                      "master_set(3,1)=-9"}));
    EXPECT_EQ(port_log().back(), "1:[KVU7B] EHSL_PORT_E: Couldn't set master/slave on port 3\n");
    sim::inject_eth_fault({"speed_set", -1, -4, 1});
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_10HD), -1);
    EXPECT_EQ(port_log().back(), "1:[KVU7B] EHSL_PORT_E: Couldn't set speed on port 3\n");
    EXPECT_EQ(driver_writes().back(), "speed_set(3,10)=-4");  // duplex was not touched
    sim::inject_eth_fault({"mdio_read", MII_CTRL1000, -6, 2});
    EXPECT_EQ(ehsl_port_config_set(kSfpPort, EHSL_PORT_CONFIG_10HD), -1);
    EXPECT_EQ(port_log().back(), "1:[KVU7A] EHSL_PORT_E: Couldn't read master mode on port 3\n");
}

// ---- supported speeds: needs the port map's capability phase to have ended ----

class SpeedsTest : public PortTest {
  protected:
    void SetUp() override {
        PortTest::SetUp();
        ehsl_pmap_init();
        end_capability_phase();
        for (int p = 1; p <= 3; ++p) {
            ehsl_pmap_synce_cap_init(p, 0);
        }
        sim::clear_log();
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
    sim::plug_sfp(c.module);
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, c.init_cap), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_set(kSfpPort, c.runtime_bit ? 8 : 0), 0);
    sim::clear_log();
    Bytes out(static_cast<size_t>(c.size) + 1, 0xAA);
    ASSERT_EQ(ehsl_port_supported_speeds_get(kSfpPort, out.data(), c.size), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.size), c.bytes);
    EXPECT_EQ(out.back(), 0xAA);  // nothing past the buffer
    const Texts log = port_log();
    EXPECT_EQ(
        log.back() == "1:[KVU7A] EHSL_PORT_E: Input bitmap to not large enough to hold result\n",
        c.too_small);
    EXPECT_FALSE(sim::eth_driver_locked());
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
    RowName());

// Needs a process where the capability phase has not ended yet.
TEST_F(PortTest, SupportedSpeedsHoldsTheDriverLockUntilTheCapabilityPhaseEnds) {
    if (capability_phase_ended) {
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
    ASSERT_TRUE(wait_until([] { return sim::eth_driver_locked(); }));
    EXPECT_FALSE(wait_until([&] { return done.load(); }, std::chrono::milliseconds(300)));
    EXPECT_TRUE(sim::eth_driver_locked());
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, 0x7), 0);
    end_capability_phase();
    ASSERT_TRUE(wait_until([&] { return done.load(); }));
    query.join();
    EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xE0, 0xF0, 0, 0}));  // values stored before the end
    EXPECT_FALSE(sim::eth_driver_locked());
}

TEST_F(PortTest, BoardPrintout) {
    EXPECT_EQ(run("port_conf"),
              "OXU HAL: Board specific configuration\n"
              "Num lan ports:     3\n"
              "Num wan ports:     1\n"
              "Num SFP ports:     1\n"
              "\n"
              "Enabled ports:     0x0000000e (bitmap)\n"
              "\n"
              "Port : MIIaddr : LAN port# : CP#\n"
              " 00     01        01          00\n"
              " 01     02        02          01\n"
              " 02     00        03          02\n");
}

TEST_F(PortTest, PortMapPrintoutAfterInitAndUpdates) {
    ehsl_pmap_init();
    ASSERT_EQ(ehsl_pmap_update(2, 17, 0), 0);
    ASSERT_EQ(ehsl_pmap_link_state_event_set(2, 1), 0);
    EXPECT_EQ(run("pmap_conf"),
              "------------------------------------------\n"
              "|   INFO       | port_1      |    port_2  | \n"
              "------------------------------------------\n"
              "|  hwPortNum   |            1      |             2    | \n"
              "|  epsPortNum  |           -1      |            17    | \n"
              "|  linkState   |            0      |             1    | \n"
              "|  eventSup    |            0      |             0    | \n"
              "|  wanLink     |            0      |             1    | \n"
              "|  llSpeed     |            0      |             0    | \n"
              "|  mac         |            0      |             0    | \n"
              "------------------------------------------ \n");
}

struct CliCase {
    const char *name;
    const char *command;
    sfp_hw_t module;
    int port;
    int value;
    const char *out;
};

class CliCommand : public PortTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliCommand, PrintsItsResultOrErrorLine) {
    const CliCase &c = GetParam();
    if (c.module == SFP_NO_SFP) {
        sim::pull_sfp();
    } else {
        sim::plug_sfp(c.module);
    }
    EXPECT_EQ(run(c.command, c.port, c.value), c.out);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, CliCommand, ::testing::Values(
    CliCase{"OperGet", "Operstatus_get", SFP_COPPER, 3, 0, "Oper status port 3  up\n"},
    CliCase{"OperGetError", "Operstatus_get", SFP_NO_SFP, 3, 0, "Error in admin status get\n"},
    CliCase{"OperSetOutside", "Operstatus_set", SFP_COPPER, 3, 4, "Error in Operstatus set\n"},
    CliCase{"AdminGet", "adminstatus_get", SFP_COPPER, 3, 0, "Admin status up\n"},
    CliCase{"SpeedSet", "speed_set", SFP_FIBER, 3, 1000, ""},
    CliCase{"SpeedGet", "speed_get", SFP_COPPER, 3, 0, "Speed 1000 Mbit/s\n"},
    CliCase{"LinkStatus", "link_status", SFP_FIBER, 3, 0, "Link status UP\n"},
    CliCase{"MdixGet", "mdix_get", SFP_FIBER, 3, 0, "mdix 0\n"},
    CliCase{"DuplexGet", "duplex_get", SFP_COPPER, 3, 0, "duplex 10\n"},
    CliCase{"ConfigGet", "config_get", SFP_COPPER, 3, 0,
            "Config status autoneg=1, speed=1, duplex=10\n"},
    CliCase{"ConfigSetError", "config_set", SFP_COPPER, 0, 6, "Error in config set\n"},
    CliCase{"AutonegGet", "autoneg_get", SFP_COPPER, 3, 0, "Autoneg: ON\n"},
    CliCase{"CaseMatters", "SPEED_GET", SFP_COPPER, 3, 0, ""}),
    RowName());
// clang-format on

TEST_F(SpeedsTest, SupportedSpeedsCommandPrintsTheFourBytes) {
    EXPECT_EQ(run("supported_speeds"), "Supported speeds: e0c00000/s\n");
}

}  // namespace
}  // namespace bsp::test
