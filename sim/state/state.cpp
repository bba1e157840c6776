// The state folder of the shell: named images kept between runs.
#include "bsp_sim/state.h"

#include <sys/stat.h>

#include <fstream>

namespace bsp::sim {

namespace {

std::string &dir() {
    static std::string *d = new std::string;
    return *d;
}

}  // namespace

void set_state_dir(const std::string &d) {
    dir() = d;
    if (!d.empty()) {
        ::mkdir(d.c_str(), 0755);
    }
}

const std::string &state_dir() { return dir(); }

bool persistent() { return !dir().empty(); }

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
