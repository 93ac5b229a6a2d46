#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    Bytes out;
    std::string err;
};

// Runs varnook-convert in the folder with the arguments (a shell fragment),
// standard input from the named file (or empty).
Outcome convert(const TempDir& dir, const std::string& arguments, const std::string& stdinFile = "")
{
    const std::string in = stdinFile.empty() ? "/dev/null" : (dir / stdinFile).string();
    const std::string command = "cd '" + dir.path().string() + "' && '" VARNOOK_CONVERT "' " + arguments + " < '" +
                                in + "' > .stdout 2> .stderr";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = dir.read(".stdout");
    run.err = textOf(dir.read(".stderr"));
    fs::remove(dir / ".stdout");
    fs::remove(dir / ".stderr");
    return run;
}

const Bytes kWorkedExample = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

} // namespace

TEST(ConvertCommand, WorkedExampleBothWays)
{
    TempDir dir;
    dir.write("prog.txt", "10 BEEP\r\n20 END");
    Outcome run = convert(dir, "--to hp --code-page windows-1252 prog.txt -o PROG.asc");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("PROG.asc"), kWorkedExample);

    run = convert(dir, "--to txt PROG.asc");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(textOf(run.out), "10 BEEP\r\n20 END\r\n");

    run = convert(dir, "--to hp -", "prog.txt");
    EXPECT_EQ(run.out, kWorkedExample) << "standard input to standard output";
}

TEST(ConvertCommand, TextLineBreaksAreNormalised)
{
    TempDir dir;
    dir.write("unix.txt", "10 BEEP\n20 END\n");
    dir.write("mac.txt", "10 BEEP\r20 END\r");
    EXPECT_EQ(convert(dir, "--to hp unix.txt").out, kWorkedExample);
    EXPECT_EQ(convert(dir, "--to hp mac.txt").out, kWorkedExample);
    EXPECT_EQ(textOf(convert(dir, "--to txt --from txt unix.txt").out), "10 BEEP\r\n20 END\r\n");
}

TEST(ConvertCommand, LineNumbers)
{
    TempDir dir;
    dir.write("plain.txt", "PRINT 1\r\n\r\nEND");
    Outcome run = convert(dir, "--to txt --from txt --line-numbers plain.txt");
    EXPECT_EQ(textOf(run.out), "10 PRINT 1\r\n20 \r\n30 END");
    run = convert(dir, "--to hp --line-numbers --start 1000 --step +5 plain.txt");
    EXPECT_EQ(run.out, hpFile("00 0C 31 30 30 30 20 50 52 49 4E 54 20 31 00 05 31 30 30 35 20 00 00 08 31 30 31 30 "
                              "20 45 4E 44 00 FF FF"));
    run = convert(dir, "--to txt --from txt --line-numbers --start -2147483648 --step -1 plain.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("varnook-convert: plain.txt: line numbers leave the 32-bit range"));
}

TEST(ConvertCommand, SeveralInputsIntoAFolder)
{
    TempDir dir;
    fs::create_directory(dir / "out");
    dir.write("one.asc", kWorkedExample);
    dir.write("two.bas", hpFile("00 04 31 30 20 41 00 FF FF"));
    dir.write("broken.lif", hpFile("00 04 31 30 20 41 00"));
    Outcome run = convert(dir, "--to txt -o out one.asc missing.asc broken.lif two.bas");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("varnook-convert: missing.asc: cannot open: No such file or directory\n"));
    EXPECT_THAT(run.err, HasSubstr("varnook-convert: broken.lif: the file ends inside a length word"));
    EXPECT_EQ(textOf(dir.read("out/one.txt")), "10 BEEP\r\n20 END\r\n");
    EXPECT_EQ(textOf(dir.read("out/two.txt")), "10 A\r\n");
    EXPECT_FALSE(fs::exists(dir / "out" / "broken.txt"));
    EXPECT_TRUE(run.out.empty());
}

