// The Windows build (scripts/build-windows), run under Wine, gives the bytes
// the Linux build gives: each runs the same session in a folder of its own,
// and every exit status, output and file must agree.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <csignal>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace varnook;
using namespace varnook::test;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// The program (a command line in front of the arguments) in the folder.
Outcome run(const std::string& program, const TempDir& dir, const std::string& arguments)
{
    const std::string outputs = (dir / ".run").string();
    const std::string command = "cd '" + dir.path().string() + "' && SOURCE_DATE_EPOCH=1800000000 " + program + " " +
                                arguments + " < /dev/null > '" + outputs + ".out' 2> '" + outputs + ".err'";
    const int raw = std::system(command.c_str());
    Outcome result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    for (auto [name, text] : {std::pair{".out", &result.out}, std::pair{".err", &result.err}}) {
        std::ifstream file(outputs + name, std::ios::binary);
        text->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        fs::remove(outputs + name);
    }
    return result;
}

} // namespace

TEST(WindowsBuild, GivesTheLinuxBuildsBytes)
{
    if (!fs::exists(VARNOOK_WINDOWS_CONVERT)) {
        if (std::getenv("VARNOOK_WINDOWS_REQUIRED") != nullptr) {
            FAIL() << VARNOOK_WINDOWS_CONVERT << " is not built (scripts/build-windows)";
        }
        GTEST_SKIP() << "scripts/build-windows builds " << VARNOOK_WINDOWS_CONVERT;
    }
    const std::string wine = "WINEDEBUG=-all WINEPREFIX='" +
                             (fs::path(VARNOOK_WINDOWS_CONVERT).parent_path().parent_path() / "wine").string() +
                             "' /usr/lib/wine/wine64 '" VARNOOK_WINDOWS_CONVERT "'";
    const std::string linux = "'" VARNOOK_CONVERT "'";
    const char* const session[] = {
        "convert --to hp prog.txt -o PROG.asc", // the worked example both ways
        "convert --to txt PROG.asc",
        "convert --to txt --from txt --line-numbers --start 100 --step 5 prog.txt -o 'numbered µ.txt'",
        "convert --to txt --from txt --code-page windows-932 --line-numbers kanji.txt -o kanji-numbered.txt",
        "convert --to hp --code-page windows-932 kanji.txt",
        "convert --to txt --from txt --code-page UTF-8 --line-numbers --line-ending lf utf8.txt",
        "convert --to hp --code-page windows-1252 utf8.txt",
        "convert --to lif-ascii --from hp PROG.asc -o PROG.lif",
        "convert --to hp missing.txt",
        "new disk.lif --label WORK",
        "write disk.lif --name PROG prog.txt",
        "write disk.lif --from hp --name P2 PROG.asc",
        "list disk.lif",
        "read disk.lif PROG",
        "read disk.lif --to hp -o out.asc P2",
        "extract disk.lif -o PROG.x PROG",
        "new other.lif --medium 9121",
        "insert other.lif PROG.x",
        "rename disk.lif P2 P3",
        "purge disk.lif PROG",
        "pack disk.lif",
        "label disk.lif BENCH",
        "check disk.lif PROG.asc",
        "textconv disk.lif",
        "export other.lif -o plain.lif",
    };
    TempDir onLinux, onWindows;
    for (const TempDir* dir : {&onLinux, &onWindows}) {
        dir->write("prog.txt", bytesOf("10 BEEP\r\n20 END")); // the worked example
        dir->write("kanji.txt", bytesOf("10 A\r\n20 \x93\xFA\x96\x7B\r\n"));
        dir->write("utf8.txt", bytesOf("10 PRINT \"\xC2\xB5V\"\r\n"));
    }
    for (const char* arguments : session) {
        const Outcome expected = run(linux, onLinux, arguments);
        const Outcome got = run(wine, onWindows, arguments);
        EXPECT_EQ(got.status, expected.status) << arguments << "\n" << got.err;
        EXPECT_EQ(got.out, expected.out) << arguments;
        EXPECT_EQ(got.err, expected.err) << arguments;
    }
    // Windows' own names: a drive letter and backslashes (Wine's Z: is /).
    std::string folder = "Z:" + onWindows.path().string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    EXPECT_EQ(run(wine, onWindows, "convert --to txt '" + folder + "\\PROG.asc' -o '" + folder + "\\drive.txt'").status,
              0);
    EXPECT_EQ(textOf(onWindows.read("drive.txt")), "10 BEEP\r\n20 END\r\n");
    std::filesystem::remove(onWindows / "drive.txt");
    EXPECT_EQ(onWindows.listing(), onLinux.listing());
    for (const auto& entry : fs::directory_iterator(onLinux.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(onWindows.read(name), onLinux.read(name)) << name;
    }
}

// Ctrl+C while a result is written: the program ends as failed, the old file
// is as it was and the temporary file is gone (the console's handler
// removes it). The signal comes once the temporary file is there.
TEST(WindowsBuild, CtrlCLeavesTheOldFile)
{
    if (!fs::exists(VARNOOK_WINDOWS_CONVERT)) {
        GTEST_SKIP() << "scripts/build-windows builds " << VARNOOK_WINDOWS_CONVERT;
    }
    TempDir dir;
    dir.write("big.txt", program(50'000'000));
    dir.write("out.txt", "old");
    const std::string prefix = (fs::path(VARNOOK_WINDOWS_CONVERT).parent_path().parent_path() / "wine").string();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        if (::chdir(dir.path().c_str()) == 0) {
            ::execl("/usr/lib/wine/wine64", "wine64", VARNOOK_WINDOWS_CONVERT, "convert", "--to", "txt", "--from",
                    "txt", "--line-numbers", "big.txt", "-o", "out.txt", static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    const auto temporaryThere = [&] {
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.path().extension() == ".tmp") {
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < 3000 && !temporaryThere(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(temporaryThere());
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0x3A) << status; // STATUS_CONTROL_C_EXIT
    EXPECT_EQ(textOf(dir.read("out.txt")), "old");
    EXPECT_EQ(dir.listing(), "big.txt out.txt");
}
