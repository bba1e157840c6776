// A terminal link for a person: a second pseudo-terminal whose line is joined to the far end
// of the simulated serial port by a relay thread, like a null-modem cable between the
// simulated unit and a terminal program.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "bsp_sim/serial.h"
#include "devices/interpose.h"
#include "devices/serial_pty.h"
#include "immortal.h"

namespace bsp::sim {

namespace {

struct Link {
    std::mutex mutex;  // guards the fields below against start/stop
    Pty pty;
    int stop = -1;
    std::thread thread;
};

Link &link() {
    return immortal<Link>();
}

// Moves what `from` has to `to`; a line nobody reads drops bytes rather than stall.
bool pass(int from, int to, bool to_unit, const SerialTap &tap) {
    uint8_t buf[512];
    ssize_t n = real_libc().read(from, buf, sizeof buf);
    if (n <= 0) {
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    if (tap) {
        tap(to_unit, buf, static_cast<size_t>(n));
    }
    if (to_unit) {
        std::vector<uint8_t> line = serial_line_to_unit(buf, static_cast<size_t>(n));
        [[maybe_unused]] ssize_t w = real_libc().write(to, line.data(), line.size());
        return true;
    }
    [[maybe_unused]] ssize_t w = real_libc().write(to, buf, static_cast<size_t>(n));
    return true;
}

void relay(int unit_side, int person_side, int stop, SerialTap tap) {
    for (;;) {
        pollfd fds[3] = {{stop, POLLIN, 0}, {unit_side, POLLIN, 0}, {person_side, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents != 0 && !pass(unit_side, person_side, false, tap)) {
            return;
        }
        if (fds[2].revents != 0 && !pass(person_side, unit_side, true, tap)) {
            return;
        }
    }
}

}  // namespace

std::string serial_start_terminal_link(SerialTap tap) {
    serial_stop_terminal_link();
    std::lock_guard lock(link().mutex);
    link().stop = ::eventfd(0, EFD_CLOEXEC);
    if (link().stop < 0 || !pty_create(&link().pty)) {
        if (link().stop >= 0) {
            real_libc().close(link().stop);
            link().stop = -1;
        }
        return "";
    }
    link().thread =
        std::thread(relay, serial_master_fd(), link().pty.master, link().stop, std::move(tap));
    return link().pty.slave_path;
}

void serial_stop_terminal_link() {
    std::lock_guard lock(link().mutex);
    if (!link().thread.joinable()) {
        return;
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = real_libc().write(link().stop, &one, sizeof one);
    link().thread.join();
    real_libc().close(link().stop);
    link().stop = -1;
    pty_destroy(&link().pty);
}

std::string serial_terminal_link_path() {
    std::lock_guard lock(link().mutex);
    return link().thread.joinable() ? link().pty.slave_path : "";
}

}  // namespace bsp::sim