TEST(ConvertCommand, NeverOverwritesAnInputOrAnEarlierResult)
{
    TempDir dir;
    dir.write("prog.txt", "10 A\n");
    Outcome run = convert(dir, "--to txt --from txt prog.txt -o prog.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("prog.txt: the result would overwrite the input prog.txt"));
    EXPECT_EQ(textOf(dir.read("prog.txt")), "10 A\n");

    // Into the inputs' own folder: a.txt would replace itself.
    dir.write("a.txt", "A\n");
    run = convert(dir, "--to txt --from txt -o . a.txt prog.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(textOf(dir.read("a.txt")), "A\n");

    dir.write("b.asc", kWorkedExample);
    dir.write("b.bas", hpFile("00 04 31 30 20 41 00 FF FF"));
    fs::create_directory(dir / "out");
    run = convert(dir, "--to txt -o out b.asc b.bas");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("b.bas: the result would overwrite out/b.txt, the result of b.asc"));
    EXPECT_EQ(textOf(dir.read("out/b.txt")), "10 BEEP\r\n20 END\r\n");
}

TEST(ConvertCommand, FailuresNameTheProblemAndKeepExistingFiles)
{
    TempDir dir;
    dir.write("old.asc", kWorkedExample);
    dir.write("long.txt", "10 A\r\n20 REM " + std::string(296, 'x') + "\r\n");
    Outcome run = convert(dir, "--to hp long.txt -o old.asc");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("long.txt: line 2 is 303 characters long; HP BASIC ASCII allows at most 255"));
    EXPECT_EQ(dir.read("old.asc"), kWorkedExample);

    dir.write("kanji.txt", "10 A\r\n20 \x93\xFA\r\n");
    run = convert(dir, "--to hp --code-page windows-932 kanji.txt -o old.asc");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("kanji.txt: Error!! 2 byte character is contained! The character at line 2, "
                                   "column 4 is not a single byte in code page windows-932"));
    EXPECT_EQ(dir.read("old.asc"), kWorkedExample);
    run = convert(dir, "--to txt --from txt --code-page windows-932 kanji.txt");
    EXPECT_EQ(textOf(run.out), "10 A\r\n20 \x93\xFA\r\n") << "TXT carries double-byte characters";

    dir.write("empty.asc", Bytes{});
    run = convert(dir, "--to txt empty.asc");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("empty.asc: the file is empty"));

    run = convert(dir, "--to txt .");
    EXPECT_THAT(run.err, HasSubstr(".: is a folder"));

    dir.write("odd.txt", "10 A\r\n20 \xA1\r\n");
    run = convert(dir, "--to hp --code-page windows-1257 -", "odd.txt");
    EXPECT_EQ(run.status, 1) << "nothing is substituted for a byte the code page lacks";
    EXPECT_THAT(run.err, HasSubstr("varnook-convert: -: line 2: byte 0xA1 has no character in code page windows-1257"));
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(dir.listing(), "empty.asc kanji.txt long.txt odd.txt old.asc");
}

TEST(ConvertCommand, UsageErrors)
{
    TempDir dir;
    dir.write("a.txt", "A");
    dir.write("b.txt", "B");
    const std::pair<const char*, const char*> cases[] = {
        {"a.txt", "--to is required"},
        {"--to doc a.txt", "invalid --to value 'doc'"},
        {"--to txt --from pdf a.txt", "invalid --from value 'pdf'"},
        {"--to txt --line-numbers a.txt", "--line-numbers numbers a TXT input"},
        {"--to hp --start ten a.txt", "invalid --start value 'ten'"},
        {"--to hp --step 2147483648 a.txt", "invalid --step value '2147483648'"},
        {"--to hp --code-page klingon a.txt", "invalid --code-page value 'klingon'"},
        {"--to hp a.txt b.txt", "several inputs need -o"},
        {"--to hp -o a.txt a.txt b.txt", "must name an existing folder"},
        {"--to hp", "INPUT is required"},
        {"--to hp --bogus a.txt", "--bogus"},
    };
    for (const auto& [arguments, message] : cases) {
        const Outcome run = convert(dir, arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_THAT(run.err, HasSubstr(message)) << arguments;
        EXPECT_THAT(run.err, HasSubstr("Try 'varnook-convert --help'")) << arguments;
    }
    EXPECT_EQ(dir.listing(), "a.txt b.txt");
}

TEST(ConvertCommand, HelpAndVersion)
{
    TempDir dir;
    Outcome run = convert(dir, "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(textOf(run.out), "varnook-convert 2.5.0\n");
    run = convert(dir, "--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(textOf(run.out), HasSubstr("--line-numbers"));
    EXPECT_THAT(textOf(run.out), HasSubstr("Exit status"));
}

TEST(ConvertCommand, DashDashEndsOptions)
{
    TempDir dir;
    dir.write("-odd.txt", "10 A");
    const Outcome run = convert(dir, "--to hp -- -odd.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, hpFile("00 04 31 30 20 41 00 FF FF"));
}
