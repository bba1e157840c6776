#include "support/capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace bsp::test {

namespace {

void flush_all() {
    std::fflush(nullptr);
    std::cout.flush();
    std::cerr.flush();
}

}  // namespace

FdCapture::FdCapture(int fd) : fd_(fd) {
    flush_all();
    saved_ = ::dup(fd_);
    file_ = ::memfd_create("capture", 0);
    ::dup2(file_, fd_);
}

FdCapture::~FdCapture() {
    flush_all();
    ::dup2(saved_, fd_);
    ::close(saved_);
    ::close(file_);
}

std::string FdCapture::text() {
    flush_all();
    std::string out;
    char buf[4096];
    off_t pos = 0;
    for (;;) {
        ssize_t n = ::pread(file_, buf, sizeof buf, pos);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
        pos += n;
    }
    return out;
}

}  // namespace bsp::test
