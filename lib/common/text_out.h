// Bounded text output into a caller's buffer: never writes past the given length, always
// terminates when there is room for a terminator, and remembers whether anything was cut.
#ifndef BSP_LIB_COMMON_TEXT_OUT_H
#define BSP_LIB_COMMON_TEXT_OUT_H

#include <cstdarg>
#include <cstddef>

namespace bsp {

class TextOut {
  public:
    // `buf` may be null only when `cap` is 0.
    TextOut(char *buf, size_t cap);

    // Appends formatted text; what does not fit is dropped (the text stays terminated).
    void printf(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void vprintf(const char *format, va_list args);
    void puts(const char *text);

    size_t length() const { return len_; }  // characters stored, without the terminator
    bool truncated() const { return truncated_; }
    size_t room() const { return cap_ > len_ + 1 ? cap_ - len_ - 1 : 0; }

  private:
    char *buf_;
    size_t cap_;
    size_t len_ = 0;
    bool truncated_ = false;
};

}  // namespace bsp

#endif
