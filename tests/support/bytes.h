// Byte strings for the whole suite: one alias, and one hexadecimal form so that a failing
// comparison of wire bytes prints something a person can read ("01 7e ff").
#ifndef BSP_TESTS_SUPPORT_BYTES_H
#define BSP_TESTS_SUPPORT_BYTES_H

#include <cstdint>
#include <string>
#include <vector>

namespace bsp::test {

using Bytes = std::vector<uint8_t>;

// "01 7e ff": two lower-case digits per byte, one blank between bytes.
std::string hex(const uint8_t *data, size_t size);
inline std::string hex(const Bytes &bytes) {
    return hex(bytes.data(), bytes.size());
}

// The bytes written as `hex` writes them (blanks optional); an ill-formed text fails the test.
Bytes unhex(const std::string &text);

}  // namespace bsp::test

#endif
