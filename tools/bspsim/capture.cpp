#include "capture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace bsp::shell {

namespace {

constexpr size_t kMaxCapture = 16 * 1024 * 1024;

void flush_both() {
    std::fflush(stdout);
    std::fflush(stderr);
}

// Puts a descriptor back as it was (closed, when it was closed before the capture).
void restore(int saved, int fd) {
    if (saved >= 0) {
        ::dup2(saved, fd);
        ::close(saved);
    } else {
        ::close(fd);
    }
}

}  // namespace

OutputCapture::OutputCapture() {
    flush_both();
    file_ = ::memfd_create("bspsim-reply", MFD_CLOEXEC);
    saved_out_ = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    saved_err_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (file_ >= 0) {
        ::dup2(file_, 1);
        ::dup2(file_, 2);
    }
}

OutputCapture::~OutputCapture() {
    finish();
}

std::string OutputCapture::finish() {
    if (file_ < 0) {
        return {};
    }
    flush_both();
    restore(saved_out_, 1);
    restore(saved_err_, 2);
    std::string text;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while (text.size() < kMaxCapture && (n = ::pread(file_, buf, sizeof buf, at)) > 0) {
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    ::close(file_);
    file_ = -1;
    return text;
}

}  // namespace bsp::shell
