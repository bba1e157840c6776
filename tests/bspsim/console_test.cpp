// The console of a running unit as scripts and people use it: one status line per reply,
// JSON answers, several clients whose commands never interleave, bad input answered and the
// unit going on, the socket's safety, attach, and shutdown with the state saved.
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "shell_run.h"

extern char **environ;

namespace bsp::test {

namespace {

using namespace std::chrono_literals;

class Client {
  public:
    explicit Client(const std::string &path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
        char buf[4096];
        while (!ends_with_status(text)) {
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            text.append(buf, static_cast<size_t>(n));
        }
        return text;
    }

  private:
    static bool ends_with_status(const std::string &t) {
        if (t.empty() || t.back() != '\n') {
            return false;
        }
        size_t start = t.rfind('\n', t.size() - 2);
        std::string last = t.substr(start == std::string::npos ? 0 : start + 1);
        return last == "ok\n" || last.rfind("error: ", 0) == 0;
    }
    int fd_ = -1;
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
        for (int i = 0; i < 1000 && !Client(sock_).connected(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
    }
    int stop() {
        if (pid_ <= 0) {
            return -1;
        }
        Client(sock_).ask("shutdown");
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

TEST_F(ConsoleTest, RepliesEndWithOneStatusLineAttachSharesTheUnitAndShutdownSaves) {
    serve();
    struct stat st {};
    ASSERT_EQ(::stat(sock_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ShellRun r = bspsim("--attach " + sock_ + " -c 'fpga-write 32 0x100 0xcafe' -c 'echo ok'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\n");  // the echoed "ok" comes through, the status lines do not
    Client c(sock_);
    EXPECT_EQ(c.ask("fpga-read 32 0x100"), "0x00000100: 0x0000cafe\nok\n");
    EXPECT_EQ(c.ask("echo ok"), " ok\nok\n");  // output never reads as a status line
    EXPECT_EQ(c.ask("fpga-read 32 zz"), "error: not a number: zz\n");
    EXPECT_EQ(c.ask("nosuch  # comment"), "error: unknown command: nosuch (try \"help\")\n");
    EXPECT_EQ(c.ask(std::string("echo \x01\x02", 7)),
              "error: the line holds control or binary bytes\n");
    r = bspsim("--attach " + sock_ + " -c 'fpga-read 32 0x100' -c 'db-read x'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "0x00000100: 0x0000cafe\nerror: x is not open (db-open it first)\n");
    // Shutdown ends the unit with its state saved.
    EXPECT_EQ(stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(sock_));
    EXPECT_EQ(bspsim(state() + " -c 'fpga-read 32 0x100'").out, "0x00000100: 0x0000cafe\n");
}

TEST_F(ConsoleTest, JsonAnswersOfTheStatusCommands) {
    serve(" --json");
    Client c(sock_);
    EXPECT_EQ(c.ask("flash-info"),
              "{\"base\":0,\"size\":8388608,\"sectors\":128,\"sector_size\":65536}\nok\n");
    EXPECT_EQ(c.ask("pci-far"),
              "{\"taken\":[],\"held_acks\":0,\"rx_pending\":0,\"ready\":0,"
              "\"software_version\":\"0x00000000\"}\nok\n");
    c.ask("dpdp-open");
    c.ask("dpdp-send 0102");
    EXPECT_EQ(c.ask("dpdp-far"), "{\"frames\":[\"0102\"],\"open\":true,\"rx_pending\":0}\nok\n");
    std::string faults = c.ask("faults");
    EXPECT_EQ(faults.rfind("{\"seed\":\"0x0000000000000000\",\"eeprom_busy_ms\":50,\"kinds\":[", 0),
              0u)
        << faults;
    EXPECT_EQ(c.ask("json off"), "json off\nok\n");
    EXPECT_EQ(c.ask("flash-info"), "base 0x00000000 size 8388608 sectors 128 of 65536 bytes\nok\n");
}

// Two clients' commands run whole, one after the other; clients that go leave nothing behind.
TEST_F(ConsoleTest, ClientsNeverInterleaveAndLeaveNothingBehind) {
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
    std::this_thread::sleep_for(1500ms);
    auto after = resources();
    EXPECT_EQ(after.first, before.first + 1);  // only the client still attached
    EXPECT_EQ(after.second, before.second + 1);
}

TEST_F(ConsoleTest, PathsInUseAreNeverTaken) {
    std::ofstream(sock_) << "a file";
    ShellRun r = bspsim(state() + " --serve " + sock_);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "bspsim: console: " + sock_ + " exists and is not a socket\n");
    std::filesystem::remove(sock_);
    serve();
    r = bspsim("-s " + dir_ + "/other --serve " + sock_);
    EXPECT_EQ(r.out, "bspsim: console: " + sock_ + " is the console of a running unit\n");
    EXPECT_EQ(stop(), 0);
    ::mknod(sock_.c_str(), S_IFSOCK | 0600, 0);  // a stale socket left by a unit that died
    serve();
    EXPECT_EQ(Client(sock_).ask("echo reused"), "reused\nok\n");
}

}  // namespace

}  // namespace bsp::test
