// Commands about the shell itself rather than the unit: help, leaving, JSON answers, and
// ending the unit from its console.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "shell.h"

namespace bsp::shell {

namespace {

constexpr size_t kUsageColumn = 30;  // a longer synopsis puts its help on the next line

// Columns as wide as the longest name and synopsis, so that every line lines up.
int cmd_help(const Args &args) {
    size_t name_width = 0;
    size_t usage_width = 0;
    for (const Command &c : all_commands()) {
        name_width = std::max(name_width, std::strlen(c.name));
        usage_width = std::max(usage_width, std::min(kUsageColumn, std::strlen(c.usage)));
    }
    auto nw = static_cast<int>(name_width);
    auto uw = static_cast<int>(usage_width);
    bool shown = false;
    for (const Command &c : all_commands()) {
        if (args.empty() || args[0] == c.name) {
            if (std::strlen(c.usage) > usage_width) {
                std::printf("  %-*s %s\n  %-*s %-*s %s\n", nw, c.name, c.usage, nw, "", uw, "",
                            c.help);
            } else {
                std::printf("  %-*s %-*s %s\n", nw, c.name, uw, c.usage, c.help);
            }
            shown = true;
        }
    }
    if (args.empty()) {
        std::fputs(help_note(), stdout);
    }
    return shown ? 0 : fail("unknown command: %s", args[0].c_str());
}

// Leaving is the reader's business (run_line tells it); listed here so that help shows it.
int cmd_quit(const Args &) {
    return 0;
}

int cmd_json(const Args &args) {
    if (!args.empty()) {
        if (!parse_choice(args[0], {"on", "off"}, "json")) {
            return 1;
        }
        session().json = args[0] == "on";
    }
    std::printf("json %s\n", session().json ? "on" : "off");
    return 0;
}

int cmd_shutdown(const Args &) {
    request_shutdown();
    return 0;
}

constexpr Command kCommands[] = {
    {"help", 0, 1, "[CMD]", "list the commands, or show one", cmd_help},
    {"quit", 0, 0, "", "leave the shell (a console client detaches; the unit runs on)", cmd_quit},
    {"exit", 0, 0, "", "the same as quit", cmd_quit},
    {"json", 0, 1, "[on|off]", "status commands answer with one JSON object", cmd_json},
    {"shutdown", 0, 0, "", "end the unit, saving its state", cmd_shutdown},
};

}  // namespace

std::span<const Command> session_commands() {
    return kCommands;
}

}  // namespace bsp::shell
