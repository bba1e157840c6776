// The shell's front ends: the interactive terminal, scripts and -c commands on this unit, and
// the same against a running unit's console (attach).
#ifndef BSP_TOOLS_BSPSIM_FRONT_H
#define BSP_TOOLS_BSPSIM_FRONT_H

#include <string>
#include <vector>

#include "shell.h"

namespace bsp::shell {

// Where lines come from and what runs them: this unit, or a console socket.
struct LineRunner {
    virtual ~LineRunner() = default;
    // Runs a line and shows its output and error; `failed` tells how it went.
    virtual Next run(const std::string &line, bool *failed) = 0;
};

// A line of this unit, run whole with the unit to itself; its output on standard output
// (always ending with a line end), its error on standard error.
class LocalRunner : public LineRunner {
  public:
    // `capture`: output is collected and shown when the command ends (scripts); otherwise it
    // flows as it comes (the terminal, whose pump keeps the lines apart).
    LocalRunner(Session &s, bool capture) : session_(s), capture_(capture) {}
    Next run(const std::string &line, bool *failed) override;

  private:
    Session &session_;
    bool capture_;
};

// Reads lines from a file (or standard input when `path` is empty) and runs each; returns the
// number that failed.
int run_script(LineRunner &runner, const std::string &path);
int run_commands(LineRunner &runner, const std::vector<std::string> &commands);
// The prompt on a terminal; output arriving meanwhile is set on its own lines and the prompt
// drawn again. `live_output`: this unit writes to the terminal from its own threads.
int run_terminal(LineRunner &runner, bool live_output);

}  // namespace bsp::shell

#endif
