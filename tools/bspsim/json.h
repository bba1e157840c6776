// The JSON answers of the status commands: objects and arrays built field by field.
#ifndef BSP_TOOLS_BSPSIM_JSON_H
#define BSP_TOOLS_BSPSIM_JSON_H

#include <cstdint>
#include <string>
#include <vector>

namespace bsp::shell {

std::string json_string(const std::string &text);
std::string json_bytes(const uint8_t *data, size_t size);  // "a55a01": hex pairs

class JsonObject {
  public:
    JsonObject &num(const char *key, long long value);
    JsonObject &real(const char *key, double value);
    JsonObject &str(const char *key, const std::string &value);
    JsonObject &flag(const char *key, bool value);
    JsonObject &raw(const char *key, const std::string &json);
    std::string text() const { return "{" + body_ + "}"; }
    void print() const;  // the object on one line

  private:
    std::string body_;
};

std::string json_array(const std::vector<std::string> &items);

}  // namespace bsp::shell

#endif
