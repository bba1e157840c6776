// The simulator shell: commands are declared in tables (name, argument counts, usage, help),
// one table per family, gathered in commands.cpp.
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
    int max_args;  // -1: no upper limit
    const char *usage;  // argument synopsis, e.g. "ADDR [COUNT]"
    const char *help;   // one line
    int (*run)(const Args &args);  // 0 on success
};

// The family tables; each lives in its own cmd_*.cpp.
std::span<const Command> sim_commands();
std::span<const Command> db_commands();
std::span<const Command> storage_commands();
std::span<const Command> pci_commands();
std::span<const Command> serial_commands();
std::span<const Command> eth_commands();
std::span<const Command> sync_commands();
std::span<const Command> faults_commands();

// Seeds the bus fault plan from BSP_FAULT_SEED when it is set (the plan stays off otherwise).
void seed_faults_from_env();

// Every command, in the order shown by "help".
const std::vector<Command> &all_commands();

// Runs one command line; returns the command's result (0 for an empty line or a comment).
int run_line(const std::string &line);

// Work to do when the shell ends (saving images into the state folder).
void at_shell_exit(std::function<void()> fn);
void run_exit_hooks();

// Argument helpers: numbers in decimal or 0x-hexadecimal; false (and a message on standard
// error) when the word is not a number in range.
bool parse_u32(const std::string &word, uint32_t *value);
bool parse_int(const std::string &word, int *value);
// Bytes given as hex pairs ("a55a3cc3" or "a5 5a") or as "text:..." (the text's bytes).
bool parse_bytes(const std::string &word, std::vector<uint8_t> *bytes);

// Classic hex dump: 16 bytes per line, address, hex columns and printable text.
void print_hex_dump(const uint8_t *data, size_t size, uint32_t base_address);

}  // namespace bsp::shell

#endif
