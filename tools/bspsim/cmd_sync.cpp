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

#include "json.h"
#include "shell.h"

namespace bsp::shell {

namespace {

// A value in decimal or 0x-hexadecimal, signed or unsigned 32-bit.
bool parse_value(const std::string &word, long long *value) {
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX) {
        return refuse("not a 32-bit value: %s", word.c_str());
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
    std::string have;
    for (const EcpsOp &op : kEcpsOps) {
        have += std::string(" ") + op.name;
    }
    refuse("no such 1588 operation: %s (have:%s)", name.c_str(), have.c_str());
    return nullptr;
}

int cmd_ecps_init(const Args &) {
    int rc = ecps_init();
    unsigned int supported = 0;
    ecps_supported(&supported);
    std::printf("ecps_init: %d (%s)\n", rc, supported ? "1588 supported" : "no 1588 support");
    return rc == 0 ? 0 : fail("ecps_init = %d", rc);
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
        std::printf("%s port %d: failed (%d%s)\n", op->name, port, rc,
                    result_meaning("ecps_get", rc).c_str());
        return fail("%s port %d: %d", op->name, port, rc);
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
        return fail("%s cannot be set", op->name);
    }
    int rc = op->set(port, value);
    std::printf("%s port %d set to %lld: %d%s\n", op->name, port, value, rc,
                result_meaning("ecps_set", rc).c_str());
    return rc == 0 ? 0 : fail("%s port %d: %d", op->name, port, rc);
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
    std::printf("alarm %d for port %d: %d%s\n", alarm, port, rc,
                result_meaning("ecps_dbg_send_alarm", rc).c_str());
    return rc == 0 ? 0 : fail("ecps_dbg_send_alarm = %d", rc);
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

// "radio-shift unsupported" and "radio-shift disconnected" give both shifts that marker.
int cmd_radio_shift(const Args &args) {
    int si = 0;
    int so = 0;
    int ext = 0;
    if (args.size() == 1 && !parse_choice(args[0], {"unsupported", "disconnected"}, "SI alone")) {
        return 1;
    }
    const std::string &so_word = args.size() > 1 ? args[1] : args[0];
    if (!parse_shift(args[0], &si) || !parse_shift(so_word, &so) ||
        (args.size() > 2 && !parse_int(args[2], &ext))) {
        return 1;
    }
    if (!sim::radio_notify_shift(si, so, ext)) {
        return fail("no compensation-shift callback installed (run ecps-init)");
    }
    return 0;
}

int cmd_link_event(const Args &args) {
    int port = 0;
    uint32_t speed = 1000;
    if (!parse_int(args[0], &port) || !parse_choice(args[1], {"up", "down"}, "the link state") ||
        (args.size() > 2 && !parse_choice(args[2], {"10", "100", "1000"}, "SPEED"))) {
        return 1;
    }
    if (args.size() > 2) {
        speed = static_cast<uint32_t>(std::stoul(args[2]));
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

std::string trimmed(const std::string &text, size_t from, size_t length) {
    std::string part = from < text.size() ? text.substr(from, length) : "";
    size_t first = part.find_first_not_of(' ');
    size_t last = part.find_last_not_of(' ');
    return first == std::string::npos ? "" : part.substr(first, last - first + 1);
}

// The status table's rows, at the columns the table prints them in.
void print_seis_json(const std::string &text) {
    std::vector<std::string> links;
    size_t start = text.find("---\n");
    while (start != std::string::npos && (start = text.find('\n', start)) != std::string::npos &&
           start + 1 < text.size()) {
        size_t end = text.find('\n', start + 1);
        std::string row = text.substr(start + 1, end - start - 1);
        start = end;
        links.push_back(JsonObject()
                            .num("hw_port", std::atoi(trimmed(row, 0, 2).c_str()))
                            .str("enabled", trimmed(row, 6, 3))
                            .str("ingress", trimmed(row, 15, 20))
                            .num("dnu", std::atoi(trimmed(row, 41, 1).c_str()))
                            .str("egress", trimmed(row, 43, 15))
                            .str("mode", trimmed(row, 60, 8))
                            .text());
    }
    JsonObject j;
    if (text.rfind("ERROR", 0) == 0) {
        j.str("error", trimmed(text.substr(0, text.find('\n')), 0, std::string::npos));
    }
    j.raw("links", json_array(links)).print();
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
    if (json() && args.empty()) {
        print_seis_json(text.data());
    } else {
        std::fputs(text.data(), stdout);
    }
    return 0;
}

int cmd_seis_port(const Args &args) {
    int port = 0;
    if (!parse_int(args[0], &port) || !parse_choice(args[1], {"enable", "disable"}, "seis-port")) {
        return 1;
    }
    int rc = args[1] == "enable" ? seis_handle_enable_port(port) : seis_handle_disable_port(port);
    std::printf("%s port %d: %d%s\n", args[1].c_str(), port, rc,
                result_meaning("seis_handle", rc).c_str());
    return rc == 0 ? 0 : fail("%s port %d: %d", args[1].c_str(), port, rc);
}

int cmd_seis_mode(const Args &args) {
    int port = 0;
    const std::string &role = args[1];
    if (!parse_int(args[0], &port) ||
        !parse_choice(role, {"master", "slave", "bidir", "both"}, "ROLE")) {
        return 1;
    }
    int master = role == "master" || role == "both";
    int slave = role == "slave" || role == "both";
    int rc = seis_handle_set_eth_mode(port, master, slave);
    std::printf("%s port %d: %d%s\n", role.c_str(), port, rc,
                result_meaning("seis_handle", rc).c_str());
    return rc == 0 ? 0 : fail("%s port %d: %d", role.c_str(), port, rc);
}

int cmd_seis_far_end(const Args &args) {
    int link = 0;
    uint32_t ssm = 0;
    if (!parse_int(args[0], &link) || !parse_range(args[1], 0, 15, "SSM", &ssm)) {
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
    {"radio-shift", 1, 3, "SI SO [EXT]|unsupported|disconnected",
     "the radio reports compensation shifts", cmd_radio_shift},
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
