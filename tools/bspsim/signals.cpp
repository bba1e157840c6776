#include "signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "shell.h"

namespace bsp::shell {

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_end{false};
bool g_interrupt_only = false;

void wake() {
    char byte = 0;
    (void)!::write(g_pipe[1], &byte, 1);
}

extern "C" void on_signal(int sig) {
    if (sig == SIGINT && g_interrupt_only) {
        set_interrupted(true);
    } else {
        g_end = true;
        set_interrupted(true);
    }
    wake();
}

}  // namespace

void install_signal_handlers(bool interrupt_only) {
    g_interrupt_only = interrupt_only;
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int signal_fd() {
    return g_pipe[0];
}

void clear_signal_fd() {
    char buf[64];
    while (::read(g_pipe[0], buf, sizeof buf) > 0) {
    }
}

bool end_requested() {
    return g_end;
}

void request_end() {
    g_end = true;
    wake();
}

}  // namespace bsp::shell
