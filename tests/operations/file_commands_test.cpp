#include "fake_window.h"

#include "operations/file_commands.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace varnook;
using namespace varnook::test;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

namespace {

const Bytes kWorkedExample = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

// Each test gets its own settings folder and files folder.
class FileCommands : public ::testing::Test {
protected:
    void SetUp() override { Module1::useFolder(settings.path()); }
    void TearDown() override { Module1::useFolder(std::nullopt); }

    void read(const std::string& name = "") { ReadProgramFile(window, page, name); }
    void write() { WriteProgramFile(window, page, window.documentText()); }
    std::string remembered() { return Module1::ReadSetting("Load", "Dir", "(none)"); }
    std::string path(const std::string& name) { return (files / name).string(); }

    // After any command the window is usable and the timer stopped.
    void expectUsable()
    {
        EXPECT_FALSE(window.busy);
        EXPECT_FALSE(window.timerRunning);
    }

    TempDir settings;
    TempDir files;
    FakeWindow window;
    CodePage page = CodePage::named("windows-1252");
};

} // namespace

TEST_F(FileCommands, ReadsHpAsciiThroughTheDialogInOrder)
{
    files.write("PROG.asc", kWorkedExample);
    window.document = "old text";
    window.dialogAnswer = path("PROG.asc");
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");
    EXPECT_THAT(window.calls,
                ElementsAre("dialog name ", "open dialog", "busy", "status Now Reading", "maximum 276", "timer on",
                            "timer off", "value 276", "value 0", "status Now Analysing", "maximum 276", "timer on",
                            "timer off", "value 276", "document 17", "value 0", "status Complete", "idle"));
    EXPECT_EQ(window.dialogFilter, kHpFileTypes);
    EXPECT_EQ(window.dialogFilterIndex, 5);
    EXPECT_EQ(remembered(), path("PROG.asc"));
    EXPECT_GT(window.yields, 0);
    expectUsable();
}

TEST_F(FileCommands, RemembersTheLastFileForTheNextDialog)
{
    files.write("A.asc", kWorkedExample);
    window.dialogAnswer = path("A.asc");
    read();
    window.calls.clear();
    window.dialogAnswer = std::nullopt;
    read();
    EXPECT_EQ(window.calls.front(), "dialog name " + path("A.asc"));
}

TEST_F(FileCommands, DroppedFileIsReadWithoutADialogByTheReadOption)
{
    files.write("dropped.bas", "10 PRINT\r\n");
    window.readHp = false;
    read(path("dropped.bas"));
    EXPECT_EQ(window.document, "10 PRINT\r\n");
    EXPECT_THAT(window.only({"open dialog"}), ElementsAre());
    EXPECT_EQ(remembered(), path("dropped.bas"));
    EXPECT_EQ(window.dialogName, path("dropped.bas")) << "the save dialog offers it next";
}

TEST_F(FileCommands, CancelledOpenDialogChangesNothing)
{
    Module1::WriteSetting("Load", "Dir", "/earlier/file.asc");
    window.document = "kept";
    window.status = "Complete";
    read();
    EXPECT_EQ(window.document, "kept");
    EXPECT_EQ(window.status, "Complete");
    EXPECT_EQ(remembered(), "/earlier/file.asc");
    EXPECT_THAT(window.only({"busy", "status"}), ElementsAre());
}

TEST_F(FileCommands, TxtIsNumberedOnlyWhenWanted)
{
    files.write("plain.txt", "PRINT 1\n\nEND");
    window.readHp = false;
    window.dialogAnswer = path("plain.txt");
    read();
    EXPECT_EQ(window.document, "PRINT 1\r\n\r\nEND");
    EXPECT_THAT(window.only({"status"}), ElementsAre("status Now Reading", "status Complete"));

    window.calls.clear();
    window.lineNumbers = true;
    window.start = "100";
    window.step = " 5";
    read();
    EXPECT_EQ(window.document, "100 PRINT 1\r\n105 \r\n110 END");
    EXPECT_THAT(window.only({"status", "maximum", "timer"}),
                ElementsAre("status Now Reading", "status Inserting LineNumber", "maximum 13", "timer on",
                            "timer off", "status Complete"));
    EXPECT_EQ(window.dialogFilter, kTxtFileTypes);
    EXPECT_EQ(window.dialogFilterIndex, 2);

    files.write("numbered.asc", kWorkedExample);
    window.readHp = true;
    window.dialogAnswer = path("numbered.asc");
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n") << "no numbering on the HP BASIC ASCII path";
}

