#include "support/bytes.h"

#include <gtest/gtest.h>

#include <cctype>

namespace bsp::test {

std::string hex(const uint8_t *data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        if (i)
            out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0f];
    }
    return out;
}

Bytes unhex(const std::string &text) {
    Bytes out;
    std::string digits;
    for (char c : text) {
        if (c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            ADD_FAILURE() << "not a hexadecimal digit in \"" << text << "\"";
            return out;
        }
        digits += c;
        if (digits.size() == 2) {
            out.push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    if (!digits.empty())
        ADD_FAILURE() << "odd number of digits in \"" << text << "\"";
    return out;
}

}  // namespace bsp::test
