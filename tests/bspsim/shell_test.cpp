// The simulator shell as a person uses it: commands from -c and scripts, arguments checked
// against their ranges, comments and quotes, results with their meaning, a state folder that
// keeps the board between runs and belongs to one unit at a time, a real terminal, and the
// README's tour. Its console as scripts and people use it: one status line per reply, JSON
// answers, clients whose commands never interleave, bad input answered, the socket's safety,
// attach, and shutdown with the state saved.
#include <bsp_sim/net.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "support/sim_fixture.h"

extern char **environ;

namespace bsp::test {
namespace {

// A shell run as a person does it; standard output and standard error come back together,
// in the order written.
struct ShellRun {
    std::string out;
    int status;
};

// `env`: assignments put before the command, as a person types them ("BSP_FAULT_SEED=42 ").
ShellRun bspsim(const std::string &args, const std::string &env = "") {
    std::string command = env + std::string(BSP_EMULATOR) + " " + BSPSIM_EXE + " " + args + " 2>&1";
    ShellRun r{"", -1};
    FILE *p = popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    int st = p != nullptr ? pclose(p) : -1;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class ShellTest : public ::testing::Test {
  protected:
    // A fault seed a replay of other tests left in the environment would seed the shells.
    void SetUp() override {
        ::unsetenv("BSP_FAULT_SEED");
        char tmpl[] = "/tmp/bspsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        ::unsetenv("BSP_FAULT_SEED");
        std::system(("rm -rf " + dir_).c_str());
    }
    std::string state() const { return "-s " + dir_; }
    std::string dir_;
};

// Whether `out` reads as `shown`, in which "..." stands for any text.
bool reads_as(const std::string &out, const std::string &shown) {
    size_t at = 0, from = 0;
    for (size_t gap; (gap = shown.find("...", from)) != std::string::npos; from = gap + 3) {
        size_t found = out.find(shown.substr(from, gap - from), at);
        if (found == std::string::npos || (from == 0 && found != 0)) {
            return false;
        }
        at = found + gap - from;
    }
    std::string last = shown.substr(from);
    return from == 0
               ? out == shown
               : out.size() >= at + last.size() && out.substr(out.size() - last.size()) == last;
}

// The column of a command's help text within its line.
size_t help_column(const std::string &out, const std::string &text) {
    size_t at = out.find(text);
    return at == std::string::npos ? 0 : at - out.rfind('\n', at) - 1;
}

TEST_F(ShellTest, HelpLinesUpEveryCommandAndShowsOne) {
    ShellRun r = bspsim(state() + " -c help");
    size_t column = help_column(r.out, "leave the shell");
    EXPECT_GT(column, 20u);
    for (const char *text : {"show FPGA registers", "read and check an EEPROM data item",
                             "set the link partner's abilities"}) {  // the last: a long synopsis
        EXPECT_EQ(help_column(r.out, text), column) << text;
    }
    r = bspsim(state() + " -c 'help board'");
    EXPECT_EQ(r.out.rfind("  board ", 0), 0u);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);
    EXPECT_EQ(help_column(r.out, "show the board description"), column);
}

struct BadLine {
    const char *line;
    std::string error;
};

const std::string kKinds =
    "eeprom-tear eeprom-busy flash-tear flash-erase-tear serial-drop serial-flip doorbell-lost "
    "doorbell-repeat hdlc-drop doorbell-out-lost doorbell-out-repeat hdlc-out-drop";

// The fault plan as "faults" shows it when it is off: a row for each kind.
const std::string kPlanOff = [] {
    std::string plan =
        "fault plan seed 0x0000000000000000, eeprom busy 50 ms\n"
        "kind                 chance   events   at events\n";
    std::istringstream kinds(kKinds);
    for (std::string kind; kinds >> kind;) {
        plan += kind + std::string(21 - kind.size(), ' ') + "0        0        -\n";
    }
    return plan + "0 fault(s) dealt\n";
}();

// Every argument the shell interprets is refused outside its range, naming the range, and
// a refused line changes nothing. (Unknown commands, words that are no number and counts out
// of range show in the console's test and the README's tour.)
TEST_F(ShellTest, WrongLinesAreRefusedWithTheirReason) {
    const BadLine lines[] = {
        {"fpga-write 32 0x10", "usage: fpga-write 16|32 ADDR VALUE"},
        {"fpga-write 16 0x102 0x12345", "a register value of this width is 0x0..0xffff: 0x12345"},
        {"tcp-open -1", "PORT is 1..65535: -1"},
        {"tcp-open 70000", "PORT is 1..65535: 70000"},
        {"pci-inject 300 01", "DEV (one byte in the window) is 0..255: 300"},
        {"partner forced 33 full", "SPEED is one of 10, 100, 1000: 33"},
        {"serial-rate 12345",
         "RATE is one of 2400, 4800, 9600, 19200, 38400, 57600, 115200: 12345"},
        {"log PCI 9",
         "the log level (-1 silent, 0 and 1 errors and events, 2 tracing) is -1..2: 9"},
        {"flash-read 0 65537", "LEN is 0..65536: 65537"},
        {"echo \"open", "unterminated \" quote"},
        {"e2prom-get 1 7", "e2prom_get_data_size = -2"},
        {"faults chance nope 1", "no such fault kind: nope (have: " + kKinds + ")"},
        {"faults chance hdlc-out-drop 1.5", "a chance is a number from 0 to 1: 1.5"},
        {"faults chance hdlc-out-drop nan", "a chance is a number from 0 to 1: nan"},
        {"faults at hdlc-out-drop 0", "events are counted from 1"},
        {"faults at hdlc-out-drop 2 x", "not a number: x"},
        {"faults seed -1", "not a 64-bit number: -1"},
        {"faults seed", "usage: faults seed N"},
        {"faults zap", "no such faults command: zap (have: seed chance at busy off)"},
    };
    for (const BadLine &l : lines) {
        ShellRun r = bspsim(state() + " -c '" + l.line + "' -c faults");
        EXPECT_EQ(r.status, 1) << l.line;
        // the line's error, and the plan unchanged
        EXPECT_TRUE(reads_as(r.out, "...error: " + l.error + "\n" + kPlanOff)) << r.out;
    }
}

// A run seeded from BSP_FAULT_SEED deals the faults a "faults seed" of the same number deals;
// another seed deals others.
TEST_F(ShellTest, FaultSeedFromTheEnvironmentReplaysLikeTheSeedCommand) {
    std::string sends = " -c 'faults chance hdlc-out-drop 0.5' -c 'log all -1' -c dpdp-open";
    for (int i = 1; i <= 12; ++i) {
        sends += " -c 'dpdp-send 0" + std::string(1, "0123456789abc"[i]) + "'";
    }
    sends += " -c dpdp-far";
    // what the run prints after its first line, the seed's
    auto dealt = [&](const std::string &seed, const std::string &env) {
        std::string out = bspsim(state() + seed + sends, env).out;
        return out.substr(out.find('\n') + 1);
    };
    std::string by_env = dealt("", "BSP_FAULT_SEED=0x2a ");
    EXPECT_EQ(dealt(" -c 'faults seed 0x2a'", ""), by_env);
    EXPECT_NE(by_env.find("far end got #0,"), std::string::npos) << by_env;   // some frames arrive
    EXPECT_EQ(by_env.find("far end got #11,"), std::string::npos) << by_env;  // and some are lost
}

// A run of the shell (its arguments after the state folder, and the environment), its exit
// status and what it prints.
struct Session {
    std::string args;
    int status;
    std::string shown;
    std::string env = "";
};

// Comments, quotes and quit end lines as in a shell, in -c and scripts. Without
// BSP_FAULT_SEED the plan starts off and "faults off" puts it back there; a seed that is no
// number is refused. The library's codes come with the meaning its family documents. A kept
// database region is adopted as it is and another size is refused with the cause. A speeds
// query is refused until the capability phase ends, which it does for good (a later pmap-init
// empties its semaphore again).
TEST_F(ShellTest, RunsPrintWhatTheyMean) {
    std::ofstream(dir_ + "/script.txt")
        << "# a comment\necho one\n\necho two words  # said twice\nexit\necho x\n";
    const Session runs[] = {
        {" -c 'echo one   # a comment' -c '# only a comment' -c 'echo \"two # words\" x#y' -c quit"
         " -c 'echo never'",
         0, "one\ntwo # words x#y\n"},
        {" " + dir_ + "/script.txt", 0, "one\ntwo words\n"},
        {" -c faults -c 'faults chance serial-flip 0.5' -c 'faults busy 200' -c 'faults seed 12'"
         " -c 'faults chance hdlc-drop 1' -c 'faults off' -c faults",
         0,
         kPlanOff +
             "serial-flip: chance 0.5\neeprom busy 200 ms\n"
             "fault plan seed 0x000000000000000c, eeprom busy 50 ms\nhdlc-drop: chance 1\n"
             "fault plan off\n" +
             kPlanOff},
        {" -c help", 2, "bspsim: BSP_FAULT_SEED is not a number (decimal or 0x-hexadecimal): abc\n",
         "BSP_FAULT_SEED=abc "},
        {" -c 'dpdp-open' -c 'dpdp-send 00' -c 'serial-write 01' -c 'e2prom-format'"
         " -c 'e2prom-area 1 100' -c 'e2prom-get 1 7'",
         1,
         "...DpdpSend = 1 (not sent: reconfigured (dispatcher 0), busy, or HDLC refused)\n"
         "...FramerWrite = 1 (refused: not created, not open, or a bad message)\n"
         "...result -12 (no such data item in the area)\n..."},
        {" -c 'db-create 0'", 0, "database 0: region 0x30000000, 1048576 bytes\n"},  // kept
        {" -c 'db-create 0 4096' -c 'db-create 0'", 1,
         "error: database 0 keeps a region of 1048576 bytes in the state folder, not 4096: "
         "db-create 0 without a size adopts it with its objects\n"
         "database 0: region 0x30000000, 1048576 bytes\n"},
        {" -c 'log all -1' -c port_init -c pmap-init -c 'supported_speeds 3' -c synce-finish"
         " -c pmap-init -c 'supported_speeds 3'",
         1,
         "...error: the port map's SyncE capability phase has not ended...\nSupported speeds: "
         "e0c00000/s\n..."},
    };
    for (const Session &run : runs) {
        ShellRun r = bspsim(state() + run.args, run.env);
        EXPECT_EQ(r.status, run.status) << run.args << "\n" << r.out;
        EXPECT_TRUE(reads_as(r.out, run.shown)) << run.args << "\n" << r.out;
    }
}

// A pci_send on a full queue whose acknowledgements are held does not take the shell with it;
// its result follows when the acknowledgements are released (before or after the release's
// own line).
TEST_F(ShellTest, WaitingSendLeavesTheShellFree) {
    std::string args = state() + " -c 'log PCI -1' -c 'pci-open' -c 'pci-hold on'";
    for (int i = 0; i < 65; ++i) {
        args += " -c 'pci-send 2 01'";
    }
    ShellRun r = bspsim(args + " -c 'pci-ack 2' -c 'sleep 200'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(
        reads_as(r.out, "...pci_send waits: the transmit queue is full...pci_send = 0\n..."))
        << r.out;
    EXPECT_NE(r.out.find("2 acknowledgement(s) released\n"), std::string::npos) << r.out;
}

// At a terminal of its own (a pseudo-terminal the test types into), Ctrl-C abandons the line
// being typed and the command being run, and Ctrl-D leaves.
TEST_F(ShellTest, TerminalSessionWithCtrlCAndCtrlD) {
    std::string cmd = "exec " + std::string(BSP_EMULATOR) + " " + BSPSIM_EXE + " " + state();
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);  // the terminal becomes its own
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
        ::_exit(127);
    }
    auto type = [&](const std::string &keys) { (void)!::write(master, keys.data(), keys.size()); };
    std::string screen;
    size_t seen = 0;
    // What the terminal shows until `want` appears (or ten seconds pass).
    auto until = [&](const std::string &want) {
        for (int i = 0; i < 1000 && screen.find(want, seen) == std::string::npos; ++i) {
            pollfd p = {master, POLLIN, 0};
            char buf[4096];
            ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(master, buf, sizeof buf) : 0;
            screen.append(buf, static_cast<size_t>(n > 0 ? n : 0));
        }
        size_t at = screen.find(want, seen);
        at = at == std::string::npos ? screen.size() : at + want.size();
        std::string shown = screen.substr(seen, at - seen);
        seen = at;
        return shown;
    };
    until("bsp> ");
    type("echo abandoned");
    until("abandoned");  // echoed before Ctrl-C flushes the terminal's queues
    type("\x03");
    EXPECT_EQ(until("bsp> "), "^C\r\nbsp> ");
    type("sleep 100000\n");
    until("sleep 100000\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    type("\x03");
    EXPECT_EQ(until("bsp> "), "^Cerror: interrupted\r\nbsp> ");
    type("\x04");
    int st = 0;
    ::waitpid(pid, &st, 0);
    ::close(master);
    EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1,
              1);  // as after any session with a failed command
}

