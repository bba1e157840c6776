#include "json.h"

#include <cstdio>

namespace bsp::shell {

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string json_bytes(const uint8_t *data, size_t size) {
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        hex += pair;
    }
    return json_string(hex);
}

JsonObject &JsonObject::raw(const char *key, const std::string &json) {
    if (!body_.empty()) {
        body_ += ',';
    }
    body_ += json_string(key);
    body_ += ':';
    body_ += json;
    return *this;
}

JsonObject &JsonObject::num(const char *key, long long value) {
    return raw(key, std::to_string(value));
}

JsonObject &JsonObject::real(const char *key, double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    return raw(key, buf);
}

JsonObject &JsonObject::str(const char *key, const std::string &value) {
    return raw(key, json_string(value));
}

JsonObject &JsonObject::flag(const char *key, bool value) {
    return raw(key, value ? "true" : "false");
}

void JsonObject::print() const {
    std::printf("%s\n", text().c_str());
}

std::string json_array(const std::vector<std::string> &items) {
    std::string out;
    for (const std::string &item : items) {
        out += (out.empty() ? "" : ",") + item;
    }
    return "[" + out + "]";
}

}  // namespace bsp::shell
