// The state folder of the shell: named images kept between runs.
#include "bsp_sim/state.h"
#include "immortal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace bsp::sim {

namespace {

std::string &dir() {
    return immortal<std::string, struct DirTag>();
}

// The lock on the folder in use: held for as long as the process keeps the folder.
int &lock_fd() {
    static int fd = -1;
    return fd;
}

void release_lock() {
    if (lock_fd() >= 0) {
        ::close(lock_fd());
        lock_fd() = -1;
    }
}

// Takes the folder's lock file; a unit already using it keeps its process id there.
bool take_lock(const std::string &d, std::string *why) {
    std::string path = d + "/lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        std::string holder = n > 0 ? std::string(pid, static_cast<size_t>(n)) : "?";
        holder.erase(holder.find_last_not_of("\n") + 1);
        *why = "state folder " + d + " is in use by process " + holder;
        return false;
    }
    std::string me = std::to_string(::getpid()) + "\n";
    bool written = ::ftruncate(fd, 0) == 0 &&
                   ::pwrite(fd, me.data(), me.size(), 0) == static_cast<ssize_t>(me.size());
    (void)written;  // the lock holds without the note of who holds it
    lock_fd() = fd;
    return true;
}

}  // namespace

bool set_state_dir(const std::string &d, std::string *why) {
    release_lock();
    dir().clear();
    if (d.empty()) {
        return true;
    }
    ::mkdir(d.c_str(), 0755);
    std::string reason;
    if (!take_lock(d, why != nullptr ? why : &reason)) {
        return false;
    }
    dir() = d;
    return true;
}

const std::string &state_dir() {
    return dir();
}

bool persistent() {
    return !dir().empty();
}

std::string state_path(const std::string &name) {
    return persistent() ? dir() + "/" + name : std::string();
}

bool load_image(const std::string &name, std::span<uint8_t> out) {
    if (!persistent()) {
        return false;
    }
    std::ifstream in(state_path(name), std::ios::binary | std::ios::ate);
    if (!in || static_cast<size_t>(in.tellg()) != out.size()) {
        return false;
    }
    in.seekg(0);
    return static_cast<bool>(
        in.read(reinterpret_cast<char *>(out.data()), static_cast<std::streamsize>(out.size())));
}

bool save_image(const std::string &name, std::span<const uint8_t> data) {
    if (!persistent()) {
        return false;
    }
    std::ofstream out(state_path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

}  // namespace bsp::sim