// The tour's sessions, typed as the README shows them (comments included), print the lines the
// README shows, in their order ("..." skips any number; pseudo-terminal numbers, heap addresses
// and trailing blanks may differ), and fail only where the README shows an error.
TEST_F(ShellTest, ReadmeTourRunsAsShown) {
    const std::string port = std::to_string(sim::free_loopback_port());
    std::ifstream readme(std::string(BSP_SOURCE_DIR) + "/README.md");
    std::vector<std::array<std::string, 3>> sessions;  // start line, lines typed, lines shown
    bool in_tour = false, in_block = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("## ", 0) == 0) {
            in_tour = line == "## A short tour of the shell";
        } else if (in_tour && line.rfind("```", 0) == 0) {
            in_block = line == "```text";  // other blocks are for another shell
            if (in_block) {
                sessions.push_back({"./bspsim"});
            }
        } else if (in_block && line.rfind("$ ", 0) == 0) {
            if (!sessions.back()[1].empty()) {
                sessions.push_back({});
            }
            sessions.back()[0] = line.substr(2, line.find('#') - 2);
        } else if (in_block) {
            line = std::regex_replace(line, std::regex("5555"), port);
            line = std::regex_replace(line, std::regex("\\s{2,}# .*$"), "");  // a note beside it
            bool typed = line.rfind("bsp> ", 0) == 0;
            sessions.back()[typed ? 1 : 2] += (typed ? line.substr(5) : line) + "\n";
        }
    }
    ASSERT_GE(sessions.size(), 8u);
    const std::regex varying("(/dev/pts/)[0-9]+|(0x0x)[0-9a-f]+"), error("(^|\n)error: ");
    auto steady = [&](std::string l) {
        l.erase(l.find_last_not_of(" \t") + 1);
        return std::regex_replace(l, varying, "$1$2#");
    };
    for (size_t i = 0; i < sessions.size(); ++i) {
        auto &[start, typed, shown] = sessions[i];
        std::string script = dir_ + "/tour" + std::to_string(i);
        std::ofstream(script) << typed;
        size_t exe = start.find("./bspsim");
        bool kept = start.find("-s ") != std::string::npos;  // the restart of a kept unit
        std::string args = std::regex_replace(start.substr(exe + 8), std::regex("-s [^ ]+"), "");
        ShellRun r =
            bspsim("-s " + (kept ? dir_ + "/kept" : script + ".state") + args + " " + script,
                   start.substr(0, exe));
        EXPECT_EQ(std::regex_search(r.out, error), std::regex_search(shown, error))
            << typed << r.out;
        std::istringstream printed(r.out), want(shown);
        std::string got;
        for (std::string line; std::getline(want, line);) {
            bool found = steady(line).empty() || steady(line) == "...";
            while (!found && std::getline(printed, got)) {
                found = steady(got) == steady(line);
            }
            ASSERT_TRUE(found) << "README shows: " << line << "\nshell printed:\n" << r.out;
        }
    }
}

