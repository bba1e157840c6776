#include "shell.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#include "words.h"

namespace bsp::shell {

namespace {

thread_local Session *t_session = nullptr;
std::atomic<bool> g_interrupted{false};

std::mutex &exit_mutex() {
    static std::mutex m;
    return m;
}

std::vector<std::function<void()>> &exit_hooks() {
    static std::vector<std::function<void()>> hooks;
    return hooks;
}

const Command *find_command(const std::string &name) {
    for (const Command &c : all_commands()) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

bool arg_count_fits(const Command &c, size_t n) {
    return static_cast<int>(n) >= c.min_args &&
           (c.max_args < 0 || static_cast<int>(n) <= c.max_args);
}

std::string vformat(const char *format, va_list args) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    return buf;
}

// Runs the command named by the first word; the reason of a failure is left in the session.
int dispatch(const Args &words) {
    const Command *c = find_command(words[0]);
    if (c == nullptr) {
        return fail("unknown command: %s (try \"help\")", words[0].c_str());
    }
    Args args(words.begin() + 1, words.end());
    if (!arg_count_fits(*c, args.size())) {
        return fail("usage: %s %s", c->name, c->usage);
    }
    int rc = c->run(args);
    if (rc != 0 && session().error.empty()) {
        session().error = std::string(c->name) + " failed";
    }
    return rc;
}

bool is_quit(const Args &words) {
    return words.size() == 1 && (words[0] == "quit" || words[0] == "exit");
}

}  // namespace

const std::vector<Command> &all_commands() {
    // Never destroyed: console clients of a hosted application may still look a command up
    // while the process exits.
    static const std::vector<Command> &commands = *[] {
        auto *all_ptr = new std::vector<Command>;
        std::vector<Command> &all = *all_ptr;
        for (auto table : command_tables()) {
            all.insert(all.end(), table.begin(), table.end());
        }
        return all_ptr;
    }();
    return commands;
}

Session &session() {
    static Session fallback;
    return t_session != nullptr ? *t_session : fallback;
}

Next run_line(const std::string &line, Session &s, bool *failed,
              const std::function<void(const std::string &)> &status) {
    Session *outer = t_session;
    t_session = &s;
    s.error.clear();
    std::string why;
    Args words;
    int rc = split_words(line, &words, &why) ? 0 : 1;
    Next next = is_quit(words) ? Next::Quit : Next::Go;
    if (rc == 0 && !words.empty() && next == Next::Go) {
        rc = dispatch(words);
        why = s.error;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    t_session = outer;
    *failed = rc != 0;
    std::string line_out = rc == 0 ? "ok" : "error: " + why;
    if (status) {
        status(line_out);
    } else if (rc != 0) {
        std::fprintf(stderr, "%s\n", line_out.c_str());
    }
    return next;
}

int fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    session().error = vformat(format, args);
    va_end(args);
    return 1;
}

bool refuse(const char *format, ...) {
    va_list args;
    va_start(args, format);
    session().error = vformat(format, args);
    va_end(args);
    return false;
}

bool json() {
    return session().json;
}

void set_interrupted(bool on) {
    g_interrupted = on;
}

bool interrupted() {
    return g_interrupted;
}

bool pause_ms(uint32_t ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!interrupted() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(ms, 10)));
    }
    return !interrupted();
}

void at_shell_exit(std::function<void()> fn) {
    std::lock_guard lock(exit_mutex());
    exit_hooks().push_back(std::move(fn));
}

void run_exit_hooks() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(exit_mutex());
        hooks.swap(exit_hooks());
    }
    for (auto &fn : hooks) {
        fn();
    }
}

}  // namespace bsp::shell
