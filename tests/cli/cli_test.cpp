#include "cli/converter.h"
#include "core/io/file_io.h"
#include "core/lif/lif.h"
#include "support/captures.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace varnook;
using namespace varnook::cli;
using namespace varnook::test;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

// The program the tests drive: this build's, or another build of it that
// VARNOOK_CONVERT_UNDER_TEST names (the Windows build under Wine).
const std::string kProgram = [] {
    const char* other = std::getenv("VARNOOK_CONVERT_UNDER_TEST");
    return std::string(other != nullptr && *other != '\0' ? other : VARNOOK_CONVERT);
}();
// Whether that is this build: what needs Linux (another user, a file size
// limit, strace, the git of this machine) is tried on it alone.
const bool kLinuxProgram = kProgram == VARNOOK_CONVERT;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs varnook-convert in the folder with the arguments (a shell fragment),
// standard input from the named file (or empty); runner goes in front of
// the command (another user, a tracer).
Outcome convert(const TempDir& dir, const std::string& arguments, const std::string& stdinFile = "",
                const std::string& runner = "")
{
    const std::string in = stdinFile.empty() ? "/dev/null" : (dir / stdinFile).string();
    const std::string outputs = "/tmp/.varnook-" + std::to_string(::getpid());
    const std::string command = "cd '" + dir.path().string() + "' && " + runner + "'" + kProgram + "' " + arguments +
                                " < '" + in + "' > " + outputs + ".stdout 2> " + outputs + ".stderr";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    for (auto [name, text] : {std::pair{".stdout", &run.out}, std::pair{".stderr", &run.err}}) {
        std::ifstream file(outputs + name, std::ios::binary);
        text->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        fs::remove(outputs + name);
    }
    if (!kLinuxProgram) { // Windows joins a folder and a name with a backslash
        std::replace(run.err.begin(), run.err.end(), '\\', '/');
    }
    return run;
}

const std::string kWorked = textOf(hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF"));

// A run: arguments, standard input, exit status, standard output (or ""
// when none is wanted) and what standard error must hold.
struct Invocation {
    std::string arguments, input;
    int status;
    std::string out, err;
};

void expectRun(const TempDir& dir, const Invocation& run)
{
    const Outcome got = convert(dir, run.arguments, run.input);
    EXPECT_EQ(got.status, run.status) << run.arguments << "\n" << got.err;
    EXPECT_EQ(got.out, run.out) << run.arguments;
    EXPECT_THAT(got.err, HasSubstr(run.err)) << run.arguments;
    EXPECT_EQ(std::regex_search(got.err, std::regex("Try 'varnook-convert ([a-z]+ )?--help'")), run.status == 2)
        << run.arguments;
}

} // namespace

