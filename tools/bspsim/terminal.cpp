// The interactive shell on a terminal. Everything the process writes passes through a pump
// that knows whether the prompt is on screen: output arriving then starts on a fresh line and
// the prompt is drawn again once the output pauses. Ctrl-C abandons the line being typed or
// the command being run.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "fd_io.h"
#include "front.h"
#include "line_reader.h"
#include "signals.h"

namespace bsp::shell {

namespace {

using namespace std::chrono_literals;

constexpr const char kPrompt[] = "bsp> ";

class Pump {
  public:
    // Standard output and standard error now pass through the pump.
    void start() {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0) {
            return;
        }
        term_ = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
        saved_err_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
        read_ = p[0];
        ::dup2(p[1], 1);
        ::dup2(p[1], 2);
        ::close(p[1]);
        thread_ = std::thread([this] { forward(); });
    }

    void stop() {
        if (!thread_.joinable()) {
            return;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(term_, 1);  // the last writers of the pipe go: the pump reads its end
        ::dup2(saved_err_, 2);
        thread_.join();
        ::close(read_);
        ::close(term_);
        ::close(saved_err_);
    }

    void show_prompt() {
        settle();
        std::lock_guard lock(mutex_);
        fresh_line();
        write_all(out(), kPrompt, sizeof kPrompt - 1);
        prompt_shown_ = true;
        prompt_wanted_ = true;
        at_line_start_ = false;
    }

    // The person pressed Enter (or Ctrl-C, Ctrl-D): the cursor is on a fresh line.
    void line_taken(bool echo_newline) {
        std::lock_guard lock(mutex_);
        if (echo_newline) {
            write_all(out(), "\n", 1);
        }
        prompt_wanted_ = false;
        prompt_shown_ = false;
        redraw_ = false;
        at_line_start_ = true;
    }

    // After a command: everything it wrote is on screen and ends with a line end.
    void command_done() {
        settle();
        std::lock_guard lock(mutex_);
        fresh_line();
    }

  private:
    int out() const { return term_ >= 0 ? term_ : 1; }

    void fresh_line() {
        if (!at_line_start_) {
            write_all(out(), "\n", 1);
            at_line_start_ = true;
        }
    }

    // Waits (briefly: a flood of messages must not hold the prompt) until the pipe is empty.
    void settle() {
        std::fflush(stdout);
        std::fflush(stderr);
        if (read_ < 0) {
            return;
        }
        auto end = std::chrono::steady_clock::now() + 200ms;
        while (std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard lock(mutex_);
                int waiting = 0;
                if (::ioctl(read_, FIONREAD, &waiting) != 0 || waiting == 0) {
                    return;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    void forward() {
        char buf[4096];
        for (;;) {
            bool redraw_due = false;
            {
                std::lock_guard lock(mutex_);
                redraw_due = redraw_;
            }
            pollfd p = {read_, POLLIN, 0};
            int ready = ::poll(&p, 1, redraw_due ? 100 : -1);
            std::lock_guard lock(mutex_);
            if (ready == 0) {
                redraw_prompt();
                continue;
            }
            ssize_t n = ready > 0 ? ::read(read_, buf, sizeof buf) : 0;
            if (n <= 0) {
                return;
            }
            if (prompt_shown_) {
                write_all(out(), "\n", 1);
                prompt_shown_ = false;
            }
            write_all(out(), buf, static_cast<size_t>(n));
            at_line_start_ = buf[n - 1] == '\n';
            redraw_ = prompt_wanted_;
        }
    }

    void redraw_prompt() {
        if (redraw_ && prompt_wanted_) {
            fresh_line();
            write_all(out(), kPrompt, sizeof kPrompt - 1);
            prompt_shown_ = true;
            at_line_start_ = false;
        }
        redraw_ = false;
    }

    std::mutex mutex_;  // guards the screen state and every write to the terminal
    std::thread thread_;
    int term_ = -1;
    int saved_err_ = -1;
    int read_ = -1;
    bool at_line_start_ = true;
    bool prompt_shown_ = false;
    bool prompt_wanted_ = false;
    bool redraw_ = false;
};

}  // namespace

int run_terminal(LineRunner &runner, bool live_output) {
    Pump pump;
    if (live_output) {
        pump.start();
    }
    LineReader reader(0);
    int failures = 0;
    for (;;) {
        clear_signal_fd();
        set_interrupted(false);
        pump.show_prompt();
        std::string line;
        Input in = reader.read_line(&line);
        pump.line_taken(in != Input::Line);
        if (in == Input::End || end_requested()) {
            break;
        }
        if (in == Input::Interrupt) {
            continue;
        }
        bool failed = false;
        Next next = runner.run(line, &failed);
        failures += failed;
        pump.command_done();
        if (next == Next::Quit || end_requested()) {
            break;
        }
    }
    pump.stop();
    return failures;
}

}  // namespace bsp::shell