TEST_F(FileCommands, ReadFailuresEndQuietlyWithTheWindowUsable)
{
    files.write("empty.asc", Bytes{});
    files.write("cut.asc", hpFile("00 02 41 42 00"));
    fs::create_directory(files / "folder.asc");
    struct Case {
        std::string file;
        bool hp;
        std::string status;
    };
    const Case cases[] = {
        {"missing.asc", true, "Complete"},     {"missing.txt", false, "Now Reading"},
        {"folder.asc", true, "Complete"},      {"folder.asc", false, "Now Reading"},
        {"empty.asc", true, "Complete"},       {"cut.asc", true, "Now Analysing"},
    };
    for (const auto& c : cases) {
        window.document = "kept";
        window.status = "Complete";
        window.readHp = c.hp;
        window.dialogAnswer = path(c.file);
        read();
        EXPECT_EQ(window.document, "kept") << c.file;
        EXPECT_EQ(window.status, c.status) << c.file;
        EXPECT_TRUE(window.warnings.empty());
        EXPECT_EQ(remembered(), path(c.file)) << "remembered before it was opened";
        expectUsable();
    }

    // The window still works afterwards.
    files.write("good.asc", kWorkedExample);
    window.readHp = true;
    window.dialogAnswer = path("good.asc");
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");
}

TEST_F(FileCommands, NumberingFailuresLeaveTheDocumentEmpty)
{
    files.write("plain.txt", "A\r\nB");
    files.write("empty.txt", "");
    window.readHp = false;
    window.lineNumbers = true;
    const std::pair<std::string, std::string> cases[] = {{"2147483647", "1"}, {"99999999999", "10"}, {"10", "1e12"}};
    for (const auto& [start, step] : cases) {
        window.start = start;
        window.step = step;
        window.dialogAnswer = path("plain.txt");
        read();
        EXPECT_EQ(window.document, "") << start << " " << step;
        EXPECT_EQ(window.status, "Inserting LineNumber");
        expectUsable();
    }
    window.start = "10";
    window.step = "10";
    window.dialogAnswer = path("empty.txt");
    read();
    EXPECT_EQ(window.document, "");
    EXPECT_EQ(window.status, "Now Reading") << "an empty document is not numbered";
    expectUsable();
}

TEST_F(FileCommands, WritesTxtExactlyWithoutBusy)
{
    files.write("out.txt", std::string(100, 'x'));
    window.writeTxt = true;
    window.document = "10 BEEP\r\n20 END";
    window.dialogAnswer = path("out.txt");
    write();
    EXPECT_EQ(textOf(files.read("out.txt")), "10 BEEP\r\n20 END") << "nothing added, old tail gone";
    EXPECT_THAT(window.only({"status", "busy", "timer", "maximum", "save dialog"}),
                ElementsAre("save dialog", "status Writing", "status Complete"));
    EXPECT_EQ(window.dialogFilter, kTxtFileTypes);
    EXPECT_EQ(window.dialogFilterIndex, 2);

    const CodePage japanese = CodePage::named("windows-932");
    window.document = "10 PRINT \"\u65E5\u672C\"";
    WriteProgramFile(window, japanese, window.document);
    EXPECT_EQ(files.read("out.txt"), bytesOf("10 PRINT \"\x93\xFA\x96\x7B\"")) << "TXT takes double-byte text";
}

TEST_F(FileCommands, WritesTheWorkedExampleAsHpAsciiInOrder)
{
    window.document = "10 BEEP\r\n20 END";
    window.dialogAnswer = path("PROG.asc");
    write();
    EXPECT_EQ(files.read("PROG.asc"), kWorkedExample);
    EXPECT_THAT(window.only({"status", "busy", "idle", "timer", "maximum", "value", "save dialog"}),
                ElementsAre("save dialog", "busy", "status Now Converting", "maximum 15", "timer on", "value 0",
                            "status Now Writing", "maximum 276", "timer off", "status Complete", "value 0", "idle"));
    EXPECT_EQ(window.dialogFilter, kHpFileTypes);
    EXPECT_EQ(window.dialogFilterIndex, 5);
    EXPECT_EQ(files.listing(), "PROG.asc");

    // And read back through the Read File command.
    window.document.clear();
    window.dialogAnswer = path("PROG.asc");
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");
}

TEST_F(FileCommands, DoubleByteTextIsRefusedBeforeAnyDialog)
{
    files.write("old.asc", kWorkedExample);
    const CodePage japanese = CodePage::named("windows-932");
    window.document = "10 PRINT \"\u65E5\"";
    window.dialogAnswer = path("old.asc");
    WriteProgramFile(window, japanese, window.document);
    EXPECT_THAT(window.calls, ElementsAre("warning Error!! 2 byte character is contained!"));
    EXPECT_EQ(files.read("old.asc"), kWorkedExample);

    window.calls.clear();
    window.document = "\u2264"; // no single byte in windows-1252 either
    write();
    EXPECT_THAT(window.calls, ElementsAre("warning Error!! 2 byte character is contained!"));
}

