#include "shell.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bsp::shell {

namespace {

std::vector<std::function<void()>> &exit_hooks() {
    static std::vector<std::function<void()>> hooks;
    return hooks;
}

Args split_words(const std::string &line) {
    Args words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

const Command *find_command(const std::string &name) {
    for (const Command &c : all_commands()) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

bool arg_count_fits(const Command &c, size_t n) {
    return static_cast<int>(n) >= c.min_args && (c.max_args < 0 || static_cast<int>(n) <= c.max_args);
}

}  // namespace

const std::vector<Command> &all_commands() {
    static const std::vector<Command> commands = [] {
        std::vector<Command> all;
        for (auto table : {sim_commands(), db_commands(), storage_commands(), pci_commands(), serial_commands(),
                           eth_commands(), sync_commands(), faults_commands()}) {
            all.insert(all.end(), table.begin(), table.end());
        }
        return all;
    }();
    return commands;
}

int run_line(const std::string &line) {
    Args words = split_words(line);
    if (words.empty() || words[0][0] == '#') {
        return 0;
    }
    const Command *c = find_command(words[0]);
    if (c == nullptr) {
        std::fprintf(stderr, "unknown command: %s (try \"help\")\n", words[0].c_str());
        return 1;
    }
    Args args(words.begin() + 1, words.end());
    if (!arg_count_fits(*c, args.size())) {
        std::fprintf(stderr, "usage: %s %s\n", c->name, c->usage);
        return 1;
    }
    int rc = c->run(args);
    std::fflush(stdout);
    return rc;
}

void at_shell_exit(std::function<void()> fn) { exit_hooks().push_back(std::move(fn)); }

void run_exit_hooks() {
    for (auto &fn : exit_hooks()) {
        fn();
    }
    exit_hooks().clear();
}

bool parse_u32(const std::string &word, uint32_t *value) {
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(word.c_str(), &end, 0);
    if (word.empty() || word[0] == '-' || *end != '\0' || errno != 0 || v > UINT32_MAX) {
        std::fprintf(stderr, "not a number: %s\n", word.c_str());
        return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

bool parse_int(const std::string &word, int *value) {
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) {
        std::fprintf(stderr, "not a number: %s\n", word.c_str());
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

bool parse_bytes(const std::string &word, std::vector<uint8_t> *bytes) {
    bytes->clear();
    if (word.rfind("text:", 0) == 0) {
        bytes->assign(word.begin() + 5, word.end());
        return true;
    }
    std::string hex;
    for (char ch : word) {
        if (!std::isxdigit(static_cast<unsigned char>(ch))) {
            std::fprintf(stderr, "not hex bytes: %s\n", word.c_str());
            return false;
        }
        hex += ch;
    }
    if (hex.size() % 2 != 0) {
        std::fprintf(stderr, "odd number of hex digits: %s\n", word.c_str());
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        bytes->push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return true;
}

void print_hex_dump(const uint8_t *data, size_t size, uint32_t base_address) {
    for (size_t row = 0; row < size; row += 16) {
        std::printf("%08x ", static_cast<unsigned>(base_address + row));
        for (size_t i = row; i < row + 16; ++i) {
            if (i < size) {
                std::printf(" %02x", data[i]);
            } else {
                std::printf("   ");
            }
        }
        std::printf("  ");
        for (size_t i = row; i < row + 16 && i < size; ++i) {
            std::putchar(std::isprint(data[i]) ? data[i] : '.');
        }
        std::putchar('\n');
    }
}

}  // namespace bsp::shell
