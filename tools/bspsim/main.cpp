// The shell's main program: the unit (simulated, or the real one the shell runs on) with
// libbsp_ctrl.so loaded, driven from a command line, a script, a console socket, or all of them
// at once; or the same shell attached to a running unit.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "attach.h"
#include "console.h"
#include "front.h"
#include "shell.h"
#include "signals.h"
#include "start.h"

namespace {

using namespace bsp::shell;

struct Options {
    std::vector<std::string> commands;
    std::string script;
    std::string state_dir = kDefaultStateDir;
    std::string console;  // serve the console beside the shell
    std::string serve;    // serve the console only
    std::string attach;   // the shell against a running unit
    bool json = false;
};

void usage(FILE *to) {
    std::fprintf(
        to,
        "usage: %s [-s DIR] [--json] [--console PATH] [-c COMMAND]... [SCRIPT]\n"
        "       %s [-s DIR] [--json] --serve PATH\n"
        "       %s [--json] --attach PATH [-c COMMAND]... [SCRIPT]\n"
        "  -s, --state DIR   folder that keeps the board between runs (default %s)\n"
        "  -c COMMAND        run one command line (repeatable), then exit\n"
        "  SCRIPT            run the command lines of a file, then exit\n"
        "  --console PATH    also serve the commands on a Unix socket\n"
        "  --serve PATH      serve the commands on a Unix socket only, until SIGINT,\n"
        "                    SIGTERM or the console command \"shutdown\"\n"
        "  --attach PATH     run the shell against the unit serving PATH\n"
        "  --json            status commands answer with one JSON object\n"
        "Without -c or SCRIPT, commands are read from standard input; \"help\" lists them.\n",
        kProgram, kProgram, kProgram, kDefaultStateDir);
}

bool take_value(int argc, char **argv, int *i, std::string *value) {
    if (*i + 1 >= argc) {
        return false;
    }
    *value = argv[++*i];
    return true;
}

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool ok = true;
        if (a == "-c") {
            ok = take_value(argc, argv, &i, &o->commands.emplace_back());
        } else if (a == "-s" || a == "--state") {
            ok = take_value(argc, argv, &i, &o->state_dir);
        } else if (a == "--console") {
            ok = take_value(argc, argv, &i, &o->console);
        } else if (a == "--serve") {
            ok = take_value(argc, argv, &i, &o->serve);
        } else if (a == "--attach") {
            ok = take_value(argc, argv, &i, &o->attach);
        } else if (a == "--json") {
            o->json = true;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            std::exit(0);
        } else if (!a.empty() && a[0] != '-' && o->script.empty()) {
            o->script = a;
        } else {
            ok = false;
        }
        if (!ok) {
            usage(stderr);
            return false;
        }
    }
    return true;
}

// The unit serves its console until a signal or "shutdown".
void serve_until_end() {
    while (!end_requested()) {
        pollfd p = {signal_fd(), POLLIN, 0};
        ::poll(&p, 1, -1);
        clear_signal_fd();
    }
}

int run_front(LineRunner &runner, const Options &o, bool live_output) {
    if (!o.commands.empty()) {
        return run_commands(runner, o.commands);
    }
    if (!o.script.empty() || isatty(0) == 0) {
        return run_script(runner, o.script);
    }
    return run_terminal(runner, live_output);
}

int attach(const Options &o) {
    install_signal_handlers(isatty(0) != 0 && o.commands.empty() && o.script.empty());
    AttachRunner runner;
    if (!runner.connect(o.attach)) {
        return 2;
    }
    bool failed = false;
    if (o.json && (runner.run("json on", &failed), failed)) {
        return 1;
    }
    return run_front(runner, o, false) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse_options(argc, argv, &o)) {
        return 2;
    }
    if (!o.attach.empty()) {
        return attach(o);
    }
    bool terminal = o.serve.empty() && o.commands.empty() && o.script.empty() && isatty(0) != 0;
    install_signal_handlers(terminal);
    if (!start_unit(o.state_dir)) {
        return 2;
    }
    set_shutdown_action(request_end);
    set_console_json(o.json);
    std::string socket_path = o.serve.empty() ? o.console : o.serve;
    std::string why;
    if (!socket_path.empty() && !console_serve(socket_path, &why)) {
        std::fprintf(stderr, "%s: console: %s\n", kProgram, why.c_str());
        run_exit_hooks();
        return 2;
    }
    int failures = 0;
    if (!o.serve.empty()) {
        serve_until_end();
    } else {
        Session local;
        local.json = o.json;
        LocalRunner runner(local, !terminal);
        failures = run_front(runner, o, true);
    }
    console_stop();
    run_exit_hooks();
    return failures == 0 ? 0 : 1;
}
