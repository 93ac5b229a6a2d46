// Real files that go wrong under the commands: each ends its command cleanly,
// leaves the window usable and every file the user had as it was.

#include "fake_window.h"

#include "core/hp_ascii.h"
#include "operations/file_commands.h"
#include "settings/module1.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace varnook;
using namespace varnook::test;
namespace fs = std::filesystem;

namespace {

const Bytes kWorkedExample = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

class Faults : public ::testing::Test {
protected:
    void SetUp() override { Module1::useFolder(settings.path()); }
    void TearDown() override { Module1::useFolder(std::nullopt); }

    void expectCleanEnd(const std::string& status)
    {
        EXPECT_FALSE(window.busy);
        EXPECT_FALSE(window.timerRunning);
        EXPECT_EQ(window.status, status);
        EXPECT_TRUE(window.warnings.empty());
    }

    Bytes program(std::size_t size)
    {
        Bytes text;
        for (int line = 10; text.size() < size; line += 10) {
            const std::string s = std::to_string(line) + " PRINT \"LINE " + std::to_string(line) + "\"\r\n";
            text.insert(text.end(), s.begin(), s.end());
        }
        return text;
    }

    TempDir settings;
    TempDir files;
    FakeWindow window;
    CodePage page = CodePage::named("windows-1252");
};

// Writes beyond a size fail with EFBIG while the limit is in force, which is
// what a full disk looks like to the writing code.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

TEST_F(Faults, FullDiskLeavesTheOldFileAndNoTemporaryFile)
{
    files.write("PROG.asc", kWorkedExample);
    files.write("PROG.txt", "10 OLD\r\n");
    window.document = textOf(program(200000));
    {
        FileSizeLimit limit(4096);
        window.dialogAnswer = (files / "PROG.asc").string();
        WriteProgramFile(window, page, window.document);
        expectCleanEnd("Now Writing");
        window.writeTxt = true;
        window.dialogAnswer = (files / "PROG.txt").string();
        WriteProgramFile(window, page, window.document);
        expectCleanEnd("Writing");
    }
    EXPECT_EQ(files.read("PROG.asc"), kWorkedExample);
    EXPECT_EQ(textOf(files.read("PROG.txt")), "10 OLD\r\n");
    EXPECT_EQ(files.listing(), "PROG.asc PROG.txt");

    // With room again, the same write goes through.
    window.writeTxt = false;
    window.dialogAnswer = (files / "PROG.asc").string();
    WriteProgramFile(window, page, window.document);
    EXPECT_EQ(window.status, "Complete");
    EXPECT_GT(files.read("PROG.asc").size(), 200000u);
}

TEST_F(Faults, SourceTruncatedWhileItIsRead)
{
    const Bytes file = encodeHpAsciiBytes(program(300000));
    files.write("BIG.asc", file);
    window.document = "kept";
    window.onYield = [&] {
        fs::resize_file(files / "BIG.asc", 1000);
        window.onYield = nullptr;
    };
    ReadProgramFile(window, page, (files / "BIG.asc").string());
    expectCleanEnd("Now Reading");
    EXPECT_EQ(window.document, "kept");
}

TEST_F(Faults, HugeSparseFileFailsBeforeAnythingIsAllocated)
{
    files.write("HUGE.asc", Bytes{});
    fs::resize_file(files / "HUGE.asc", (std::uintmax_t{1} << 31) + 12345);
    window.document = "kept";
    window.status = "Complete";
    for (const bool hp : {true, false}) {
        window.readHp = hp;
        ReadProgramFile(window, page, (files / "HUGE.asc").string());
        expectCleanEnd(hp ? "Complete" : "Now Reading");
        EXPECT_EQ(window.document, "kept");
    }
}

TEST_F(Faults, PipesAndDevicesAreRefusedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo((files / "pipe.asc").c_str(), 0600), 0);
    window.document = "kept";
    for (const std::string& name : {(files / "pipe.asc").string(), std::string("/dev/zero"), std::string("/dev/null")}) {
        for (const bool hp : {true, false}) {
            window.readHp = hp;
            window.status = "Complete";
            ReadProgramFile(window, page, name);
            expectCleanEnd(hp ? "Complete" : "Now Reading");
            EXPECT_EQ(window.document, "kept") << name;
        }
    }
    // Nor is a device written over.
    window.document = "10 A";
    window.dialogAnswer = "/dev/null";
    WriteProgramFile(window, page, window.document);
    expectCleanEnd("Now Writing");
    struct stat info {};
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(Faults, BrokenSettingsFileDoesNotStopReading)
{
    settings.write("config.ini", randomBytes(10 * 1024 * 1024, 9));
    files.write("PROG.asc", kWorkedExample);
    window.dialogAnswer = (files / "PROG.asc").string();
    ReadProgramFile(window, page, "");
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");
    EXPECT_EQ(Module1::ReadSetting("Load", "Dir", ""), (files / "PROG.asc").string());
}