using namespace std::chrono_literals;

// A client of a unit's console.
class Client {
  public:
    explicit Client(const std::string &path)
        : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send_raw(const std::string &bytes) {
        (void)!::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // The reply up to and including its status line ("" when the unit hung up).
    std::string ask(const std::string &line) {
        send_raw(line + "\n");
        return reply();
    }
    std::string reply() {
        std::string text;
        size_t last = 0;  // where the last line starts
        for (char c; ::recv(fd_, &c, 1, 0) == 1;) {
            text += c;
            if (c == '\n' &&
                (text.substr(last) == "ok\n" || text.compare(last, 7, "error: ") == 0)) {
                break;
            }
            last = c == '\n' ? text.size() : last;
        }
        return text;
    }

  private:
    int fd_;
    bool connected_ = false;
};

class ConsoleTest : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        sock_ = dir_ + "/console.sock";
    }
    void TearDown() override {
        stop();
        ShellTest::TearDown();
    }
    // A unit serving its console, started as a person does from another terminal.
    void serve(const std::string &extra = "") {
        std::string cmd = "exec " + std::string(BSP_EMULATOR) + " " + BSPSIM_EXE + " " + state() +
                          extra + " --serve " + sock_ + " >" + dir_ + "/unit.out 2>&1";
        const char *argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
        ASSERT_EQ(
            posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ), 0);
        wait_until([this] { return Client(sock_).connected(); });
    }
    // Ends the unit by the console's shutdown, or by `signal`.
    int stop(int signal = 0) {
        if (pid_ <= 0) {
            return -1;
        }
        if (signal != 0) {
            ::kill(pid_, signal);
        } else {
            Client(sock_).ask("shutdown");
        }
        int st = 0;
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    // Open descriptors and threads of the unit.
    std::pair<size_t, size_t> resources() const {
        auto count = [this](const char *what) {
            auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + what);
            return static_cast<size_t>(std::distance(it, {}));
        };
        return {count("/fd"), count("/task")};
    }
    std::string sock_;
    pid_t pid_ = -1;
};

