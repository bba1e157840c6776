// The shell's argument parsing and hex dumps.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "shell.h"

namespace bsp::shell {

namespace {

// A whole word as a number in decimal or 0x-hexadecimal (with a sign for decimal).
bool to_number(const std::string &word, long long *value) {
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || errno != 0) {
        return false;
    }
    *value = v;
    return true;
}

// The range as a person reads it: hexadecimal bounds where the word was hexadecimal.
std::string range_text(const std::string &word, long long lo, long long hi) {
    bool hex = word.rfind("0x", 0) == 0 || word.rfind("0X", 0) == 0;
    char buf[64];
    if (hex && lo >= 0) {
        std::snprintf(buf, sizeof buf, "0x%llx..0x%llx", lo, hi);
    } else {
        std::snprintf(buf, sizeof buf, "%lld..%lld", lo, hi);
    }
    return buf;
}

}  // namespace

bool parse_in(const std::string &word, long long lo, long long hi, const char *what,
              long long *value) {
    long long v = 0;
    if (!to_number(word, &v)) {
        return refuse("not a number: %s", word.c_str());
    }
    if (v < lo || v > hi) {
        return refuse("%s is %s: %s", what, range_text(word, lo, hi).c_str(), word.c_str());
    }
    *value = v;
    return true;
}

bool parse_u32(const std::string &word, uint32_t *value) {
    return parse_range(word, 0, UINT32_MAX, "a 32-bit value", value);
}

bool parse_int(const std::string &word, int *value) {
    return parse_range(word, INT32_MIN, INT32_MAX, "a 32-bit signed value", value);
}

bool parse_choice(const std::string &word, std::initializer_list<const char *> choices,
                  const char *what) {
    std::string list;
    for (const char *c : choices) {
        if (word == c) {
            return true;
        }
        list += (list.empty() ? "" : ", ") + std::string(c);
    }
    return refuse("%s is one of %s: %s", what, list.c_str(), word.c_str());
}

bool parse_bytes(const std::string &word, std::vector<uint8_t> *bytes) {
    bytes->clear();
    if (word.rfind("text:", 0) == 0) {
        bytes->assign(word.begin() + 5, word.end());
        return true;
    }
    for (char ch : word) {
        if (!std::isxdigit(static_cast<unsigned char>(ch))) {
            return refuse("not hex bytes: %s", word.c_str());
        }
    }
    if (word.size() % 2 != 0) {
        return refuse("odd number of hex digits: %s", word.c_str());
    }
    for (size_t i = 0; i < word.size(); i += 2) {
        bytes->push_back(static_cast<uint8_t>(std::stoul(word.substr(i, 2), nullptr, 16)));
    }
    return true;
}

void print_hex_dump(const uint8_t *data, size_t size, uint32_t base_address) {
    for (size_t row = 0; row < size; row += 16) {
        std::printf("%08x ", static_cast<unsigned>(base_address + row));
        for (size_t i = row; i < row + 16; ++i) {
            if (i < size) {
                std::printf(" %02x", data[i]);
            } else {
                std::printf("   ");
            }
        }
        std::printf("  ");
        for (size_t i = row; i < row + 16 && i < size; ++i) {
            std::putchar(std::isprint(data[i]) ? data[i] : '.');
        }
        std::putchar('\n');
    }
}

}  // namespace bsp::shell
