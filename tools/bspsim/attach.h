// The shell's lines sent to a running unit's console instead of this process's unit.
#ifndef BSP_TOOLS_BSPSIM_ATTACH_H
#define BSP_TOOLS_BSPSIM_ATTACH_H

#include <string>

#include "front.h"

namespace bsp::shell {

class AttachRunner : public LineRunner {
  public:
    AttachRunner() = default;
    ~AttachRunner() override;
    AttachRunner(const AttachRunner &) = delete;
    AttachRunner &operator=(const AttachRunner &) = delete;

    bool connect(const std::string &path);  // false with a message
    Next run(const std::string &line, bool *failed) override;

  private:
    bool read_reply_line(std::string *line);
    int fd_ = -1;
    std::string pending_;
};

}  // namespace bsp::shell

#endif
