// bspsim: the simulated unit with libbsp_ctrl.so loaded, driven from a command line.
#include <bsp_sim/bsp_sim_c.h>
#include <bsp_sim/sim.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "shell.h"

namespace {

struct Options {
    std::vector<std::string> commands;
    std::string script;
    std::string state_dir = "./bspsim-state";
};

void usage() {
    std::printf(
        "usage: bspsim [-s STATE_DIR] [-c COMMAND]... [SCRIPT]\n"
        "  -s, --state DIR   folder that keeps the board between runs (default ./bspsim-state)\n"
        "  -c COMMAND        run one command line (repeatable), then exit\n"
        "  SCRIPT            run the command lines of a file, then exit\n"
        "Without -c or SCRIPT, commands are read from standard input; \"help\" lists them.\n");
}

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if ((a == "-c") && has_value) {
            o->commands.push_back(argv[++i]);
        } else if ((a == "-s" || a == "--state") && has_value) {
            o->state_dir = argv[++i];
        } else if (a == "-h" || a == "--help") {
            usage();
            std::exit(0);
        } else if (!a.empty() && a[0] != '-' && o->script.empty()) {
            o->script = a;
        } else {
            usage();
            return false;
        }
    }
    return true;
}

int run_stream(std::istream &in, bool interactive) {
    int failures = 0;
    std::string line;
    for (;;) {
        if (interactive) {
            std::printf("bsp> ");
            std::fflush(stdout);
        }
        if (!std::getline(in, line)) {
            break;
        }
        if (line == "quit" || line == "exit") {
            break;
        }
        failures += bsp::shell::run_line(line) != 0;
    }
    if (interactive) {
        std::printf("\n");
    }
    return failures;
}

void start_unit(const Options &o) {
    bsp_sim_start(o.state_dir.c_str());
    bsp::shell::seed_faults_from_env();
    // FPGA registers as the last run left them; saved again when the shell ends.
    std::string registers = bsp::sim::state_path("fpga-registers");
    bsp::sim::fpga_load(registers);
    bsp::shell::at_shell_exit([registers] { bsp::sim::fpga_save(registers); });
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse_options(argc, argv, &o)) {
        return 2;
    }
    start_unit(o);
    int failures = 0;
    for (const std::string &c : o.commands) {
        failures += bsp::shell::run_line(c) != 0;
    }
    if (!o.script.empty()) {
        std::ifstream in(o.script);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", o.script.c_str());
            return 2;
        }
        failures += run_stream(in, false);
    } else if (o.commands.empty()) {
        failures += run_stream(std::cin, isatty(0) != 0);
    }
    bsp::shell::run_exit_hooks();
    return failures == 0 ? 0 : 1;
}
