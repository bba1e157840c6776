// Lines run on this unit, from -c and scripts; and the line loops that every front end shares.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <optional>

#include "capture.h"
#include "console.h"
#include "fd_io.h"
#include "front.h"
#include "line_reader.h"
#include "signals.h"

namespace bsp::shell {

Next LocalRunner::run(const std::string &line, bool *failed) {
    std::string status;
    std::string out;
    Next next;
    {
        std::lock_guard lock(unit_mutex());
        std::optional<OutputCapture> capture;
        if (capture_) {
            capture.emplace();
        }
        next = run_line(line, session_, failed, [&status](const std::string &s) { status = s; });
        out = capture ? capture->finish() : std::string();
    }
    if (!out.empty() && out.back() != '\n') {
        out += '\n';  // a message without its line end does not take the next line with it
    }
    write_all(1, out);
    if (*failed) {
        write_all(2, status + "\n");
    }
    return next;
}

int run_commands(LineRunner &runner, const std::vector<std::string> &commands) {
    int failures = 0;
    for (const std::string &c : commands) {
        bool failed = false;
        Next next = runner.run(c, &failed);
        failures += failed;
        if (next == Next::Quit || end_requested()) {
            break;
        }
    }
    return failures;
}

int run_script(LineRunner &runner, const std::string &path) {
    int fd = path.empty() ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    LineReader reader(fd);
    int failures = 0;
    std::string line;
    while (!end_requested() && reader.read_line(&line) == Input::Line) {
        bool failed = false;
        Next next = runner.run(line, &failed);
        failures += failed;
        if (next == Next::Quit) {
            break;
        }
    }
    if (fd != 0) {
        ::close(fd);
    }
    return failures;
}

}  // namespace bsp::shell
