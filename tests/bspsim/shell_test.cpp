// The simulator shell as a person uses it: commands from -c and scripts, usage errors, and a
// state folder that keeps the board between runs.
#include <fstream>

#include "shell_run.h"

namespace bsp::test {

namespace {

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

}  // namespace bsp::test
