// Captures what the process writes to standard output or standard error (at descriptor
// level, so C stdio, iostreams and raw writes are all seen) for the life of the object.
#ifndef BSP_TESTS_SUPPORT_CAPTURE_H
#define BSP_TESTS_SUPPORT_CAPTURE_H

#include <string>

namespace bsp::test {

class FdCapture {
  public:
    explicit FdCapture(int fd);
    ~FdCapture();
    FdCapture(const FdCapture &) = delete;
    FdCapture &operator=(const FdCapture &) = delete;

    // Everything written so far (flushes C stdio first); capture goes on.
    std::string text();

  private:
    int fd_;
    int saved_;
    int file_;
};

class StdoutCapture : public FdCapture {
  public:
    StdoutCapture() : FdCapture(1) {}
};

class StderrCapture : public FdCapture {
  public:
    StderrCapture() : FdCapture(2) {}
};

}  // namespace bsp::test

#endif
