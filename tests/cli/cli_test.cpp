#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <csignal>
#include <iterator>

#include <sys/wait.h>
#include <unistd.h>

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
// runner goes in front of the command (another user, a tracer).
Outcome convert(const TempDir& dir, const std::string& arguments, const std::string& stdinFile = "",
                const std::string& runner = "")
{
    const std::string in = stdinFile.empty() ? "/dev/null" : (dir / stdinFile).string();
    const std::string command = "cd '" + dir.path().string() + "' && " + runner + "'" VARNOOK_CONVERT "' " +
                                arguments + " < '" + in + "' > /tmp/.varnook-" + std::to_string(::getpid()) +
                                ".stdout 2> /tmp/.varnook-" + std::to_string(::getpid()) + ".stderr";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::string outputs = "/tmp/.varnook-" + std::to_string(::getpid());
    std::ifstream out(outputs + ".stdout", std::ios::binary);
    run.out.assign(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
    std::ifstream err(outputs + ".stderr", std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    fs::remove(outputs + ".stdout");
    fs::remove(outputs + ".stderr");
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

    dir.write("odd.txt", "10 A\r\n20 \x81\r\n");
    run = convert(dir, "--to hp --code-page windows-932 -", "odd.txt");
    EXPECT_EQ(run.status, 1) << "nothing is substituted for a byte the code page lacks";
    EXPECT_THAT(run.err, HasSubstr("varnook-convert: -: line 2: byte 0x81"));
    EXPECT_TRUE(run.out.empty());

    // What HP BASIC ASCII cannot give back: a NUL, a character stored as FF.
    dir.write("nul.txt", std::string("10 A\r\n20 B\0\r\n", 13));
    dir.write("ff.txt", "10 A\r\n20 \xFF\r\n");
    for (const char* input : {"nul.txt", "ff.txt"}) {
        run = convert(dir, std::string("--to hp --code-page windows-1252 -o old.asc ") + input);
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_THAT(run.err, HasSubstr(std::string(input) + ": Error!! The character at line 2, column " +
                                       (input[0] == 'n' ? "5" : "4")));
    }
    EXPECT_EQ(dir.read("old.asc"), kWorkedExample);
    EXPECT_EQ(convert(dir, "--to txt --from txt ff.txt").out, dir.read("ff.txt")) << "TXT carries them";
    EXPECT_EQ(dir.listing(), "empty.asc ff.txt kanji.txt long.txt nul.txt odd.txt old.asc");
}

// Failures about the output name the output, and leave it as it was.
TEST(ConvertCommand, OutputProblemsNameTheOutput)
{
    TempDir dir;
    dir.write("prog.txt", "10 A\r\n");
    dir.write("ro.txt", "old");
    fs::permissions(dir / "ro.txt", fs::perms(0444));
    const std::string user = ordinaryUserPrefix(dir);
    const std::pair<std::string, std::string> cases[] = {
        {"-o ro.txt", "varnook-convert: ro.txt: cannot write: Permission denied"},
        {"-o missing/", "varnook-convert: missing/: the folder does not exist"},
        {"-o missing/out.txt", "varnook-convert: missing/out.txt: the folder missing does not exist"},
    };
    for (const auto& [output, message] : cases) {
        const Outcome run = convert(dir, "--to txt --from txt prog.txt " + output, "", user);
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_THAT(run.err, HasSubstr(message)) << output;
    }
    EXPECT_EQ(textOf(dir.read("ro.txt")), "old");
    EXPECT_EQ(dir.listing(), "prog.txt ro.txt");
}

// Every byte a program line can hold comes back as itself in every
// single-byte code page the locale can choose.
TEST(ConvertCommand, EveryByteSurvivesInEverySingleBytePage)
{
    TempDir dir;
    Bytes text = bytesOf("10 ");
    const Bytes line = lineBytes();
    text.insert(text.end(), line.begin(), line.end());
    dir.write("all.txt", text);
    for (const char* page : kSingleByteWindowsPages) {
        const std::string options = std::string(" --code-page ") + page;
        Outcome run = convert(dir, "--to hp -o all.asc all.txt" + options);
        ASSERT_EQ(run.status, 0) << page << ": " << run.err;
        run = convert(dir, "--to txt all.asc" + options);
        EXPECT_EQ(textOf(run.out), textOf(text) + "\r\n") << page << ": " << run.err;
    }
}

// The new file is on disk before it takes the name, and the name is on disk
// before the command reports success.
TEST(ConvertCommand, SyncsTheFileThenTheFolder)
{
    if (std::system("strace -o /dev/null true 2>/dev/null") != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    TempDir dir;
    dir.write("prog.txt", "10 A\r\n");
    // LeakSanitizer cannot run under a tracer.
    const Outcome run = convert(dir, "--to hp prog.txt -o PROG.asc", "",
                                "ASAN_OPTIONS=detect_leaks=0 strace -o trace -e trace=fsync,rename ");
    ASSERT_EQ(run.status, 0) << run.err;
    std::string calls;
    std::istringstream trace(textOf(dir.read("trace")));
    for (std::string line; std::getline(trace, line);) {
        calls += line.substr(0, line.find('(')) + (line.find("PROG.asc") != std::string::npos ? "-target " : " ");
    }
    EXPECT_THAT(calls, ::testing::EndsWith("fsync rename-target fsync +++ exited with 0 +++ "));
}

// Interrupted at any moment, a conversion leaves the old file or the whole
// new one, and no temporary file.
TEST(ConvertCommand, InterruptionsLeaveNoTemporaryFile)
{
    TempDir dir;
    std::string text;
    for (int i = 1; text.size() < 40'000'000; ++i) {
        text += std::to_string(i) + " PRINT \"MEASUREMENT \";I;\" OF 1000\"\r\n";
    }
    dir.write("big.txt", text);
    dir.write("big.asc", "old");
    const Bytes whole = convert(dir, "--to hp big.txt").out;
    int replaced = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const int milliseconds : {0, 15, 30, 50, 80, 120, 200}) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::chdir(dir.path().c_str());
                ::execl(VARNOOK_CONVERT, VARNOOK_CONVERT, "--to", "hp", "big.txt", "-o", "big.asc", nullptr);
                ::_exit(127);
            }
            ::usleep(static_cast<useconds_t>(milliseconds * 1000));
            ::kill(child, signal);
            int status = 0;
            ::waitpid(child, &status, 0);
            const Bytes now = dir.read("big.asc");
            EXPECT_TRUE(textOf(now) == "old" || now == whole) << signal << " after " << milliseconds << " ms";
            replaced += now == whole;
            EXPECT_EQ(dir.listing(), "big.asc big.txt") << signal << " after " << milliseconds << " ms";
            dir.write("big.asc", "old");
        }
    }
    EXPECT_LT(replaced, 21) << "some signal must have come before the end";
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
        {"--to hp -o '' a.txt", "empty -o value"},
        {"--to hp --code-page '' a.txt", "empty --code-page value"},
        {"--to hp --from '' a.txt", "empty --from value"},
        {"--to '' a.txt", "empty --to value"},
        {"--to hp --code-page ibm-37 a.txt", "code page \"ibm-37\" does not store CR, LF, the blank"},
        {"--to hp --code-page utf-16 a.txt", "code page \"utf-16\" does not store CR, LF, the blank"},
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
