#include "line_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "shell.h"
#include "signals.h"

namespace bsp::shell {

Input LineReader::read_line(std::string *line) {
    for (;;) {
        size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            *line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return Input::Line;
        }
        if (eof_) {
            if (pending_.empty()) {
                return Input::End;
            }
            line->swap(pending_);
            pending_.clear();
            return Input::Line;
        }
        pollfd p[2] = {{fd_, POLLIN, 0}, {signal_fd(), POLLIN, 0}};
        if (::poll(p, signal_fd() >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            return Input::End;
        }
        if (end_requested()) {
            return Input::End;
        }
        if (interrupted()) {
            pending_.clear();
            return Input::Interrupt;
        }
        if (p[0].revents != 0) {
            char buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                eof_ = true;
            } else {
                pending_.append(buf, static_cast<size_t>(n));
            }
        }
    }
}

}  // namespace bsp::shell