// Paths in use are never taken (a file, another unit's console, the state folder of a running
// unit) and a stale socket is reused; replies end with one status line and attach shares the unit;
// the status commands answer in JSON when asked to (pci-far's object shows in the example
// application's scenario); shutdown ends the unit with its state saved.
TEST_F(ConsoleTest, PathsRepliesAttachJsonAndShutdown) {
    std::ofstream(sock_) << "a file";
    ShellRun r = bspsim(state() + " --serve " + sock_);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "bspsim: console: " + sock_ + " exists and is not a socket\n");
    std::filesystem::remove(sock_);
    ::mknod(sock_.c_str(), S_IFSOCK | 0600, 0);  // a stale socket left by a unit that died
    serve(" --json");
    r = bspsim(state() + " -c help");  // the state folder belongs to the running unit
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("bsp_sim: state folder " + dir_ + " is in use by process "),
              std::string::npos)
        << r.out;
    r = bspsim("-s " + dir_ + "/other --serve " + sock_);
    EXPECT_EQ(r.out, "bspsim: console: " + sock_ + " is the console of a running unit\n");
    struct stat st {};
    ASSERT_EQ(::stat(sock_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Client c(sock_);
    EXPECT_EQ(c.ask("flash-info"),
              "{\"base\":0,\"size\":8388608,\"sectors\":128,\"sector_size\":65536}\nok\n");
    c.ask("dpdp-open");
    c.ask("dpdp-send 0102");
    EXPECT_EQ(c.ask("dpdp-far"), "{\"frames\":[\"0102\"],\"open\":true,\"rx_pending\":0}\nok\n");
    std::string faults = c.ask("faults");
    EXPECT_EQ(faults.rfind("{\"seed\":\"0x0000000000000000\",\"eeprom_busy_ms\":50,\"kinds\":[", 0),
              0u)
        << faults;
    EXPECT_EQ(c.ask("json off"), "json off\nok\n");
    r = bspsim("--attach " + sock_ + " -c 'fpga-write 32 0x100 0xcafe' -c 'echo ok'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\n");  // the echoed "ok" comes through, the status lines do not
    EXPECT_EQ(c.ask("fpga-read 32 0x100"), "0x00000100: 0x0000cafe\nok\n");
    EXPECT_EQ(c.ask("echo ok"), " ok\nok\n");  // output never reads as a status line
    EXPECT_EQ(c.ask("fpga-read 32 zz"), "error: not a number: zz\n");
    EXPECT_EQ(c.ask("nosuch  # comment"), "error: unknown command: nosuch (try \"help\")\n");
    EXPECT_EQ(c.ask(std::string("echo \x01\x02", 7)),
              "error: the line holds control or binary bytes\n");
    r = bspsim("--attach " + sock_ + " -c 'fpga-read 32 0x100' -c 'db-read x'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "0x00000100: 0x0000cafe\nerror: x is not open (db-open it first)\n");
    EXPECT_EQ(stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(sock_));
    EXPECT_EQ(bspsim(state() + " -c 'fpga-read 32 0x100'").out, "0x00000100: 0x0000cafe\n");
}

// Two clients' commands run whole, one after the other; clients that go leave nothing behind;
// SIGTERM ends the unit as shutdown does.
TEST_F(ConsoleTest, ClientsNeverInterleaveLeaveNothingBehindAndSigtermSaves) {
    serve();
    { Client(sock_).ask("echo warm"); }
    std::this_thread::sleep_for(1500ms);  // the acceptor reaps departed clients every second
    auto before = resources();
    auto worker = [this](const char *word, std::string *got) {
        Client c(sock_);
        for (int i = 0; i < 20; ++i) {
            *got += c.ask(std::string("echo ") + word + " " + word + " " + word);
        }
    };
    std::string a, b;
    std::thread ta(worker, "aaaa", &a), tb(worker, "bbbb", &b);
    ta.join();
    tb.join();
    std::string expect_a, expect_b;
    for (int i = 0; i < 20; ++i) {
        expect_a += "aaaa aaaa aaaa\nok\n";
        expect_b += "bbbb bbbb bbbb\nok\n";
    }
    EXPECT_EQ(a, expect_a);
    EXPECT_EQ(b, expect_b);
    {
        Client gone(sock_);
        gone.send_raw("fpga-read 32 0 4096\n");  // leaves before its reply is read
    }
    {
        Client flood(sock_);
        flood.send_raw(std::string(70000, 'x'));
        EXPECT_EQ(flood.reply(), "error: line longer than 65536 bytes; client dropped\n");
    }
    Client c(sock_);
    EXPECT_EQ(c.ask("echo still here"), "still here\nok\n");
    // Only the client still attached, once the acceptor has reaped the departed ones.
    auto one_more = std::make_pair(before.first + 1, before.second + 1);
    EXPECT_TRUE(wait_until([&] { return resources() == one_more; })) << resources().first;
    // SIGTERM ends the unit with its state (registers, reset type) saved for the next run.
    c.ask("fpga-write 32 0x104 0xbeef");
    c.ask("reset-type warm");
    stop(SIGTERM);
    EXPECT_EQ(bspsim(state() + " -c 'fpga-read 32 0x104' -c reset-type").out,
              "0x00000104: 0x0000beef\nreset type 2 (warm)\n");
}

}  // namespace
}  // namespace bsp::test
