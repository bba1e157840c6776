// The console socket: one listening Unix-domain socket, one thread per client. A client sends
// one command per line and gets the command's output and one status line back; commands of
// all clients and of the local shell run one at a time.
#include "console.h"

#include <bsp_sim/console.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <thread>

#include "capture.h"
#include "fd_io.h"
#include "immortal.h"

namespace bsp::shell {

namespace {

constexpr size_t kMaxLine = 64 * 1024;

struct Client {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
};

struct Server {
    std::mutex mutex;  // guards the fields below
    std::string path;
    int listen_fd = -1;
    int wake[2] = {-1, -1};
    std::thread acceptor;
    std::list<std::unique_ptr<Client>> clients;
    std::function<void()> shutdown = [] { std::raise(SIGTERM); };
    bool json = false;
};

Server &server() {
    return sim::immortal<Server>();  // outlives every thread that may still use it at exit
}

// Control bytes would reach the commands' messages and the client's terminal as they are.
bool printable_line(const std::string &line) {
    for (char ch : line) {
        auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7f) {
            return false;
        }
    }
    return true;
}

// Output lines never read as a status line: such a line gets one more leading blank.
std::string guard_status_lines(const std::string &out) {
    std::string text;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        std::string line = out.substr(start, end == std::string::npos ? end : end - start);
        if (reads_as_status(line)) {
            text += ' ';
        }
        text += line + '\n';
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return text;
}

std::string reply_to(const std::string &line, Session &session, Next *next) {
    if (!printable_line(line)) {
        *next = Next::Go;
        return "error: the line holds control or binary bytes\n";
    }
    return run_captured(line, session, next);
}

// Lines until the client leaves, says quit, or sends a line longer than the limit.
void serve_client(Client *client) {
    Session session;
    session.console = true;
    {
        std::lock_guard lock(server().mutex);
        session.json = server().json;
    }
    std::string pending;
    char buf[4096];
    for (bool open = true; open;) {
        ssize_t n = ::recv(client->fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t eol;
        while (open && (eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            Next next = Next::Go;
            open = write_all(client->fd, reply_to(line, session, &next)) && next == Next::Go;
        }
        if (open && pending.size() > kMaxLine) {
            write_all(client->fd, "error: line longer than 65536 bytes; client dropped\n");
            open = false;
        }
    }
    ::shutdown(client->fd, SHUT_RDWR);
    client->done = true;
}

// Joins the threads of clients that have gone; all of them when `all` is set.
void reap_clients(bool all) {
    std::list<std::unique_ptr<Client>> gone;
    {
        std::lock_guard lock(server().mutex);
        for (auto it = server().clients.begin(); it != server().clients.end();) {
            if (all || (*it)->done) {
                if (all) {
                    ::shutdown((*it)->fd, SHUT_RDWR);
                }
                gone.splice(gone.end(), server().clients, it++);
            } else {
                ++it;
            }
        }
    }
    for (auto &c : gone) {
        if (c->thread.get_id() == std::this_thread::get_id()) {
            c->thread.detach();  // the process ends from within this client's command
        } else {
            c->thread.join();
        }
        ::close(c->fd);
    }
}

void accept_clients(int listen_fd, int wake_fd) {
    for (;;) {
        pollfd p[2] = {{listen_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        if (::poll(p, 2, 1000) < 0 && errno != EINTR) {
            break;
        }
        reap_clients(false);
        if (p[1].revents != 0) {
            break;
        }
        if ((p[0].revents & POLLIN) == 0) {
            continue;
        }
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = fd;
        Client *c = client.get();
        std::lock_guard lock(server().mutex);
        server().clients.push_back(std::move(client));
        c->thread = std::thread(serve_client, c);
    }
}

// A path that exists may be reused only when it is a socket nobody listens on any more.
bool path_free(const std::string &path, std::string *why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return true;
    }
    if (!S_ISSOCK(st.st_mode)) {
        *why = path + " exists and is not a socket";
        return false;
    }
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    bool live = ::connect(probe, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(probe);
    if (live) {
        *why = path + " is the console of a running unit";
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

int listen_on(const std::string &path, std::string *why) {
    sockaddr_un a = {};
    if (path.size() >= sizeof a.sun_path) {
        *why = "socket path longer than " + std::to_string(sizeof a.sun_path - 1) + " bytes";
        return -1;
    }
    if (!path_free(path, why)) {
        return -1;
    }
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    mode_t old = ::umask(0177);  // the socket file is born 0600
    bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::umask(old);
    if (!ok || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0) {
        *why = "cannot listen on " + path + ": " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

}  // namespace

bool reads_as_status(const std::string &line) {
    size_t text = line.find_first_not_of(' ');
    return text != std::string::npos && (line.compare(text, std::string::npos, "ok") == 0 ||
                                         line.compare(text, 6, "error:") == 0);
}

std::mutex &unit_mutex() {
    return sim::immortal<std::mutex, struct UnitMutexTag>();
}

std::string run_captured(const std::string &line, Session &session, Next *next) {
    std::lock_guard lock(unit_mutex());
    std::string status;
    bool failed = false;
    OutputCapture capture;
    *next = run_line(line, session, &failed, [&status](const std::string &s) { status = s; });
    return guard_status_lines(capture.finish()) + status + "\n";
}

bool console_serve(const std::string &path, std::string *why) {
    std::lock_guard lock(server().mutex);
    if (server().listen_fd >= 0) {
        *why = "the console already serves " + server().path;
        return false;
    }
    int fd = listen_on(path, why);
    if (fd < 0) {
        return false;
    }
    if (::pipe2(server().wake, O_CLOEXEC) != 0) {
        *why = std::strerror(errno);
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    static bool stop_at_exit = (std::atexit([] { console_stop(); }), true);
    (void)stop_at_exit;  // clients are let go before the process's objects are destroyed
    server().path = path;
    server().listen_fd = fd;
    server().acceptor = std::thread(accept_clients, fd, server().wake[0]);
    return true;
}

void console_stop() {
    std::thread acceptor;
    {
        std::lock_guard lock(server().mutex);
        if (server().listen_fd < 0) {
            return;
        }
        char byte = 0;
        (void)!::write(server().wake[1], &byte, 1);
        acceptor = std::move(server().acceptor);
    }
    acceptor.join();
    reap_clients(true);
    std::lock_guard lock(server().mutex);
    ::close(server().listen_fd);
    ::close(server().wake[0]);
    ::close(server().wake[1]);
    ::unlink(server().path.c_str());
    server().listen_fd = -1;
    server().path.clear();
}

void set_shutdown_action(std::function<void()> action) {
    std::lock_guard lock(server().mutex);
    server().shutdown = std::move(action);
}

void set_console_json(bool on) {
    std::lock_guard lock(server().mutex);
    server().json = on;
}

void request_shutdown() {
    std::function<void()> action;
    {
        std::lock_guard lock(server().mutex);
        action = server().shutdown;
    }
    action();
}

}  // namespace bsp::shell

extern "C" int bsp_sim_console_start(const char *path) {
    std::string why;
    if (path == nullptr || !bsp::shell::console_serve(path, &why)) {
        std::fprintf(stderr, "bsp_sim: console: %s\n", path == nullptr ? "no path" : why.c_str());
        return -1;
    }
    return 0;
}

extern "C" void bsp_sim_console_stop(void) {
    bsp::shell::console_stop();
}
