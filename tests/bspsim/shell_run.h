// Runs the simulator shell as a person does, with a fresh state folder per test; standard
// output and standard error come back together, in the order written.
#ifndef BSP_TESTS_BSPSIM_SHELL_RUN_H
#define BSP_TESTS_BSPSIM_SHELL_RUN_H

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bsp::test {

struct ShellRun {
    std::string out;
    int status;
};

// `env`: assignments put before the command, as a person types them ("BSP_FAULT_SEED=42 ").
inline ShellRun bspsim_with_env(const std::string &env, const std::string &args) {
    std::string command = env + std::string(BSP_EMULATOR) + " " + BSPSIM_EXE + " " + args + " 2>&1";
    ShellRun r{"", -1};
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

inline ShellRun bspsim(const std::string &args) {
    return bspsim_with_env("", args);
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

}  // namespace bsp::test

#endif
