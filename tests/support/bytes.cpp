#include "support/bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

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

Bytes unhex(const std::string &text) {
    const std::string digits = std::regex_replace(text, std::regex(" "), "");
    if (!std::regex_match(digits, std::regex("([0-9a-fA-F]{2})*"))) {
        ADD_FAILURE() << "not pairs of hexadecimal digits: \"" << text << "\"";
        return {};
    }
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

}  // namespace bsp::test
