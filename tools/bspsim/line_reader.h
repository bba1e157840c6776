// Lines from a descriptor (a terminal, a pipe, a socket), read so that a signal ends the wait.
#ifndef BSP_TOOLS_BSPSIM_LINE_READER_H
#define BSP_TOOLS_BSPSIM_LINE_READER_H

#include <string>

namespace bsp::shell {

enum class Input { Line, End, Interrupt };

class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}
    // A whole line (without its line end); End at the end of input or when the shell is to
    // end; Interrupt on Ctrl-C (the part typed so far is dropped).
    Input read_line(std::string *line);

  private:
    int fd_;
    std::string pending_;
    bool eof_ = false;
};

}  // namespace bsp::shell

#endif
