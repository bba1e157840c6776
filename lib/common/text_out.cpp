#include "common/text_out.h"

#include <cstdio>
#include <cstring>

namespace bsp {

TextOut::TextOut(char *buf, size_t cap) : buf_(buf), cap_(buf ? cap : 0) {
    if (cap_ > 0) {
        buf_[0] = '\0';
    }
}

void TextOut::vprintf(const char *format, va_list args) {
    char *dst = cap_ > 0 ? buf_ + len_ : nullptr;
    size_t avail = cap_ > len_ ? cap_ - len_ : 0;
    int n = std::vsnprintf(dst, avail, format, args);
    if (n < 0) {
        truncated_ = true;
        return;
    }
    size_t want = static_cast<size_t>(n);
    size_t kept = avail > 0 ? (want < avail ? want : avail - 1) : 0;
    len_ += kept;
    if (kept < want) {
        truncated_ = true;
    }
}

void TextOut::printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

void TextOut::puts(const char *text) {
    printf("%s", text);
}

}  // namespace bsp
