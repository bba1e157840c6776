#include "support/bytes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

namespace bsp::test {

std::string hex(const uint8_t *data, size_t size) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", data[i]);
        out += byte;
    }
    return out;
}

// Pairs of hexadecimal digits, spaces between pairs ignored. (No std::regex: frames are built
// on several threads at once, and its locale set-up races under the thread sanitizer.)
Bytes unhex(const std::string &text) {
    Bytes out;
    for (size_t i = 0; i < text.size(); i += 2) {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        if (i + 1 == text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            ADD_FAILURE() << "not pairs of hexadecimal digits: \"" << text << "\"";
            return {};
        }
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

}  // namespace bsp::test
