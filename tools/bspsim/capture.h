// Captures what the whole process writes to standard output and standard error while an
// object lives: the reply of a console command, library messages included.
#ifndef BSP_TOOLS_BSPSIM_CAPTURE_H
#define BSP_TOOLS_BSPSIM_CAPTURE_H

#include <string>

namespace bsp::shell {

class OutputCapture {
  public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    // Ends the capture (descriptors 1 and 2 as they were) and returns what was written.
    std::string finish();

  private:
    int file_ = -1;
    int saved_out_ = -1;
    int saved_err_ = -1;
};

}  // namespace bsp::shell

#endif