TEST(ConvertCommand, Runs)
{
    TempDir dir;
    dir.write("prog.txt", "10 BEEP\r\n20 END");
    dir.write("unix.txt", "10 BEEP\n20 END\n");
    dir.write("mac.txt", "10 BEEP\r20 END\r");
    dir.write("PROG.asc", kWorked);
    dir.write("plain.txt", "PRINT 1\r\n\r\nEND");
    dir.write("kanji.txt", "10 A\r\n20 \x93\xFA\r\n");
    dir.write("ff.txt", "10 A\r\n20 \xFF\r\n");
    dir.write("zero.txt", std::string("10 A\r\n20 B\0\r\n", 13)); // not nul.txt: Windows' device
    dir.write("empty.asc", "");
    dir.write("-odd.txt", "10 A");
    dir.write("disk.lif", lif::newVolumeImage("", 20, 1, {}));
    const std::string numbered = textOf(hpFile("00 0C 31 30 30 30 20 50 52 49 4E 54 20 31 00 05 31 30 30 35 20 00 "
                                               "00 08 31 30 31 30 20 45 4E 44 00 FF FF"));
    const Invocation runs[] = {
        {"--to hp --code-page windows-1252 prog.txt", "", 0, kWorked, ""},
        {"--to txt PROG.asc", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--to hp -", "prog.txt", 0, kWorked, ""},
        {"--to hp mac.txt", "", 0, kWorked, ""},
        {"--to txt --from txt unix.txt", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--to txt --from txt --line-numbers plain.txt", "", 0, "10 PRINT 1\r\n20 \r\n30 END", ""},
        {"--to hp --line-numbers --start 1000 --step +5 plain.txt", "", 0, numbered, ""},
        {"--to hp -- -odd.txt", "", 0, textOf(hpFile("00 04 31 30 20 41 00 FF FF")), ""},
        {"--to txt --from txt --code-page windows-932 kanji.txt", "", 0, "10 A\r\n20 \x93\xFA\r\n", ""},
        {"--to txt --from txt ff.txt", "", 0, "10 A\r\n20 \xFF\r\n", ""},
        {"--version", "", 0, "varnook-convert " VARNOOK_VERSION "\n", ""},
        {"--to hp --code-page windows-1252 zero.txt", "", 1, "", "zero.txt: Error!! The character at line 2, column 5"},
        {"--to hp --code-page windows-932 kanji.txt", "", 1, "",
         "kanji.txt: Error!! 2 byte character is contained! The character at line 2, column 4 is not a single "
         "byte in code page windows-932"},
        {"--to txt empty.asc", "", 1, "",
         "empty.asc: not an HP BASIC ASCII program file (its header differs); read "
         "it as text with --from txt"},
        {"--to hp PROG.asc", "", 1, "",
         "PROG.asc: this is an HP BASIC ASCII program file, not text; read it with "
         "--from hp"},
        {"--to txt --from txt disk.lif", "", 1, "", "disk.lif: this is a LIF disk image; list it with --list"},
        {"--to txt .", "", 1, "", ".: is a folder"},
        {"plain.txt", "", 2, "", "--to is required"},
        {"--to doc plain.txt", "", 2, "", "--to: doc not in {txt,hp,lif-ascii,lif}"},
        {"--to txt --line-numbers PROG.asc", "", 2, "", "--line-numbers numbers a TXT input"},
        {"--to hp --start ten plain.txt", "", 2, "", "invalid --start value 'ten'"},
        {"--to hp --step 2147483648 plain.txt", "", 2, "", "invalid --step value '2147483648'"},
        {"--to hp --code-page klingon plain.txt", "", 2, "", "invalid --code-page value 'klingon'"},
        {"--to hp plain.txt prog.txt", "", 2, "", "several inputs need -o"},
        {"--to hp -o plain.txt plain.txt prog.txt", "", 2, "", "must name an existing folder"},
        {"--to hp -o . - plain.txt", "", 2, "", "standard input ('-') can only be converted on its own"},
        {"--to hp", "", 2, "", "INPUT is required"},
        {"--to hp -o '' plain.txt", "", 2, "", "empty -o value"},
        {"--to hp --code-page '' plain.txt", "", 2, "", "empty --code-page value"},
    };
    const std::string before = dir.listing();
    for (const auto& run : runs) {
        expectRun(dir, run);
    }
    EXPECT_EQ(dir.listing(), before) << "nothing written beside the inputs";
    EXPECT_THAT(convert(dir, "--help").out, HasSubstr("Exit status"));
}

// Several inputs into a folder; an input or an earlier result is never
// overwritten; failures about the output name the output and leave it.
TEST(ConvertCommand, OutputsAndTheirFailures)
{
    TempDir dir;
    fs::create_directory(dir / "out");
    dir.write("one.asc", kWorked);
    dir.write("one.bas", hpFile("00 04 31 30 20 41 00 FF FF"));
    dir.write("two.bas", hpFile("00 04 31 30 20 41 00 FF FF"));
    dir.write("broken.lif", hpFile("00 04 31 30 20 41 00"));
    dir.write("prog.txt", "10 A\n");
    dir.write("ro.txt", "old");
    fs::permissions(dir / "ro.txt", fs::perms(0444));
    Outcome run = convert(dir, "--to txt -o out one.asc missing.asc broken.lif two.bas one.bas");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(textOf(dir.read("out/one.txt")), "10 BEEP\r\n20 END\r\n");
    EXPECT_EQ(textOf(dir.read("out/two.txt")), "10 A\r\n");
    EXPECT_FALSE(fs::exists(dir / "out" / "broken.txt"));
    const std::string user = kLinuxProgram ? ordinaryUserPrefix(dir) : "";
    const std::pair<std::string, std::string> cases[] = {
        {"", "missing.asc: cannot open: No such file or directory"},
        {"",
         "broken.lif: offset 262: the file ends inside a length word, after line 1 (number 10); it is not read as it "
         "stands (--lenient reads it"},
        {"", "one.bas: the result would overwrite out/one.txt, the result of one.asc"},
        {"--to txt --from txt prog.txt -o prog.txt", "prog.txt: the result would overwrite the input prog.txt"},
        {"--to txt --from txt -o . prog.txt one.asc", "prog.txt: the result would overwrite the input prog.txt"},
        {"--to txt --from txt prog.txt -o ro.txt", "varnook-convert: ro.txt: cannot write: Permission denied"},
        {"--to txt --from txt prog.txt -o missing/", "varnook-convert: missing/: the folder does not exist"},
        {"--to txt --from txt prog.txt -o gone/x.txt", "varnook-convert: gone/x.txt: the folder gone does not exist"},
    };
    for (const auto& [arguments, message] : cases) {
        if (!arguments.empty()) {
            run = convert(dir, arguments, "", user);
            EXPECT_EQ(run.status, 1) << arguments;
        }
        EXPECT_THAT(run.err, HasSubstr(message)) << arguments;
    }
    EXPECT_EQ(textOf(dir.read("out/one.txt")), "10 BEEP\r\n20 END\r\n");
    EXPECT_EQ(textOf(dir.read("prog.txt")) + textOf(dir.read("ro.txt")), "10 A\nold");
    // A file size limit is a clean failure; a reader that goes away ends the output quietly.
    dir.write("big.txt", program(100000));
    if (kLinuxProgram) {
        run = convert(dir, "--to txt --from txt big.txt -o ro.txt", "", "ulimit -f 8; ");
        EXPECT_THAT(std::to_string(run.status) + run.err, // the coverage build's profile then fails to write too
                    ::testing::StartsWith("1varnook-convert: ro.txt: cannot write: File too large\n"));
    }
    const std::string piped = "cd '" + dir.path().string() + "' && '" VARNOOK_CONVERT "' --to txt --from txt big.txt " +
                              "2>err.txt | head -c 1 >/dev/null";
    EXPECT_EQ(std::system(piped.c_str()), 0);
    EXPECT_EQ(textOf(dir.read("err.txt")), "");
    fs::remove(dir / "err.txt");
    fs::remove(dir / "big.txt");
    EXPECT_EQ(dir.listing(), "broken.lif one.asc one.bas out prog.txt ro.txt two.bas");
}

// The new file is on disk before it takes the name, and the name is on disk
// before the command reports success.
TEST(ConvertCommand, SyncsTheFileThenTheFolder)
{
    if (!kLinuxProgram) {
        GTEST_SKIP() << "Linux's calls, traced by strace";
    }
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
    // A signal that comes as the new file takes its temporary name (the one
    // moment a temporary file has a name) waits until the file has the
    // target's: nothing is left behind.
    convert(dir, "--to hp prog.txt -o PROG.asc", "",
            "ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e inject=linkat:signal=TERM ");
    EXPECT_EQ(dir.listing(), "PROG.asc prog.txt trace");
}

// Disk images: a new volume, programs written into it and read back byte for
// byte, the listing, the check; every refusal names its file and leaves the
// image as it was.
TEST(ConvertCommand, DiskImages)
{
    TempDir dir;
    dir.write("PROG.asc", kWorked);
    dir.write("prog.txt", "PRINT 1\r\nEND");
    dir.write("bad.asc", textOf(hpFile("00 03 41 FF 00 07 00 FF FF 00 00")));
    fs::create_directory(dir / "b");
    dir.write("b/prog.bas", "10 B");
    Bytes cut = lif::newVolumeImage("", 40, 1, {});
    lif::putFile(cut, "PROG", asciiFileFromProgramFile(bytesOf(kWorked)), {});
    dir.write("cut.lif", Bytes(cut.begin(), cut.end() - 100)); // cut off inside PROG
    cut[512 + 10] = 0xE9, cut[512 + 11] = 0x50; // PROG is a PROG file (STOREd)
    dir.write("types.lif", cut);
    Bytes damaged = lif::newVolumeImage("", 40, 1, {});
    for (const char* name : {"A", "B", "C"}) {
        lif::putFile(damaged, name, asciiFileFromProgramFile(bytesOf(kWorked)), {});
    }
    damaged[512 + 32 + 15] = 5; // B starts where C does
    dir.write("damaged.lif", damaged);
    damaged[512 + 32 + 15] = 4, damaged[512 + 32] = 'A'; // A twice
    dir.write("twins.lif", damaged);
    std::fill(damaged.begin() + 24, damaged.begin() + 36, 0xFF); // 2^96 blocks
    dir.write("odd.lif", damaged);
    dir.write("ro.lif", damaged);
    fs::permissions(dir / "ro.lif", fs::perms(0444));
    ASSERT_EQ(convert(dir, "--new-volume disk.lif --label WORK").status, 0);
    const std::string numbered = textOf(hpFile("00 0B 31 30 30 20 50 52 49 4E 54 20 31 00 00 07 31 31 30 20 45 4E "
                                               "44 00 00 FF FF"));
    const Invocation runs[] = {
        {"--to lif --volume disk.lif --from hp PROG.asc", "", 0, "", ""},
        {"--to lif --volume disk.lif --name NUMBERED --line-numbers --start 100 -", "prog.txt", 0, "", ""},
        {"--to hp --volume disk.lif PROG", "", 0, kWorked, ""},
        {"--to hp --volume disk.lif NUMBERED", "", 0, numbered, ""},
        {"--to txt --volume disk.lif PROG", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--to hp --volume disk.lif MISSING", "", 1, "", "MISSING: no such file in the volume disk.lif"},
        {"--to hp --volume PROG.asc PROG", "", 1, "", "PROG.asc: not a LIF volume"},
        {"--to hp --volume disk.lif -o disk.lif PROG", "", 1, "", "would overwrite the volume image"},
        {"--to lif --volume disk.lif --from hp bad.asc", "", 1, "", "bad.asc: offset 259: byte FF inside a record"},
        {"--to lif --volume disk.lif --name 9LIVES PROG.asc", "", 1, "", "give one with --name"},
        {"--to lif --volume disk.lif prog.txt b/prog.bas", "", 1, "", "b/prog.bas: has the LIF name prog, as prog.txt"},
        {"--new-volume disk.lif", "", 1, "", "disk.lif: already exists"},
        {"--new-volume hd.lif --medium 9122-hd", "", 0, "", ""},
        {"--list hd.lif", "", 0, "Volume (no label): 0 files, 4912 blocks free\n", ""},
        {"--new-volume x.lif --medium 9999", "", 2, "", "invalid --medium value '9999'"},
        {"--to lif --volume cut.lif prog.txt", "", 1, "",
         "cut.lif: file PROG: the image ends inside it (cut off); nothing is written"},
        {"--list types.lif", "", 0, "PROG        PROG            1  -\nVolume (no label): 1 files, 36 blocks free\n",
         ""},
        {"--to txt --volume types.lif PROG", "", 1, "",
         "PROG: a PROG file: a program stored with STORE in HP BASIC's "
         "internal form, which only HP BASIC turns back into text"},
        {"--to txt --volume damaged.lif A", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--to txt --volume damaged.lif C", "", 1, "", "C: file C (blocks 5 to 6) overlaps file B; it cannot be read"},
        {"--to lif --volume damaged.lif prog.txt", "", 1, "", "damaged.lif: file B (blocks 5 to 6) overlaps file C"},
        {"--to txt --volume twins.lif A", "", 1, "", "A: two entries of the volume are named A (@1 and @2)"},
        {"--list twins.lif", "", 0,
         "A           ASCII           1  -  ! entry @1: another entry has this name\n"
         "A           ASCII           1  -  ! entry @2: another entry has this name\n"
         "C           ASCII           1  -\nVolume (no label): 3 files, 34 blocks free\n",
         ""},
        {"--to lif --volume twins.lif prog.txt", "", 1, "",
         "twins.lif: file A stands twice in the directory (@1 and @2)"},
        {"--rename --volume twins.lif @2 B", "", 0, "", ""},
        {"--to txt --volume twins.lif B", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--to lif --volume odd.lif prog.txt", "", 1, "", "odd.lif: impossible geometry"},
        {"--set-label --volume ro.lif X", "", 1, "", "ro.lif: cannot write: the image is write-protected"},
        {"--new-volume huge.lif --blocks 8388608", "", 1, "",
         "huge.lif: a volume of 8388608 blocks is 2 GiB or larger"},
        {"--to txt --volume cut.lif PROG", "", 1, "",
         "PROG: file PROG: the image ends inside it (cut off); it cannot be read"},
        {"--check PROG.asc disk.lif", "", 0,
         "PROG.asc: no departure from the format found\n"
         "disk.lif: no departure from the format found\n",
         ""},
        {"--list disk.lif --to hp", "", 2, "", "only one of --to, --list, --new-volume, --check, --extract"},
        {"--to lif PROG.asc", "", 2, "", "--to lif needs --volume IMAGE"},
        {"--to lif --volume disk.lif -", "", 2, "", "standard input ('-') needs --name"},
        {"--to lif --volume disk.lif --name A PROG.asc prog.txt", "", 2, "", "--name names one input"},
        {"--to hp --volume disk.lif --line-numbers PROG", "", 2, "", "--line-numbers cannot be used with --volume"},
        {"--check", "", 2, "", "INPUT is required"},
        {"--new-volume x.lif --blocks 0", "", 2, "", "invalid --blocks value '0'"},
        {"--to hp --label X prog.txt", "", 2, "", "--label cannot be used with anything but --new-volume"},
        {"--extract PROG", "", 2, "", "--extract needs --volume IMAGE"},
        {"--list disk.lif --bare", "", 2, "", "--bare cannot be used with anything but --extract"},
    };
    EXPECT_THAT(convert(dir, "--check bad.asc").out, HasSubstr("bad.asc: offset 259: byte FF inside a record\n"));
    for (const auto& run : runs) {
        const std::string image = textOf(dir.read("disk.lif"));
        expectRun(dir, run);
        if (run.status != 0) {
            EXPECT_TRUE(textOf(dir.read("disk.lif")) == image) << run.arguments;
        }
    }
    // A single file as LIF tools exchange it: the entry as it stands, then the blocks; --bare, the blocks.
    const std::string entry = textOf(cut).substr(512, 32);
    const std::string blocks = textOf(cut).substr(768, 256);
    EXPECT_EQ(convert(dir, "--extract --volume types.lif PROG").out, entry + blocks);
    EXPECT_EQ(convert(dir, "--extract --bare --volume types.lif PROG").out, blocks);
    EXPECT_THAT(convert(dir, "--list damaged.lif").out,
                ::testing::MatchesRegex("A .*-\nB .*-  ! file B \\(blocks 5 to 6\\) overlaps file C\nC .*\nVolume.*"));
    const Outcome list = convert(dir, "--list disk.lif");
    EXPECT_THAT(list.out, ::testing::MatchesRegex("PROG        ASCII           1  20..-..-.. ..:..:..\n"
                                                  "NUMBERED    ASCII           1  20..-..-.. ..:..:..\n"
                                                  "Volume WORK: 2 files, 2446 blocks free\n"));
    EXPECT_EQ(dir.listing(), "PROG.asc b bad.asc cut.lif damaged.lif disk.lif hd.lif odd.lif prog.txt ro.lif twins.lif "
                             "types.lif");
    EXPECT_EQ(fs::file_size(dir / "disk.lif") + fs::file_size(dir / "hd.lif"), 630784u + 1261568u) << "whole images";
}

// Names a volume may hold that are no safe file names: listed escaped, read
// by that form only (so no name stands for two files), written inside -o
// under it.
TEST(ConvertCommand, VolumeNamesStayInsideTheOutputFolder)
{
    TempDir dir;
    Bytes image = lif::newVolumeImage("", 80, 2, {});
    const std::pair<std::string, std::string> names[] = {
        {"../../pwn", "..%2F..%2Fpwn"}, {"/tmp/x", "%2Ftmp%2Fx"},           {"..", "%2E%2E"},     {"-rf", "%2Drf"},
        {"\x1B[2J", "%1B[2J"},          {std::string("PAD\0\0", 5), "PAD"}, {"A%2FB", "A%252FB"}, {"A/B", "A%2FB"}};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string name(1, static_cast<char>('A' + i));
        lif::putFile(image, name, asciiFileFromLines({bytesOf(name)}), {});
        std::copy_n((names[i].first + std::string(10, ' ')).begin(), 10, image.begin() + 512 + 32 * i);
    }
    dir.write("trav.lif", image);
    fs::create_directory(dir / "out");
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string& shown = names[i].second;
        EXPECT_EQ(convert(dir, "--to txt --volume trav.lif -o out/ -- '" + shown + "'").status, 0) << shown;
        EXPECT_EQ(textOf(dir.read("out/" + shown + ".txt")), std::string(1, static_cast<char>('A' + i)) + "\r\n")
            << shown;
    }
    EXPECT_EQ(dir.listing(), "out trav.lif");
    EXPECT_THAT(convert(dir, "--list trav.lif").out, ::testing::StartsWith("..%2F..%2Fpwn  ASCII  "));
}

// Two writers at once both land, while a reader always finds the volume
// clean (kills and power losses: volume_durability_test); a read beside a
// pack reads the file it names.
TEST(ConvertCommand, VolumeWritesSurviveOtherWritersAndKills)
{
    TempDir dir;
    dir.write("small.txt", "10 PRINT 1\r\n20 END\r\n");
    dir.write("big.txt", program(4'000'000));
    ASSERT_EQ(convert(dir, "--new-volume s.lif --blocks 200000").status, 0);
    const std::string run = "cd '" + dir.path().string() + "' && '" + kProgram + "' ";
    for (int i = 0; i < 20; ++i) {
        const std::string write = run + "--to lif --volume s.lif --name W" + std::to_string(i * 10);
        const std::string read = run + "--check s.lif >/dev/null || echo " + std::to_string(i) + " >>unclean.txt";
        ASSERT_EQ(std::system((write + "A small.txt & " + write + "B small.txt & " + read + " & wait").c_str()), 0);
    }
    EXPECT_FALSE(fs::exists(dir / "unclean.txt"));
    const std::string list = convert(dir, "--list s.lif").out;
    for (int i = 0; i < 20; ++i) {
        for (const char writer : {'A', 'B'}) {
            const std::string name = 'W' + std::to_string(i * 10) + writer;
            EXPECT_THAT(list, HasSubstr(name + " ")) << name;
            EXPECT_EQ(convert(dir, "--to txt --volume s.lif " + name).out, "10 PRINT 1\r\n20 END\r\n") << name;
        }
    }
    // A read beside a pack that moves Q where P was: P's text.
    dir.write("P.txt", "10 P\r\n");
    dir.write("Q.txt", "10 Q\r\n");
    fs::create_directory(dir / "out");
    for (int i = 0; i < 8; ++i) {
        const std::string setup = "rm -f '" + (dir / "r.lif").string() + "' && " + run +
                                  "--new-volume r.lif --blocks 40000 && " + run + "--to lif --volume r.lif " +
                                  "--name G small.txt && " + run + "--to lif --volume r.lif big.txt P.txt Q.txt && " +
                                  run + "--purge --volume r.lif G";
        const std::string race = run + "--to txt --volume r.lif -o out big P & (sleep 0.0" + std::to_string(i) + "; " +
                                 run + "--pack --volume r.lif) & wait";
        ASSERT_EQ(std::system((setup + " && (" + race + ")").c_str()), 0);
        EXPECT_EQ(textOf(dir.read("out/P.txt")), "10 P\r\n") << i;
    }
}

// Captures list, read, check and export as the plain image they were made
// from, whatever their sectors' size and whatever tracks past the volume
// the imager read; a block they lack is named, and so is a sector with data
// but no ID, never placed; nothing is written into them.
TEST(ConvertCommand, CapturesReadAsTheirPlainImage)
{
    TempDir dir;
    dir.write("PROG.asc", kWorked);
    dir.write("prog.txt", "10 A");
    // 300 KB of random text beside PROG, so that the adaptive code of the
    // compression is rebuilt many times over.
    std::mt19937 random(19);
    std::string text;
    for (int line = 1; text.size() < 300000; ++line) {
        text += std::to_string(line) + " PRINT \"";
        for (auto i = random() % 60; i > 0; --i) {
            text += static_cast<char>(' ' + random() % 90);
        }
        text += "\"\n";
    }
    dir.write("big.txt", text);
    ASSERT_EQ(convert(dir, "--new-volume disk.lif --label CAPT").status, 0);
    ASSERT_EQ(convert(dir, "--to lif --volume disk.lif --from hp PROG.asc").status, 0);
    ASSERT_EQ(convert(dir, "--to lif --volume disk.lif --code-page windows-1252 big.txt").status, 0);
    const Bytes plain = dir.read("disk.lif");
    const Shape kilo{1024, 5, true}, half{512, 9, true};
    const std::string orphan = "note: a sector recorded with data but no ID on cylinder 0 head 1, not read: every "
                               "block of its track was read without it\n";
    const auto outside = [](const char* kind, const char* format, const char* cylinders) {
        return std::string("note: the ") + kind + " capture holds tracks outside the volume (2464 blocks, " + format +
               " a track, numbered from " + cylinders + ": no part of it, not read\n";
    };
    const struct {
        std::string name;
        Bytes capture;
        std::string notes, absent;
    } captures[] = {
        {"from0.imd", imageDiskOf(plain, 0, 2000, 2001), "", "2000 to 2001"},
        {"from1.imd", imageDiskOf(plain, 1, 2000, 2001), "", "2000 to 2001"},
        {"disk.td0", teleDiskOf(plain, 2000, 2001), orphan, "2000 to 2001"},
        {"packed.td0", teleDiskOf(plain, 2000, 2001, Packing::Lzh), orphan, "2000 to 2001"},
        {"old.td0", teleDiskOf(plain, 2000, 2001, Packing::Lzw), orphan, "2000 to 2001"},
        {"kilo.td0", teleDiskOf(plain, 2000, 2001, Packing::Lzh, kilo),
         outside("TeleDisk", "5 sectors of 1024 bytes", "1) on cylinders 62 to 65, 150") + orphan, "2000 to 2003"},
        {"half.imd", imageDiskOf(plain, 0, 2001, 2000, half),
         outside("ImageDisk", "9 sectors of 512 bytes", "0) on cylinders 69 to 72, 150"), "2000 to 2001"},
        {"plain.td0", teleDiskOf(plain, 2000, 2001, Packing::None, {256, 16, true}),
         outside("TeleDisk", "16 sectors of 256 bytes", "1) on cylinders 77 to 80, 150") + orphan, "2000 to 2001"},
    };
    const std::string list = convert(dir, "--list disk.lif").out;
    for (const auto& [name, capture, notes, absent] : captures) {
        dir.write(name, capture);
        const std::string kind = name.ends_with(".imd") ? "ImageDisk" : "TeleDisk";
        std::string check = notes;
        for (std::size_t at = 0; at < check.size(); at = check.find('\n', at) + 1) {
            check.insert(at, name + ": ");
        }
        expectRun(dir, {"--list " + name, "", 0, list, ""});
        expectRun(dir, {"--to hp --volume " + name + " PROG", "", 0, kWorked, ""});
        expectRun(dir, {"--check " + name, "", 0,
                        check + name + ": note: blocks missing from the " + kind + " capture: " + absent + "\n" + name +
                            ": no departure from the format found\n",
                        ""});
        expectRun(dir, {"--export-image " + name + " -o back.lif", "", 1, "",
                        "blocks missing from the capture, written as zeros: " + absent});
        EXPECT_EQ(dir.read("back.lif"), plain) << name;
    }
    dir.write("lost.imd", imageDiskOf(plain, 1, 16, 2001)); // PROG's block
    expectRun(dir, {"--to hp --volume lost.imd PROG", "", 1, "",
                    "PROG: file PROG: block 16 missing from the ImageDisk capture"});
    dir.write("lost.td0", teleDiskOf(plain, 20, SIZE_MAX)); // on the track of the sector with no ID
    EXPECT_THAT(convert(dir, "--check lost.td0").out,
                HasSubstr("lost.td0: note: a sector recorded with data but no ID on cylinder 0 head 1, not read: it "
                          "might hold block 20, missing from the capture\n"));
    expectRun(dir, {"--to lif --volume from1.imd prog.txt", "", 1, "",
                    "never written: make a plain image of it with --export-image"});
    // LibDsk's dsktrans, a reader written apart from ours, sees the same disk
    // in whole captures. It wants the disk's geometry, and bytes after the
    // compressed data.
    dir.write("home/.libdskrc", "[hp]\nsides=alt\ncylinders=77\nheads=2\nsectors=16\nsecbase=1\nsecsize=256\n"
                                "[k]\nsides=alt\ncylinders=62\nheads=2\nsectors=5\nsecbase=1\nsecsize=1024\n");
    Bytes packed = teleDiskOf(plain, SIZE_MAX, SIZE_MAX, Packing::Lzh);
    packed.insert(packed.end(), 4, 0);
    dir.write("whole.td0", packed);
    dir.write("whole.imd", imageDiskOf(plain, 1, SIZE_MAX, SIZE_MAX));
    dir.write("whole-kilo.imd", imageDiskOf(plain, 1, SIZE_MAX, SIZE_MAX, kilo));
    for (const auto& [name, type, format] :
         {std::tuple{"whole.td0", "tele", "hp"}, std::tuple{"whole.imd", "imd", "hp"},
          std::tuple{"whole-kilo.imd", "imd", "k"}}) {
        const std::string reference = "cd '" + dir.path().string() + "' && HOME=home dsktrans -itype " + type +
                                      " -format " + format + " " + name + " -otype raw " + name +
                                      ".raw >/dev/null 2>&1";
        ASSERT_EQ(std::system(reference.c_str()), 0) << name;
        const Bytes raw = dir.read(name + std::string(".raw"));
        Bytes padded = plain; // to whole tracks, as LibDsk writes them
        padded.resize(std::max(raw.size(), plain.size()), 0x00);
        EXPECT_EQ(raw, padded) << name;
    }
    expectRun(dir, {"--list whole-kilo.imd.raw", "", 0, list, ""}); // a plain image of such a disk needs nothing new
}

// Single files as other tools hand them out go in and come back: HFSLIF
// volumes, a last block written short, names and types of other HP
// machines, dates that say "none"; bare LIF ASCII files convert both ways.
TEST(ConvertCommand, FilesOfOtherToolsGoInAndComeBack)
{
    TempDir dir;
    dir.write("PROG.asc", kWorked);
    dir.write("prog.txt", "10 BEEP\r\n20 END\r\n");
    Bytes base = lif::newVolumeImage("HP71", 40, 1, {});
    lif::putFile(base, "TREK-85", asciiFileFromProgramFile(bytesOf(kWorked)), {});
    lif::EntryBytes entry = lif::newEntry("GPIB-T", 0xE214, {});
    std::fill(entry.begin() + 20, entry.begin() + 26, 0x99); // no date, as some tools write it
    std::copy_n("gpib t", 6, entry.begin()); // a name of the volume's own
    lif::putFile(base, entry, Bytes(512, 0x71), false);
    base.resize(40 * 256);
    dir.write("v.lif", base);
    dir.write("w.lif", lif::newVolumeImage("", 40, 1, {}));
    const std::string trek = convert(dir, "--extract --volume v.lif TREK-85").out;
    dir.write("TREK-85.short", trek.substr(0, 32 + 20)); // the records and FFFF, the rest of the block left out
    dir.write("gpib.hfs", convert(dir, "--extract --form hfslif --volume v.lif gpib%20t").out);
    dir.write("BARE.lif", convert(dir, "--extract --bare --volume v.lif TREK-85").out);
    dir.write("bad.lif", hex("00 02 41 FF 00 01 42 00 FF FF")); // FF in a record
    Bytes twoFiles = lif::newVolumeImage("HFSLIF", 10, 1, {});
    lif::putFile(twoFiles, "A", asciiFileFromProgramFile(bytesOf(kWorked)), {});
    lif::putFile(twoFiles, "B", asciiFileFromProgramFile(bytesOf(kWorked)), {});
    dir.write("two.hfs", twoFiles);
    dir.write("ctrl.lif", '\x01' + trek.substr(1)); // a control character before the rest of its name
    const Invocation runs[] = {
        {"--list v.lif", "", 0,
         "TREK-85     ASCII           1  -\ngpib%20t    BASIC71         2  -\nVolume HP71: 2 files, 34 blocks free\n",
         ""},
        {"--check v.lif", "", 0, "v.lif: no departure from the format found\n", ""},
        {"--list gpib.hfs", "", 0, "gpib%20t    BASIC71         2  -\nVolume HFSLIF: 1 files, 0 blocks free\n", ""},
        {"--insert --volume w.lif gpib.hfs TREK-85.short", "", 0, "", ""},
        {"--insert --volume w.lif --bare --name HP-75 --type TEXT75 prog.txt", "", 0, "", ""},
        {"--rename --volume w.lif HP-75 apt-75", "", 0, "", ""},
        {"--rename --volume w.lif apt-75 -75", "", 1, "", "\"%2D75\" is not a valid LIF file name: 1 to 10 letters"},
        {"--to lif-ascii prog.txt", "", 0, textOf(dir.read("BARE.lif")), ""},
        {"--to lif-ascii --from hp PROG.asc", "", 0, textOf(dir.read("BARE.lif")), ""},
        {"--to lif-ascii --volume v.lif TREK-85", "", 0, textOf(dir.read("BARE.lif")), ""},
        {"--to txt --from lif-ascii BARE.lif", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--to hp --from lif-ascii BARE.lif", "", 0, kWorked, ""},
        {"--textconv BARE.lif", "", 0, "10 BEEP\n20 END\n", ""},
        {"--check BARE.lif bad.lif", "", 1,
         "BARE.lif: no departure from the format found\nbad.lif: offset 3: byte FF inside a record\n", ""},
        {"--to txt BARE.lif", "", 1, "",
         "BARE.lif: this is a bare LIF ASCII file (records ended by FFFF, no header); read it with --from lif-ascii"},
        {"--to txt --from lif-ascii prog.txt", "", 1, "", "prog.txt: not a bare LIF ASCII file"},
        {"--to hp --from lif-ascii --line-numbers BARE.lif", "", 2, "", "cannot be used with --from lif-ascii"},
        {"--extract --form hfslif --bare --volume v.lif TREK-85", "", 2, "", "--bare is --form bare"},
        {"--insert --volume w.lif two.hfs", "", 1, "",
         "two.hfs: is not a LIF file as LIF tools exchange them: an HFSLIF "
         "volume of 2 files, not one"},
        {"--insert --volume w.lif ctrl.lif", "", 1, "",
         "\"%01REK-85\" is no LIF file name: 1 to 10 printable characters"},
    };
    for (const auto& run : runs) {
        expectRun(dir, run);
    }
    // Each file as it was, but for the start block its volume gave it.
    const std::string gpib = textOf(base).substr(512 + 32, 32) + textOf(base).substr(4 * 256, 512);
    for (const auto& [name, was] : {std::pair{"gpib%20t", gpib}, std::pair{"TREK-85", trek}}) {
        const std::string back = convert(dir, "--extract --volume w.lif " + std::string(name)).out;
        EXPECT_EQ(back.substr(0, 12) + back.substr(16), was.substr(0, 12) + was.substr(16)) << name;
    }
}

// Each command does what its flag form does, to the byte: the same output,
// the same failure, the same image after it.
TEST(ConvertCommand, CommandsDoWhatTheirFlagFormsDo)
{
    TempDir dir;
    dir.write("PROG.asc", kWorked);
    dir.write("prog.txt", "10 A");
    Bytes base = lif::newVolumeImage("V", 40, 1, {});
    lif::putFile(base, "P", asciiFileFromProgramFile(bytesOf(kWorked)), {});
    lif::putFile(base, "Q", asciiFileFromProgramFile(bytesOf(kWorked)), {});
    base[512 + 11] = 0; // P purged: a gap to pack
    const std::pair<const char*, const char*> forms[] = {
        {"list IMG", "--list IMG"},
        {"read IMG Q", "--to txt --volume IMG Q"},
        {"read --to hp IMG Q", "--to hp --volume IMG Q"},
        {"extract --form hfslif IMG Q", "--extract --form hfslif --volume IMG Q"},
        {"check IMG", "--check IMG"},
        {"textconv IMG", "--textconv IMG"},
        {"convert --to txt PROG.asc", "--to txt PROG.asc"},
        {"rename IMG Q R", "--rename --volume IMG Q R"},
        {"purge IMG Q", "--purge --volume IMG Q"},
        {"pack IMG", "--pack --volume IMG"},
        {"label IMG NEW", "--set-label --volume IMG NEW"},
        {"insert IMG PROG.asc", "--insert --volume IMG PROG.asc"},
        {"read IMG MISSING", "--to txt --volume IMG MISSING"},
    };
    for (const auto& [command, flags] : forms) {
        dir.write("a.lif", base);
        dir.write("b.lif", base);
        const auto with = [](const char* line, const char* image) {
            return std::regex_replace(line, std::regex("IMG"), image);
        };
        Outcome a = convert(dir, with(command, "a.lif")), b = convert(dir, with(flags, "b.lif"));
        EXPECT_EQ(a.status, b.status) << command;
        EXPECT_EQ(a.out + a.err, std::regex_replace(b.out + b.err, std::regex("b\\.lif"), "a.lif")) << command;
        EXPECT_EQ(dir.read("a.lif"), dir.read("b.lif")) << command;
    }
    expectRun(dir, {"write a.lif --name W prog.txt", "", 0, "", ""});
    expectRun(dir, {"read a.lif W", "", 0, "10 A\r\n", ""});
    EXPECT_THAT(convert(dir, "list --help").out, HasSubstr("Usage: varnook-convert list IMAGE"));
    // Usage errors in the command's words, pointing at its help.
    for (const auto& [arguments, error] : std::initializer_list<std::pair<const char*, const char*>>{
             {"list", "list needs IMAGE\nTry 'varnook-convert list --help'"},
             {"rename a.lif Q", "rename takes OLD and NEW"},
             {"pack a.lif b", "pack takes no other file: b"},
             {"read a.lif --line-numbers Q", "--line-numbers cannot be used with read\nTry 'varnook-convert read"},
             {"bogus", "'bogus' is no command: convert, list,"},
         }) {
        expectRun(dir, {arguments, "", 2, "", error});
    }
}

// The volume commands on a copy of one volume (A, a purged gap, C): the
// names, types and sizes after each, every file still read whole and the
// volume clean, the image changed in place (its inode, owner and links
// kept, a program holding it open sees the change); a refused command
// leaves the image byte for byte.
TEST(ConvertCommand, VolumeCommands)
{
    TempDir dir;
    dir.write("PROG.asc", kWorked);
    dir.write("b.bin", Bytes{'b', 0, 'n'});
    Bytes base = lif::newVolumeImage("WORK", 40, 1, {});
    const auto programOf = [](char name) { // the one line "1" and the name
        const char digits[] = "0123456789ABCDEF";
        return textOf(hpFile(std::string("00 02 31 ") + digits[name >> 4] + digits[name & 15] + " 00 FF FF"));
    };
    for (const char name : {'A', 'B', 'C'}) {
        lif::putFile(base, std::string(1, name), asciiFileFromProgramFile(bytesOf(programOf(name))), {});
    }
    base[512 + 32 + 11] = 0; // B purged
    base[512 + 64 + 26] = base[512 + 64 + 27] = 0; // C's entry as another tool may write it
    dir.write("v.lif", base);
    dir.write("C.lif", convert(dir, "--extract --volume v.lif C").out);
    dir.write("packed.td0", teleDiskOf(base, SIZE_MAX, SIZE_MAX, Packing::Lzh));
    const struct {
        std::string arguments;
        int status;
        std::string after; // name:type:blocks of each file then the label, or the failure
    } runs[] = {
        {"--insert --volume v.lif --replace C.lif", 0, "A:ASCII:1 C:ASCII:1 WORK"},
        {"--insert --volume v.lif C.lif", 1, "C.lif: the volume already holds C; give --replace to replace it"},
        {"--rename --volume v.lif C D", 0, "A:ASCII:1 D:ASCII:1 WORK"},
        {"--rename --volume v.lif C A", 1, "C: the volume already holds A"},
        {"--rename --volume v.lif C 9", 1, "C: \"9\" is not a valid LIF file name"},
        {"--purge --volume v.lif A C", 0, "WORK"},
        {"--purge --volume v.lif NONE", 1, "NONE: no such file in the volume"},
        {"--pack --volume v.lif", 0, "A:ASCII:1 C:ASCII:1 WORK"},
        {"--set-label --volume v.lif NEW", 0, "A:ASCII:1 C:ASCII:1 NEW"},
        {"--set-label --volume v.lif SEVENCH", 1, "\"SEVENCH\" is not a valid volume label"},
        {"--insert --volume v.lif --bare --name D --type E961 b.bin", 0, "A:ASCII:1 D:BDAT:1 C:ASCII:1 WORK"},
        {"--insert --volume v.lif --bare --name A --type BDAT --replace b.bin", 1,
         "b.bin: the volume holds A as a file of type ASCII, not a BDAT file; it is not replaced"},
        {"--insert --volume v.lif --bare --name D --type FFFF b.bin", 2, "invalid --type value 'FFFF'"},
        {"--insert --volume v.lif PROG.asc", 1, "PROG.asc: is not a LIF file as LIF tools exchange them"},
        {"--pack --volume packed.td0", 1, "make a plain image of it with --export-image"},
        {"--insert --volume v.lif v.lif", 1, "v.lif: the input is the volume image itself"},
    };
    for (const auto& run : runs) {
        dir.write("v.lif", base);
        const int held = ::open((dir / "v.lif").c_str(), O_RDONLY); // as an emulator holds it
        struct stat was {
        }, now{};
        EXPECT_TRUE((::geteuid() != 0 || ::fchown(held, 65534, 65534) == 0) && ::fstat(held, &was) == 0);
        const Outcome got = convert(dir, run.arguments);
        EXPECT_EQ(got.status, run.status) << run.arguments << "\n" << got.err;
        Bytes seen(base.size() + 4096);
        seen.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(held, seen.data(), seen.size(), 0))));
        EXPECT_EQ(seen, dir.read("v.lif")) << run.arguments;
        ::fstat(held, &now);
        EXPECT_TRUE(now.st_ino == was.st_ino && now.st_uid == was.st_uid) << run.arguments; // hard links too
        ::close(held);
        if (run.status != 0) {
            EXPECT_THAT(got.err, HasSubstr(run.after)) << run.arguments;
            EXPECT_EQ(dir.read("v.lif"), base) << run.arguments;
            continue;
        }
        const lif::Volume volume = lif::readVolume(dir / "v.lif");
        std::string after;
        for (const auto& file : volume.files) {
            after += file.name + ":" + lif::typeName(file.type) + ":" + std::to_string(file.blocks) + " ";
            if (file.type == lif::kTypeAscii) { // A's program, or C's under any name
                EXPECT_EQ(convert(dir, "--to hp --volume v.lif " + file.name).out,
                          programOf(file.name == "A" ? 'A' : 'C'))
                    << run.arguments;
            }
        }
        EXPECT_EQ(after + volume.label, run.after) << run.arguments;
        EXPECT_EQ(convert(dir, "--check v.lif").status, 0) << run.arguments;
        EXPECT_EQ(dir.read("v.lif").size(), base.size()) << run.arguments;
    }
    // A file extracted and inserted again is the same file: the entry and
    // blocks as they were, its start block the volume's own.
    dir.write("v.lif", base);
    ASSERT_EQ(convert(dir, "--pack --volume v.lif").status, 0);
    ASSERT_EQ(convert(dir, "--purge --volume v.lif C").status, 0);
    ASSERT_EQ(convert(dir, "--insert --volume v.lif C.lif").status, 0);
    Bytes again = bytesOf(convert(dir, "--extract --volume v.lif C").out), before = dir.read("C.lif");
    EXPECT_EQ(again[15], 4); // after A, where the packed volume's free space starts
    again[15] = before[15];
    EXPECT_EQ(again, before);
    // A write that fails at the file size limit leaves the image at its size.
    dir.write("v.lif", base);
    if (kLinuxProgram) {
        const Outcome full =
            convert(dir, "--insert --volume v.lif --bare --name P --type BDAT PROG.asc", "", "ulimit -f 1; ");
        EXPECT_THAT(full.err, HasSubstr("v.lif: cannot write: File too large"));
        EXPECT_EQ(dir.read("v.lif"), base);
    }
    // In a folder the user may not write: changes in place go on; one that
    // must overwrite live blocks needs a journal there, and says so.
    if (!kLinuxProgram) {
        return; // a folder Linux's users may not write
    }
    dir.write("v.lif", base);
    const std::string user = ordinaryUserPrefix(dir);
    fs::permissions(dir.path(), fs::perms(0555));
    const Outcome purged = convert(dir, "--purge --volume v.lif A", "", user);
    const Outcome packed = convert(dir, "--pack --volume v.lif", "", user);
    fs::permissions(dir.path(), fs::perms(0755));
    EXPECT_EQ(purged.status, 0) << purged.err;
    EXPECT_THAT(packed.err, HasSubstr("v.lif: this change overwrites blocks of a file in use, which is done only with "
                                      "a rollback journal beside the image"));
    EXPECT_THAT(convert(dir, "--list v.lif").out, ::testing::StartsWith("C    ")); // A purged, not packed
}

// What git diff shows of programs and disk images through --textconv: their
// text, the catalogue; anything else as it is; never a failure.
TEST(ConvertCommand, TextconvShowsProgramsAsText)
{
    if (!kLinuxProgram) {
        GTEST_SKIP() << "the git of this machine drives Linux's program";
    }
    TempDir dir;
    dir.write("PROG.asc", kWorked);
    dir.write("notes.txt", "a\r\nb");
    dir.write("broken.lif", Bytes{0x80, 0x00, 'X'});
    dir.write("cut.asc", hpFile("00 04 0D 0A 41 42 00")); // a CR LF inside stays
    dir.write("lost.asc", hpFile("00 02 41 42 00 05 31 30"));
    Bytes disk = lif::newVolumeImage("WORK", 40, 1, {});
    for (const char* name : {"PROG", "DATA"}) {
        lif::putFile(disk, name, asciiFileFromProgramFile(bytesOf(kWorked)), {});
    }
    disk[512 + 32 + 10] = 0xE9; // DATA is BDAT, shown in the catalogue only
    disk[512 + 32 + 11] = 0x61;
    dir.write("disk.lif", disk);
    const Invocation runs[] = {
        {"--textconv PROG.asc", "", 0, "10 BEEP\n20 END\n", ""},
        {"--textconv --line-ending crlf PROG.asc", "", 0, "10 BEEP\r\n20 END\r\n", ""},
        {"--textconv --line-ending crlf disk.lif", "", 0,
         "PROG        ASCII           1  -\r\nDATA        BDAT            1  -\r\nVolume WORK: 2 files, 35 blocks "
         "free\r\n=== PROG ===\r\n10 BEEP\r\n20 END\r\n",
         ""},
        {"--textconv cut.asc", "", 0, textOf(hpFile("00 04 0D 0A 41 42 00")), ""},
        {"--textconv notes.txt", "", 0, "a\r\nb", ""},
        {"--textconv lost.asc", "", 0, // the departures that reading does not show
         "AB\n10\n=== departures from the format ===\noffset 260: the length word (5) runs past the end of the file\n",
         ""},
        {"--to txt lost.asc", "", 1, "",
         "lost.asc: offset 260: the file ends inside line 2, a record of 5 bytes from offset 262"},
        {"--to txt --lenient lost.asc", "", 0, "AB\r\n10", ""},
        {"--to txt PROG.asc -o disk.lif", "", 1, "",
         "disk.lif: the result would replace disk.lif, a disk image holding 1 program and 1 other file"},
        {"--to txt --lenient --volume disk.lif PROG", "", 2, "", "--lenient reads damaged program files"},
        {"--textconv broken.lif", "", 0, std::string("\x80\0X", 3), ""},
        {"--to txt --line-ending lf PROG.asc", "", 0, "10 BEEP\n20 END\n", ""},
        {"--to hp --line-ending lf prog.txt", "", 2, "", "--line-ending cannot be used with anything but --to txt"},
    };
    for (const auto& run : runs) {
        expectRun(dir, run);
    }
    // The recipe of the README, in a real repository.
    const std::string git = "cd '" + dir.path().string() + "' && git -c user.name=t -c user.email=t@t ";
    dir.write(".gitattributes", "*.asc diff=hpbasic\n*.lif diff=hpbasic\n");
    ASSERT_EQ(std::system((git + "init -q && " + git + "config diff.hpbasic.textconv '" + kProgram + " textconv' && " +
                           git + "add . && " + git + "commit -qm one")
                              .c_str()),
              0);
    dir.write("PROG.asc", textOf(hpFile("00 07 31 30 20 42 45 45 50 00 00 07 32 30 20 53 54 4F 50 00 00 FF FF")));
    ASSERT_EQ(std::system((git + "diff PROG.asc > diff.txt").c_str()), 0);
    EXPECT_THAT(textOf(dir.read("diff.txt")), HasSubstr("-20 END\n+20 STOP\n"));
}

// The example programs: each .asc is what the converter makes of its .txt,
// and reads back as that text; the example disk image holds each .asc.
TEST(Converter, ExamplesMatchTheirTextForms)
{
    const CodePage page = CodePage::named("windows-1252");
    const std::filesystem::path image = std::filesystem::path(VARNOOK_EXAMPLES) / "EXAMPLES.lif";
    const lif::VolumeReader reader(image);
    const lif::Volume& volume = reader.volume();
    std::size_t found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VARNOOK_EXAMPLES)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        std::string stem = entry.path().stem().string();
        for (auto& c : stem) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        const Bytes text = readFileBytes(entry.path());
        const Bytes file = readFileBytes(entry.path().parent_path() / (stem + ".asc"));
        EXPECT_EQ(convert(text, {Format::Txt, Format::Hp}, page), file) << stem;
        EXPECT_EQ(convert(file, {Format::Hp, Format::Txt}, page), text) << stem;
        const lif::Entry* inVolume = volume.find(stem);
        ASSERT_NE(inVolume, nullptr) << stem;
        EXPECT_EQ(programFileFromLines(readRecords(reader.fileBlocks(*inVolume))), file) << stem;
        ++found;
    }
    EXPECT_GE(found, 3u);
    EXPECT_EQ(volume.files.size(), found);
}