TEST_F(FileCommands, HpWriteFailuresLeaveExistingFilesAlone)
{
    files.write("old.asc", kWorkedExample);
    fs::create_directory(files / "folder.asc");
    files.write("plain", "not a folder");
    struct Case {
        std::string document;
        std::string target;
        std::string status;
    };
    const Case cases[] = {
        {"", "old.asc", "Now Converting"},
        {"10 A\r\n" + std::string(256, 'x'), "old.asc", "Now Converting"},
        {"10 A", "folder.asc", "Now Writing"},
        {"10 A", "gone/new.asc", "Now Writing"},
        {"10 A", "plain/new.asc", "Now Writing"},
    };
    for (const auto& c : cases) {
        window.document = c.document;
        window.dialogAnswer = path(c.target);
        write();
        EXPECT_EQ(window.status, c.status) << c.target;
        expectUsable();
    }
    EXPECT_EQ(files.read("old.asc"), kWorkedExample);
    EXPECT_EQ(files.listing(), "folder.asc old.asc plain");
    EXPECT_TRUE(fs::is_empty(files / "folder.asc"));
}

TEST_F(FileCommands, TargetFolderVanishingWhileWritingLosesNothing)
{
    fs::create_directory(files / "out");
    files.write("out/old.asc", kWorkedExample);
    window.document = "10 A";
    window.dialogAnswer = path("out/old.asc");
    window.onYield = [&] { fs::rename(files / "out", files / "moved"); window.onYield = nullptr; };
    write();
    EXPECT_EQ(window.status, "Now Writing");
    expectUsable();
    EXPECT_EQ(files.read("moved/old.asc"), kWorkedExample);
    EXPECT_EQ(files.listing(), "moved");
}

TEST_F(FileCommands, CancelledSaveDialogWritesNothing)
{
    files.write("old.asc", kWorkedExample);
    window.dialogName = path("old.asc");
    window.document = "10 NEW";
    write();
    window.writeTxt = true;
    write();
    EXPECT_EQ(files.read("old.asc"), kWorkedExample);
    EXPECT_THAT(window.only({"busy", "status"}), ElementsAre());
}

TEST_F(FileCommands, EveryByteSurvivesWriteAndReadInEverySingleBytePage)
{
    for (const char* name : kSingleByteWindowsPages) {
        SCOPED_TRACE(name);
        page = CodePage::named(name);
        window.document = page.toUtf8(lineBytes());
        const std::string written = window.document;
        window.dialogAnswer = path("all.asc");
        write();
        EXPECT_EQ(window.status, "Complete");
        window.document.clear();
        read();
        EXPECT_EQ(window.document, written + "\r\n");
    }
}

// A NUL or a character stored as FF would not come back from the file: the
// user is told where it is before any dialog, and nothing is written.
TEST_F(FileCommands, UncarriableCharactersAreRefusedBeforeAnyDialog)
{
    files.write("old.asc", kWorkedExample);
    window.dialogAnswer = path("old.asc");
    const std::pair<std::string, std::string> cases[] = {
        {std::string("10 A\r\n20 B\0", 11), "line 2, column 5"},
        {"10 A\r\n\r\n30 \u00FF", "line 3, column 4"},
    };
    for (const auto& [document, place] : cases) {
        window.calls.clear();
        window.document = document;
        write();
        EXPECT_THAT(window.calls, ElementsAre("warning Error!! The character at " + place +
                                              " (a NUL, or a character stored as byte FF) cannot be kept in an "
                                              "HP BASIC ASCII file."));
    }
    EXPECT_EQ(files.read("old.asc"), kWorkedExample);
    window.writeTxt = true;
    write();
    EXPECT_EQ(textOf(files.read("old.asc")), "10 A\r\n\r\n30 \xFF") << "TXT carries them";
}

// A write-protected file is a failure: the error path, the file untouched.
TEST_F(FileCommands, WriteProtectedFilesAreNotReplaced)
{
    files.write("ro.asc", "old");
    fs::permissions(files / "ro.asc", fs::perms(0444));
    const std::string outcome = asOrdinaryUser(files, [&] {
        std::string statuses;
        for (const bool txt : {false, true}) {
            window.writeTxt = txt;
            window.document = "10 A";
            window.dialogAnswer = path("ro.asc");
            write();
            statuses += window.status + (window.busy || window.timerRunning ? " (not usable) " : " ");
        }
        return statuses;
    });
    EXPECT_EQ(outcome, "Now Writing Writing ");
    EXPECT_EQ(textOf(files.read("ro.asc")), "old");
    EXPECT_EQ(files.listing(), "ro.asc");
}

TEST(ProgressTimer, TickShowsProgressCount)
{
    FakeWindow window;
    ProgressCount = 1234;
    progressTimerTick(window);
    EXPECT_EQ(window.value, 1234);
}
