// The console: the shell's commands served on a Unix-domain socket to any number of clients,
// one command at a time on the unit. Also what the front ends share with it: the lock that
// keeps commands whole, the captured run of a line, and what "shutdown" does.
#ifndef BSP_TOOLS_BSPSIM_CONSOLE_H
#define BSP_TOOLS_BSPSIM_CONSOLE_H

#include <functional>
#include <mutex>
#include <string>

#include "shell.h"

namespace bsp::shell {

// Held while a command runs, by whichever reader typed it.
std::mutex &unit_mutex();

// Runs a line with the unit to itself and everything the process writes to standard output
// and standard error meanwhile captured; returns that output followed by the status line.
// Output lines that would read as a status line are sent with a leading blank.
std::string run_captured(const std::string &line, Session &session, Next *next);

// "ok" or "error: ..." after any number of blanks: output lines like this are sent with one
// more leading blank, which a client takes off again.
bool reads_as_status(const std::string &line);

// Starts serving on `path`; false with the reason when the path is taken or unusable.
bool console_serve(const std::string &path, std::string *why);
void console_stop();

// What the console command "shutdown" does (by default: SIGTERM to the process).
void set_shutdown_action(std::function<void()> action);
void request_shutdown();
// The JSON setting a new console client starts with.
void set_console_json(bool on);

}  // namespace bsp::shell

#endif
