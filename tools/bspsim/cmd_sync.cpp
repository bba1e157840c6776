// Shell commands of the synchronisation families: the 1588 operations and report, SEIS
// start, handlers and status command, and the radio and link events that drive them.
#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_sim/sim.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell.h"

namespace bsp::shell {

namespace {

// A value in decimal or 0x-hexadecimal, signed or unsigned 32-bit.
bool parse_value(const std::string &word, long long *value) {
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX) {
        std::fprintf(stderr, "not a 32-bit value: %s\n", word.c_str());
        return false;
    }
    *value = v;
    return true;
}

int as_int(long long v) {
    return static_cast<int>(static_cast<uint32_t>(v));
}
unsigned as_uint(long long v) {
    return static_cast<unsigned>(v);
}

// One 1588 operation: its getter and setter through a common value type.
struct EcpsOp {
    const char *name;
    int (*get)(int port, long long *value);
    int (*set)(int port, long long value);
};

template <int (*Get)(int, unsigned int *)>
int get_uint(int port, long long *value) {
    unsigned int v = 0;
    int rc = Get(port, &v);
    *value = v;
    return rc;
}

template <int (*Get)(int, int *)>
int get_int(int port, long long *value) {
    int v = 0;
    int rc = Get(port, &v);
    *value = v;
    return rc;
}

template <int (*Set)(int, unsigned int)>
int set_uint(int port, long long value) {
    return Set(port, as_uint(value));
}

template <int (*Set)(int, int)>
int set_int(int port, long long value) {
    return Set(port, as_int(value));
}

int get_supported(int, long long *value) {
    unsigned int v = 0;
    int rc = ecps_supported(&v);
    *value = v;
    return rc;
}

int get_apu_version(int port, long long *value) {
    *value = ecps_apu_version_get(port);
    return 0;
}

constexpr EcpsOp kEcpsOps[] = {
    {"supported", get_supported, nullptr},
    {"apu-version", get_apu_version, set_int<ecps_apu_version_set>},
    {"sel1pps", get_uint<ecps_sel1PPS_get>, set_uint<ecps_sel1PPS_set>},
    {"tsu", get_uint<ecps_tsuCtrl_get>, set_uint<ecps_tsuCtrl_set>},
    {"link-delay", get_uint<ecps_linkDelay_get>, set_uint<ecps_linkDelay_set>},
    {"alarm-period", get_uint<ecps_alarmPeriod_get>, set_uint<ecps_alarmPeriod_set>},
    {"sync-src", get_uint<ecps_syncSrc_get>, set_uint<ecps_syncSrc_set>},
    {"delay", get_int<ecps_delayComp_get>, set_int<ecps_delayComp_set>},
    {"asymmetry", get_uint<ecps_asymmetryCompensation_get>,
     set_uint<ecps_asymmetryCompensation_set>},
    {"oper-mode", get_int<ecps_delayCompOperMode_get>, set_int<ecps_delayCompOperMode_set>},
    {"bonding", get_int<ecps_rlBondingStatus_get>, set_int<ecps_rlBondingStatus_set>},
};

const EcpsOp *find_op(const std::string &name) {
    for (const EcpsOp &op : kEcpsOps) {
        if (name == op.name) {
            return &op;
        }
    }
    std::fprintf(stderr, "no such 1588 operation: %s (have:", name.c_str());
    for (const EcpsOp &op : kEcpsOps) {
        std::fprintf(stderr, " %s", op.name);
    }
    std::fprintf(stderr, ")\n");
    return nullptr;
}

int cmd_ecps_init(const Args &) {
    int rc = ecps_init();
    unsigned int supported = 0;
    ecps_supported(&supported);
    std::printf("ecps_init: %d (%s)\n", rc, supported ? "1588 supported" : "no 1588 support");
    return rc == 0 ? 0 : 1;
}

int cmd_ecps_get(const Args &args) {
    const EcpsOp *op = find_op(args[0]);
    int port = KVU_HAL_RL_HW_PORT;
    if (op == nullptr || (args.size() > 1 && !parse_int(args[1], &port))) {
        return 1;
    }
    long long value = 0;
    int rc = op->get(port, &value);
    if (rc != 0) {
        std::printf("%s port %d: failed (%d)\n", op->name, port, rc);
        return 1;
    }
    std::printf("%s port %d: %lld\n", op->name, port, value);
    return 0;
}

int cmd_ecps_set(const Args &args) {
    const EcpsOp *op = find_op(args[0]);
    int port = 0;
    long long value = 0;
    if (op == nullptr || !parse_int(args[1], &port) || !parse_value(args[2], &value)) {
        return 1;
    }
    if (op->set == nullptr) {
        std::fprintf(stderr, "%s cannot be set\n", op->name);
        return 1;
    }
    int rc = op->set(port, value);
    std::printf("%s port %d set to %lld: %d\n", op->name, port, value, rc);
    return rc == 0 ? 0 : 1;
}

int print_trap_info(int port, unsigned int alarm) {
    std::printf("trap-info: port %d alarm %u\n", port, alarm);
    return 0;
}

int cmd_ecps_alarm(const Args &args) {
    int port = 0;
    int alarm = 0;
    if (!parse_int(args[0], &port) || !parse_int(args[1], &alarm)) {
        return 1;
    }
    int rc = ecps_install_trap_info_callback(print_trap_info);
    if (rc == 0) {
        rc = ecps_dbg_send_alarm(port, alarm);
    }
    std::printf("alarm %d for port %d: %d\n", alarm, port, rc);
    return rc == 0 ? 0 : 1;
}

int cmd_ecps_report(const Args &) {
    std::vector<char> text(1024);
    ecps_debug_print(static_cast<int>(text.size()), text.data());
    std::fputs(text.data(), stdout);
    return 0;
}

// Shift values, or the radio's words for its reserved markers.
bool parse_shift(const std::string &word, int *shift) {
    if (word == "unsupported" || word == "disconnected") {
        *shift = word == "unsupported" ? sim::kRadioShiftUnsupported : sim::kRadioShiftDisconnected;
        return true;
    }
    long long v = 0;
    if (!parse_value(word, &v)) {
        return false;
    }
    *shift = as_int(v);
    return true;
}

int cmd_radio_shift(const Args &args) {
    int si = 0;
    int so = 0;
    int ext = 0;
    if (!parse_shift(args[0], &si) || !parse_shift(args[1], &so) ||
        (args.size() > 2 && !parse_int(args[2], &ext))) {
        return 1;
    }
    if (!sim::radio_notify_shift(si, so, ext)) {
        std::fprintf(stderr, "no compensation-shift callback installed (run ecps-init)\n");
        return 1;
    }
    return 0;
}

int cmd_link_event(const Args &args) {
    int port = 0;
    uint32_t speed = 1000;
    if (!parse_int(args[0], &port) || (args[1] != "up" && args[1] != "down") ||
        (args.size() > 2 && !parse_u32(args[2], &speed))) {
        std::fprintf(stderr, "usage: link-event PORT up|down [SPEED]\n");
        return 1;
    }
    sim::raise_port_link_event(port, args[1] == "up", speed);
    sim::wait_link_events_delivered();
    return 0;
}

int cmd_seis_init(const Args &) {
    ehsl_pmap_init();
    std::printf("init_seis: %d\n", init_seis());
    return 0;
}

int cmd_seis(const Args &args) {
    std::vector<std::string> words{"seis"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    std::vector<char> text(1024);
    seis_cmd(static_cast<int>(argv.size()), argv.data(), static_cast<int>(text.size()),
             text.data());
    std::fputs(text.data(), stdout);
    return 0;
}

int cmd_seis_port(const Args &args) {
    int port = 0;
    if (!parse_int(args[0], &port) || (args[1] != "enable" && args[1] != "disable")) {
        std::fprintf(stderr, "usage: seis-port HW_PORT enable|disable\n");
        return 1;
    }
    int rc = args[1] == "enable" ? seis_handle_enable_port(port) : seis_handle_disable_port(port);
    std::printf("%s port %d: %d\n", args[1].c_str(), port, rc);
    return rc == 0 ? 0 : 1;
}

int cmd_seis_mode(const Args &args) {
    int port = 0;
    const std::string &role = args[1];
    bool known = role == "master" || role == "slave" || role == "bidir" || role == "both";
    if (!parse_int(args[0], &port) || !known) {
        std::fprintf(stderr, "usage: seis-mode HW_PORT master|slave|bidir|both\n");
        return 1;
    }
    int master = role == "master" || role == "both";
    int slave = role == "slave" || role == "both";
    int rc = seis_handle_set_eth_mode(port, master, slave);
    std::printf("%s port %d: %d\n", role.c_str(), port, rc);
    return rc == 0 ? 0 : 1;
}

int cmd_seis_far_end(const Args &args) {
    int link = 0;
    uint32_t ssm = 0;
    if (!parse_int(args[0], &link) || !parse_u32(args[1], &ssm) || ssm > 15) {
        std::fprintf(stderr, "usage: seis-far-end LINK SSM (0..15)\n");
        return 1;
    }
    sim::seis_set_far_end_ql(link, ssm);
    return 0;
}

// The FPGA keeps its registers for the next run's warm start.
const bool kSaveFpgaAtExit = [] {
    at_shell_exit(sim::save_fpga_state);
    return true;
}();

constexpr Command kCommands[] = {
    {"ecps-init", 0, 0, "", "start the 1588 family (ecps_init)", cmd_ecps_init},
    {"ecps-get", 1, 2, "OP [PORT]", "read a 1588 operation (PORT default 1)", cmd_ecps_get},
    {"ecps-set", 3, 3, "OP PORT VALUE", "set a 1588 operation", cmd_ecps_set},
    {"ecps-alarm", 2, 2, "PORT ALARM", "send a debug alarm to a printing trap callback",
     cmd_ecps_alarm},
    {"ecps-report", 0, 0, "", "print the 1588 status report", cmd_ecps_report},
    {"radio-shift", 2, 3, "SI SO [EXT]", "the radio reports compensation shifts", cmd_radio_shift},
    {"link-event", 2, 3, "PORT up|down [SPEED]", "the MAC/SFP driver reports a link event",
     cmd_link_event},
    {"seis-init", 0, 0, "", "start the port map and SEIS (init_seis)", cmd_seis_init},
    {"seis", 0, -1, "[-h] [-r] [-v]", seis_descr, cmd_seis},
    {"seis-port", 2, 2, "HW_PORT enable|disable", "enable or disable SSM handling", cmd_seis_port},
    {"seis-mode", 2, 2, "HW_PORT ROLE", "PHY role: master, slave, bidir or both", cmd_seis_mode},
    {"seis-far-end", 2, 2, "LINK SSM", "QL the far end of a SEIS link sends", cmd_seis_far_end},
};

}  // namespace

std::span<const Command> sync_commands() {
    return kCommands;
}

}  // namespace bsp::shell
