// The shell's command table and what every command uses: argument parsing with stated ranges,
// the error that ends a command, JSON answers. One table serves the interactive shell, its
// scripts and the console socket; commands are declared per family in cmd_*.cpp.
#ifndef BSP_TOOLS_BSPSIM_SHELL_H
#define BSP_TOOLS_BSPSIM_SHELL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace bsp::shell {

using Args = std::vector<std::string>;  // the words after the command name

struct Command {
    const char *name;
    int min_args;
    int max_args;                  // -1: no upper limit
    const char *usage;             // argument synopsis, e.g. "ADDR [COUNT]"
    const char *help;              // one line
    int (*run)(const Args &args);  // 0 on success; otherwise fail() has said why
};

// The family tables; each lives in its own cmd_*.cpp. Those named *_sim (and the PCI and
// fault commands) need the simulated devices and exist only in the simulator shell.
std::span<const Command> sim_commands();
std::span<const Command> db_commands();
std::span<const Command> storage_commands();
std::span<const Command> storage_sim_commands();
std::span<const Command> pci_commands();
std::span<const Command> dpdp_commands();
std::span<const Command> serial_commands();
std::span<const Command> serial_sim_commands();
std::span<const Command> tcp_commands();
std::span<const Command> eth_commands();
std::span<const Command> sync_commands();
std::span<const Command> faults_commands();
std::span<const Command> session_commands();

// The tables of this build of the shell, in the order shown by "help", and what "help" says
// after them about the build (empty when nothing).
std::vector<std::span<const Command>> command_tables();
const char *help_note();

// Every command, in the order shown by "help".
const std::vector<Command> &all_commands();

// What one command line asks of the one who reads it: to go on, or to leave.
enum class Next { Go, Quit };

// One reader of the shell: the interactive shell, a script, or a console client. Commands run
// with the session of the one who typed them.
struct Session {
    bool json = false;     // status commands answer with one JSON object
    bool console = false;  // a console client: every reply ends with "ok" or "error: ..."
    std::string error;     // why the running command failed
};

// Runs one command line in `session`. The command's output goes to standard output; its
// failure is reported as "error: <why>" (on standard error, or as the console's status line
// through `status`). `failed` is set when the line failed.
Next run_line(const std::string &line, Session &session, bool *failed,
              const std::function<void(const std::string &)> &status = {});

// The session of the command running on this thread.
Session &session();

// Ends the running command with a reason; returns 1 so that commands write
// `return fail("...")`. `false` for the boolean helpers.
int fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
bool refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Work to do when the unit ends (saving images into the state folder); run once.
void at_shell_exit(std::function<void()> fn);
void run_exit_hooks();

// Argument helpers: numbers in decimal or 0x-hexadecimal. They refuse (through refuse()) a
// word that is no number or lies outside the range, naming the range.
bool parse_u32(const std::string &word, uint32_t *value);
bool parse_int(const std::string &word, int *value);
bool parse_in(const std::string &word, long long lo, long long hi, const char *what,
              long long *value);
template <typename T>
bool parse_range(const std::string &word, long long lo, long long hi, const char *what, T *value) {
    long long v = 0;
    if (!parse_in(word, lo, hi, what, &v)) {
        return false;
    }
    *value = static_cast<T>(v);
    return true;
}
// One of the listed words; refused naming them.
bool parse_choice(const std::string &word, std::initializer_list<const char *> choices,
                  const char *what);
// Bytes given as hex pairs ("a55a3cc3") or as "text:..." (the text's bytes).
bool parse_bytes(const std::string &word, std::vector<uint8_t> *bytes);

// Longest output a reading command produces: longer reads and counts are refused.
constexpr uint32_t kMaxReadBytes = 65536;
constexpr uint32_t kMaxReadCount = 4096;

// Classic hex dump: 16 bytes per line, address, hex columns and printable text.
void print_hex_dump(const uint8_t *data, size_t size, uint32_t base_address);

// "FramerWrite = 1 (refused: ...)": a library call's result with the meaning its family
// documents; result_meaning gives the " (...)" part alone (empty for a code without one).
std::string result_meaning(const char *call, long long result);
std::string result_text(const char *call, long long result);
void print_result(const char *call, long long result);

// True while the session wants JSON answers from the status commands.
bool json();

// Ctrl-C while a command runs: commands that wait or loop stop early when it is set.
void set_interrupted(bool on);
bool interrupted();
// Waits up to `ms`, or less when interrupted; false when interrupted.
bool pause_ms(uint32_t ms);

}  // namespace bsp::shell

#endif
