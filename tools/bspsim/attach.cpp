// The shell against a running unit's console: lines go to the socket, replies come back up to
// their status line; quit detaches and leaves the unit running.
#include "attach.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "fd_io.h"

namespace bsp::shell {

AttachRunner::~AttachRunner() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool AttachRunner::connect(const std::string &path) {
    sockaddr_un a = {};
    if (path.size() >= sizeof a.sun_path) {
        std::fprintf(stderr, "bspsim: socket path too long: %s\n", path.c_str());
        return false;
    }
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::fprintf(stderr, "bspsim: no unit serves %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// One line of the reply; false when the unit went away.
bool AttachRunner::read_reply_line(std::string *line) {
    for (;;) {
        size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            *line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return true;
        }
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

Next AttachRunner::run(const std::string &line, bool *failed) {
    *failed = true;
    if (!write_all(fd_, line + "\n")) {
        std::fprintf(stderr, "bspsim: the unit has gone\n");
        return Next::Quit;
    }
    std::string reply;
    while (read_reply_line(&reply)) {
        if (reply == "ok" || reply.rfind("error: ", 0) == 0) {
            *failed = reply != "ok";
            if (*failed) {
                std::fprintf(stderr, "%s\n", reply.c_str());
            }
            return reply == "ok" && (line == "quit" || line == "exit") ? Next::Quit : Next::Go;
        }
        if (reads_as_status(reply)) {
            reply.erase(0, 1);
        }
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
    }
    std::fprintf(stderr, "bspsim: the unit has gone\n");
    return Next::Quit;
}

}  // namespace bsp::shell
