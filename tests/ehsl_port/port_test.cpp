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
    }
};

std::string run(const char *name, int port = kSfpPort, int value = 0) {
    StdoutCapture out;
    EXPECT_EQ(cli_cmd(0, port, const_cast<char *>(name), value), 0);
    return out.text();
}

// A printout through its command: its number of lines, and one line of each form it prints;
// the printing function called directly reports success.
void expect_printout(const char *command, int (*print)(), long lines, const Texts &samples) {
    const std::string out = run(command);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), lines) << out;
    for (const std::string &line : samples) {
        EXPECT_THAT(out, ::testing::HasSubstr(line));
    }
    StdoutCapture again;
    EXPECT_EQ(print(), 0);
}

// Before the port layer is started (where it was not started earlier in this process; each
// test case runs in a process of its own under CTest), the stub prints its starting values and
// cannot be written; the start publishes it once and starts the driver each time.
TEST(PortInit, StartsTheDriverAndPublishesTheStub) {
    sim::reset_unit();
    if (kvu_info == nullptr) {
        expect_printout("stub_conf", kvu_stub_cmd, 13,
                        {"|  Speed       |  1000     |    1000    | \n"});
        EXPECT_EQ(run("Operstatus_set", 1, 1), "Error in Operstatus set\n");
    }
    EXPECT_EQ(sfp_port_hw_status(kSfpPort), SFP_NOT_INIT);
    sim::clear_log();
    ehsl_port_init();
    EXPECT_EQ(port_log(), (Texts{"1:[KVU7B] ehsl_port_kvu: init eth ports\n",
                                 "1:[KVU7B] ehsl_port_kvu: calling eth_ctrl_emac_sfp_init\n"}));
    const kvu_stub *first = kvu_info;
    ehsl_port_init();
    EXPECT_EQ(kvu_info, first);
    EXPECT_EQ(sim::eth_driver_init_calls(), 2u);
    EXPECT_EQ(ehsl_port_oper_status_set(1, 7), 0);
    expect_printout("stub_conf", kvu_stub_cmd, 13,
                    {"|  OperStatus  |     2     |       7    | \n"});
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

// Ports outside the board (named in the log) and ports whose PHY has an MII address of its own
// (refused silently); then the cage without a usable module: empty, failing, and not yet
// watched (the driver has not been started), where the commands print their error lines.
TEST_F(PortTest, EveryOperationRefusesPortsWithoutAUsableModule) {
    std::fill(std::begin(speeds_out), std::end(speeds_out), 0x55);
    for (int p : {0, -1, 4, 1, 2}) {
        sim::clear_log();
        EXPECT_EQ(sfp_port_hw_status(p), SFP_NO_SFP);
        EXPECT_EQ(ehsl_port_phy_get(p, MII_BMCR, &given), -1);
        const std::string m = "2:[KVU7B] EHSL_PORT_E: Illegal port number: " + std::to_string(p);
        EXPECT_EQ(port_log(), p >= 1 && p <= 3 ? Texts{} : Texts{m + "\n"});
        for (const Classified &op : kClassified) {
            EXPECT_EQ(op.call(p), -1) << op.name << " on port " << p;
        }
    }
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
    }
    EXPECT_EQ(Bytes(speeds_out, speeds_out + 2), (Bytes{0, 0x55}));
    EXPECT_TRUE(driver_writes().empty());
    EXPECT_FALSE(sim::eth_driver_locked());
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
const FpgaAccess kFlowOn{FpgaAccess::Write, sim::FpgaWidth::W32, 0xCB00, 0x20000000, 0x60000000};
const FpgaAccess kFlowOff{FpgaAccess::Write, sim::FpgaWidth::W32, 0xCB00, 0, 0x60000000};
const std::string kRestart = "mdio_write(0,0,0x1340)=0";
const std::string kAdv1000 = "mdio_write(0,4,0x0001)=0";
const std::string kNo1000 = "mdio_write(0,9,0x0000)=0";

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
    sim::inject_eth_fault(c.fault);  // a fault naming no call fails none
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

// Autonegotiation off through the driver.
void autoneg_off() {
    eth_ctrl_emac_sfp_autoneg_set(PHY_AUTONEG_STOP);
}

// A configuration through the operation.
template <int N>
int config_set() {
    return ehsl_port_config_set(kSfpPort, static_cast<ehsl_port_cfg_t>(N));
}

// Autonegotiation off and the configuration forced.
template <int N>
void forced() {
    autoneg_off();
    config_set<N>();
}

// The configured speed of the SFP port through `given` (as it was where none is recognised).
int config_speed() {
    cfg_out = static_cast<ehsl_port_cfg_t>(given);
    ehsl_port_cfg_t duplex = EHSL_PORT_CONFIG_HD;
    const int r = ehsl_port_config_get(kSfpPort, &given, &cfg_out, &duplex);
    given = cfg_out;
    return r;
}

// A command's printout compared with `out`; gives 0.
int printed(const char *command, int port, int value, const char *out) {
    EXPECT_EQ(run(command, port, value), out) << command;
    return 0;
}

// The port map's capability phase over, with `cap` stored for the SFP port from the start and
// the run-time bit set where `runtime`.
void capabilities(int cap, bool runtime) {
    ehsl_pmap_init();
    end_capability_phase();
    ASSERT_EQ(ehsl_pmap_synce_cap_init(kSfpPort, cap), 0);
    ASSERT_EQ(ehsl_pmap_synce_cap_set(kSfpPort, runtime ? 8 : 0), 0);
}

// The supported speeds in a buffer of `size` bytes compared with `bytes` (the bitmap's most
// significant byte first; the byte past the buffer stays as it was).
int speeds(int size, const char *bytes) {
    Bytes out(static_cast<size_t>(size) + 1, 0xAA);
    const int r = ehsl_port_supported_speeds_get(kSfpPort, out.data(), size);
    EXPECT_EQ(hex(out), hex(unhex(bytes)) + (size > 0 ? " aa" : "aa"));
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
    OpCase{"ConfigSetMasterModeFault", C, {"mdio_read", MII_CTRL1000, -6, 2}, config_set<9>, -1, 7, {}, std::nullopt, nullptr, {}, "1:[KVU7A] EHSL_PORT_E: Couldn't read master mode on port 3\n"},
    // speed and duplex are read after the link test (the first status read after power-on
    // shows the latched link loss)
    OpCase{"SpeedGetAfterTheLinkTest", C, {}, [] { return ehsl_port_speed_get(kSfpPort, &given); }, 0, 1000, {}, std::nullopt, nullptr, {}, "1:[KVU7B] EHSL_PORT: ehsl_port_speed_get(port 3, 1000)\n"},
    OpCase{"SpeedGetWithoutLink", C, {}, [] { return ehsl_port_speed_get(kSfpPort, &given); }, 0, 0, {}, std::nullopt, [] { sim::set_link_connected(false); }},
    // autonegotiation on, from the power-on advertisement (which reads as AUTODETECT): the
    // advertisement is written and renegotiated (the advertisements that the forced
    // configurations share show there)
    OpCase{"ConfigOnAutodetect", C, {}, config_set<1>, 0, 7, {}},
    OpCase{"ConfigOnHalf1000", C, {}, config_set<5>, 0, 7, {kAdv1000, "mdio_write(0,9,0x0100)=0", kRestart}},
    OpCase{"ConfigOnFull100", C, {}, config_set<6>, 0, 7, {"mdio_write(0,4,0x0101)=0", kNo1000, kRestart}},
    OpCase{"ConfigOnOutOfRange", C, {}, config_set<42>, 0, 7, {kAdv1000, kRestart}},
    // off, from forced 1000 Mbit/s full duplex with automatic master/slave: speed, master mode
    // and duplex are forced in that order, and the first failure ends the sequence
    OpCase{"ConfigOffAutodetect", C, {}, config_set<1>, 0, 7, {"mdio_write(0,4,0x0141)=0", "speed_set(3,0)=0"}, std::nullopt, autoneg_off, {}, "1:[KVU7A] EHSL_PORT_E:(3) ehsl_port_config_set: autodetect not allowed when autoneg is off\n"},
    OpCase{"ConfigOffAutodetectFromMaster", C, {}, config_set<1>, 0, 7, {"mdio_write(0,4,0x0141)=0", "mdio_write(0,9,0x0200)=0", "speed_set(3,0)=0", "master_set(3,3)=0"}, std::nullopt, forced<2>},
    OpCase{"ConfigOffMaster1000", C, {}, config_set<2>, 0, 7, {kAdv1000, "mdio_write(0,9,0x1a00)=0", "master_set(3,2)=0"}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffSlave1000", C, {}, config_set<3>, 0, 7, {kAdv1000, "mdio_write(0,9,0x1200)=0", "master_set(3,1)=0"}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffFull1000", C, {}, config_set<4>, 0, 7, {kAdv1000}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffFull100", C, {}, config_set<6>, 0, 7, {"mdio_write(0,4,0x0101)=0", kNo1000, "speed_set(3,100)=0"}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffHalf100", C, {}, config_set<7>, 0, 7, {"mdio_write(0,4,0x0081)=0", kNo1000, "speed_set(3,100)=0", "duplex_set(3,11)=0"}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffFull10", C, {}, config_set<8>, 0, 7, {"mdio_write(0,4,0x0041)=0", kNo1000, "speed_set(3,10)=0"}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffHalf10", C, {}, config_set<9>, 0, 7, {"mdio_write(0,4,0x0021)=0", kNo1000, "speed_set(3,10)=0", "duplex_set(3,11)=0"}, std::nullopt, autoneg_off},
    OpCase{"ConfigOffHalf1000Refused", C, {}, config_set<5>, -1, 7, {}, std::nullopt, autoneg_off, {}, "1:[KVU7A] EHSL_PORT_E:ehsl_port_config_set: Unknown Config type 5\n"},
    OpCase{"ConfigOffMasterFault", C, {"master_set", -1, -9, 1}, config_set<3>, -1, 7, {kAdv1000, "mdio_write(0,9,0x1200)=0", "master_set(3,1)=-9"}, std::nullopt, autoneg_off, {}, "1:[KVU7B] EHSL_PORT_E: Couldn't set master/slave on port 3\n"},
    OpCase{"ConfigOffSpeedFault", C, {"speed_set", -1, -4, 1}, config_set<9>, -1, 7, {"mdio_write(0,4,0x0021)=0", kNo1000, "speed_set(3,10)=-4"}, std::nullopt, autoneg_off, {}, "1:[KVU7B] EHSL_PORT_E: Couldn't set speed on port 3\n"},
    OpCase{"MdixGet", C, {}, [] { return via_out(ehsl_port_mdix_get); }, 0, EHSL_PORT_MDIX_AUTO, {}},
    OpCase{"MdixSetUnchanged", C, {}, [] { return ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_AUTO); }, 0, 7, {}},
    OpCase{"MdixSetCrossover", C, {}, [] { return ehsl_port_mdix_set(kSfpPort, EHSL_PORT_MDIX_XOVER); }, 0, 7, {"mdix_set(3,2)=0"}},
    OpCase{"DuplexSetOnlyAChange", C, {}, [] { return ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_HD); }, 0, 7, {"duplex_set(3,11)=0"}, std::nullopt, [] { ehsl_port_duplex_set(kSfpPort, EHSL_PORT_CONFIG_FD); }},
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
    // the commands print their result or error line; the names are case-sensitive
    OpCase{"CommandOperGet", C, {}, [] { return printed("Operstatus_get", 3, 0, "Oper status port 3  up\n"); }, 0, 7, {}},
    OpCase{"CommandOperGetError", SFP_NO_SFP, {}, [] { return printed("Operstatus_get", 3, 0, "Error in admin status get\n"); }, 0, 7, {}},
    OpCase{"CommandAdminGet", C, {}, [] { return printed("adminstatus_get", 3, 0, "Admin status up\n"); }, 0, 7, {}},
    OpCase{"CommandSpeedSet", F, {}, [] { return printed("speed_set", 3, 1000, ""); }, 0, 7, {}},
    OpCase{"CommandSpeedGet", C, {}, [] { return printed("speed_get", 3, 0, "Speed 1000 Mbit/s\n"); }, 0, 7, {}},
    OpCase{"CommandLinkStatus", F, {}, [] { return printed("link_status", 3, 0, "Link status UP\n"); }, 0, 7, {}},
    OpCase{"CommandMdixGet", F, {}, [] { return printed("mdix_get", 3, 0, "mdix 0\n"); }, 0, 7, {}},
    OpCase{"CommandDuplexGet", C, {}, [] { return printed("duplex_get", 3, 0, "duplex 10\n"); }, 0, 7, {}},
    OpCase{"CommandConfigGet", C, {}, [] { return printed("config_get", 3, 0, "Config status autoneg=1, speed=1, duplex=10\n"); }, 0, 7, {}},
    OpCase{"CommandConfigSetError", C, {}, [] { return printed("config_set", 0, 6, "Error in config set\n"); }, 0, 7, {}},
    OpCase{"CommandAutonegGet", C, {}, [] { return printed("autoneg_get", 3, 0, "Autoneg: ON\n"); }, 0, 7, {}},
    OpCase{"CommandWithoutName", C, {}, [] { return cli_cmd(0, kSfpPort, nullptr, 0); }, 0, 7, {}},
    OpCase{"CommandCaseMatters", C, {}, [] { return printed("SPEED_GET", 3, 0, ""); }, 0, 7, {}},
    // the supported speeds, from the module and the SyncE capabilities
    OpCase{"SpeedsCopperFullCapability", C, {}, [] { return speeds(4, "e0 f8 00 00"); }, 0, 7, {}, std::nullopt, [] { capabilities(0x7, true); }},
    OpCase{"SpeedsFibreBitTwoOnly", F, {}, [] { return speeds(4, "20 20 00 00"); }, 0, 7, {}, std::nullopt, [] { capabilities(0x3, false); }},
    OpCase{"SpeedsCopperOneByte", C, {}, [] { return speeds(1, "e0"); }, 0, 7, {}, std::nullopt, [] { capabilities(0, false); }, {}, "1:[KVU7A] EHSL_PORT_E: Input bitmap to not large enough to hold result\n"},
    OpCase{"SpeedsFibreOneByteFits", F, {}, [] { return speeds(1, "20"); }, 0, 7, {}, Texts{"1:[KVU7B] EHSL_PORT: Get supported speed, port 3, size 1\n", "1:[KVU7B] EHSL_PORT1: tmp_speeds = 536870912, port 3, size 1\n", "1:[KVU7B] ehsl_port_supported_speeds_get: ehsl_port_supported_speeds_get - port = 3 speeds = 00000000\n", "1:[KVU7B] EHSL_PORT2: ehsl_port_supported_speeds_get(port 3 speeds: 20000000\n"}, [] { capabilities(0, false); }},
    OpCase{"SpeedsCopperSixBytes", C, {}, [] { return speeds(6, "e0 d0 00 00 00 00"); }, 0, 7, {}, std::nullopt, [] { capabilities(0x5, false); }},
    OpCase{"SpeedsCopperZeroBytes", C, {}, [] { return speeds(0, ""); }, 0, 7, {}, std::nullopt, [] { capabilities(0, false); }, {}, "1:[KVU7A] EHSL_PORT_E: Input bitmap to not large enough to hold result\n"},
    OpCase{"CommandSupportedSpeeds", C, {}, [] { return printed("supported_speeds", 3, 0, "Supported speeds: e0c00000/s\n"); }, 0, 7, {}, std::nullopt, [] { capabilities(0, false); }},
    // the command's value: 0 automatic, 1 master, anything else slave
    OpCase{"CommandMasterSetAutomatic", C, {}, [] { return static_cast<int>(run("master_set", kSfpPort, 0).size()); }, 0, 7, {"master_set(3,3)=0"}},
    OpCase{"CommandMasterSetMaster", C, {}, [] { return static_cast<int>(run("master_set", kSfpPort, 1).size()); }, 0, 7, {"master_set(3,2)=0"}},
    OpCase{"CommandMasterSetSlave", C, {}, [] { return static_cast<int>(run("master_set", kSfpPort, 7).size()); }, 0, 7, {"master_set(3,1)=0"}},
    OpCase{"ConfigGetReadsTheForcedState", C, {}, [] { return config_speed(); }, 0, EHSL_PORT_CONFIG_100HD, {}, std::nullopt, forced<7>, {}, "2:[KVU7B] EHSL_PORT: ehsl_port_config_get(port 3, autoneg: 0, speed: 7, duplex: 11)\n"},
    // pause on advertises both bits, switches the FPGA field on and renegotiates
    OpCase{"PauseOn", C, {}, [] { return ehsl_port_pause_set(kSfpPort, 0, 1); }, 0, 7, {"mdio_write(0,4,0x0de1)=0", kRestart}, std::nullopt, nullptr, {kFlowOn}},
    OpCase{"PauseGetAfterPauseOn", C, {}, [] { return pause_flags(ehsl_port_pause_get); }, 0, 1, {}, std::nullopt, [] { ehsl_port_pause_set(kSfpPort, 0, 1); }},
    // the receive flag decides; already off, the PHY is left alone but the FPGA written again
    OpCase{"PauseOffAgain", C, {}, [] { return ehsl_port_pause_set(kSfpPort, 1, 0); }, 0, 7, {}, Texts{"2:[KVU7B] EHSL_PORT: ehsl_port_pause_set(port=3, tx=1, rx=0)\n", "2:[KVU7B] EHSL PHY READ: Port 3: Reg:04: Val:01e1\n"}, [] { ehsl_port_pause_set(kSfpPort, 1, 0); }, {kFlowOff}},
    // the administrative status switches pause off first
    OpCase{"AdminStatusSetDown", C, {}, [] { return ehsl_port_adminstatus_set(kSfpPort, 0); }, 0, 7, {"mdio_write(0,4,0x01e1)=0", kRestart, "set_adminstatus(0)=0"}, std::nullopt, [] { ehsl_port_pause_set(kSfpPort, 1, 1); }, {kFlowOff}},
    OpCase{"AdminStatusSetFault", C, {"set_adminstatus", -1, -3, 1}, [] { return ehsl_port_adminstatus_set(kSfpPort, 1); }, -3, 7, {"set_adminstatus(1)=-3"}, std::nullopt, nullptr, {kFlowOff}},
    // the speed status as the link resolved with the partner (autonegotiation on)
    OpCase{"SpeedStatusGigabit", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_1000FD, {}},
    OpCase{"SpeedStatusFastEthernetFull", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_100FD, {}, std::nullopt, [] { sim::set_link_partner({.advertise = 0x01E1, .ctrl1000 = 0}); }},
    OpCase{"SpeedStatusTenHalfOnly", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_10HD, {}, std::nullopt, [] { sim::set_link_partner({.advertise = 0x0021, .ctrl1000 = 0}); }},
    OpCase{"SpeedStatusParallelDetection", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, 0, EHSL_PORT_SPEED_100HD, {}, std::nullopt, [] { sim::set_link_partner({.autoneg = false, .advertise = 0, .ctrl1000 = 0}); }},
    OpCase{"SpeedStatusNoCommonAbility", C, {}, [] { return via_out(ehsl_port_speed_status_get); }, -1, 7, {}, std::nullopt, [] { sim::set_link_partner({.advertise = 0x0001, .ctrl1000 = 0x0100}); }, {}, "1:[KVU7A] EHSL_PORT_E: Unknown speed result on port 3\n"},
    OpCase{"FibreSpeedGet", F, {}, [] { return ehsl_port_speed_get(kSfpPort, &given); }, 0, 1000, {}},
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
    [](const ::testing::TestParamInfo<OpCase> &row) { return std::string(row.param.name); });
// clang-format on

// ---- supported speeds: needs the port map's capability phase to have ended ----

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
}

// The board's entries and the port map's first two ports.
TEST_F(PortTest, BoardAndPortMapPrintouts) {
    expect_printout(
        "port_conf", kvu_hal_cmd, 11,
        {"Enabled ports:     0x0000000e (bitmap)\n\n", " 02     00        03          02\n"});
    ehsl_pmap_init();
    ASSERT_EQ(ehsl_pmap_update(2, 17, 0), 0);
    expect_printout("pmap_conf", kvu_pmap_cmd, 11,
                    {"|  epsPortNum  |           -1      |            17    | \n"});
}

}  // namespace
}  // namespace bsp::test
