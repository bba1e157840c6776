// The simulator shell as a person uses it: commands from -c and scripts, usage errors, and a
// state folder that keeps the board between runs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct ShellRun {
    std::string out;
    int status;
};

ShellRun bspsim(const std::string &args) {
    std::string command = std::string(BSP_EMULATOR) + " " + BSPSIM_EXE + " " + args + " 2>&1";
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

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/bspsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string state() const { return "-s " + dir_; }
    std::string dir_;
};

TEST_F(ShellTest, HelpListsCommandsAndHelpCmdShowsOne) {
    ShellRun r = bspsim(state() + " -c help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("fpga-read"), std::string::npos);
    EXPECT_NE(r.out.find("reset-type"), std::string::npos);
    r = bspsim(state() + " -c 'help board'");
    EXPECT_EQ(r.out,
              "  board              [PRESET]                   show the board description, or "
              "load a preset\n");
}

TEST_F(ShellTest, UnknownCommandsAndWrongArgumentsFail) {
    ShellRun r = bspsim(state() + " -c nosuch");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "unknown command: nosuch (try \"help\")\n");
    r = bspsim(state() + " -c 'fpga-write 32 0x10'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "usage: fpga-write 16|32 ADDR VALUE\n");
    r = bspsim(state() + " -c 'fpga-read 32 zz'");
    EXPECT_EQ(r.out, "not a number: zz\n");
}

TEST_F(ShellTest, StateFolderKeepsRegistersAndResetTypeAcrossRuns) {
    ShellRun r = bspsim(state() + " -c 'fpga-write 32 0x100 0xcafe' -c 'reset-type warm'");
    ASSERT_EQ(r.status, 0) << r.out;
    r = bspsim(state() + " -c 'fpga-read 32 0x100' -c reset-type");
    EXPECT_EQ(r.out, "0x00000100: 0x0000cafe\nreset type 2 (warm)\n");
}

TEST_F(ShellTest, ScriptFileRunsEveryLine) {
    std::string script = dir_ + "/script.txt";
    std::ofstream(script) << "# a comment\necho one\n\necho two words\n";
    ShellRun r = bspsim(state() + " " + script);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "one\ntwo words\n");
}

}  // namespace
