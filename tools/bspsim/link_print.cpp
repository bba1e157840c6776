#include "link_print.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "shell.h"

namespace bsp::shell {

namespace {

std::mutex g_print_mutex;  // callbacks print from the library's tasks

}  // namespace

void print_buffer(const char *what, const uint8_t *bytes, size_t size) {
    size_t used = size;
    while (used > 0 && bytes[used - 1] == 0) {
        --used;
    }
    std::lock_guard lock(g_print_mutex);
    std::printf("%s, %zu bytes (trailing zeros left out of %zu)\n", what, used, size);
    print_hex_dump(bytes, used, 0);
    std::fflush(stdout);
}

void print_packet(const char *what, const uint8_t *bytes, size_t size) {
    std::lock_guard lock(g_print_mutex);
    std::printf("%s, %zu bytes\n", what, size);
    print_hex_dump(bytes, size, 0);
    std::fflush(stdout);
}

void print_far_end(const char *what, const std::vector<uint8_t> &bytes) {
    print_packet(what, bytes.data(), bytes.size());
}

void await_count(const std::atomic<int> &counter, int before) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (counter.load() == before && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace bsp::shell
