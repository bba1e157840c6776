#include "support/capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace bsp::test {

static void flush_all() {
    std::fflush(nullptr);
    std::cout.flush();
    std::cerr.flush();
}

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
    for (ssize_t n; (n = ::pread(file_, buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;) {
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace bsp::test
