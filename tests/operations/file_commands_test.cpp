// The Read File and Write File commands on real files through the recording
// window: what the user sees in order, and on every failure a clean end with
// the window usable and every file the user had as it was.

#include "core/hp_ascii.h"
#include "core/lif.h"
#include "operations/file_commands.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "support/fake_window.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

using namespace varnook;
using namespace varnook::test;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

namespace {

const Bytes kWorkedExample = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

Bytes program(std::size_t size)
{
    std::string text;
    for (int line = 10; text.size() < size; line += 10) {
        text += std::to_string(line) + " PRINT \"LINE " + std::to_string(line) + "\"\r\n";
    }
    return bytesOf(text);
}

// Writes beyond a size fail with EFBIG while the limit is in force, which is
// what a full disk looks like to the writing code.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, handler_);
    }

private:
    void (*handler_)(int);
    rlimit previous_{};
};

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override { Module1::useFolder(settings.path()); }
    void TearDown() override { Module1::useFolder(std::nullopt); }

    void read(const std::string& name = "") { ReadProgramFile(window, page, name); }
    void write() { WriteProgramFile(window, page, window.document); }
    std::string remembered() { return Module1::ReadSetting("Load", "Dir", "(none)"); }
    std::string path(const std::string& name) { return (files / name).string(); }

    // A failed command ends through its error path: usable, timer stopped,
    // no message, the status of the phase it failed in.
    void expectCleanEnd(const std::string& status, const std::string& what)
    {
        EXPECT_FALSE(window.busy) << what;
        EXPECT_FALSE(window.timerRunning) << what;
        EXPECT_TRUE(window.warnings.empty()) << what;
        EXPECT_EQ(window.status, status) << what;
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
    EXPECT_EQ(window.dialogFilter + std::to_string(window.dialogFilterIndex), std::string(kHpFileTypes) + "5");
    EXPECT_GT(window.yields, 0);

    // The next dialog starts from the remembered file; cancelling it changes nothing.
    window.calls.clear();
    window.dialogAnswer = std::nullopt;
    read();
    EXPECT_THAT(window.calls, ElementsAre("dialog name " + path("PROG.asc"), "open dialog"));
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");

    // A dropped file is read at once by the read option, remembered, and
    // offered by the next save dialog.
    files.write("dropped.bas", "10 PRINT\r\n");
    window.readHp = false;
    read(path("dropped.bas"));
    EXPECT_EQ(window.document, "10 PRINT\r\n");
    EXPECT_EQ(remembered() + " " + window.dialogName, path("dropped.bas") + " " + path("dropped.bas"));
}

TEST_F(FileCommands, TxtIsNumberedOnlyWhenWanted)
{
    files.write("plain.txt", "PRINT 1\n\nEND");
    window.readHp = false;
    window.dialogAnswer = path("plain.txt");
    read();
    EXPECT_EQ(window.document, "PRINT 1\r\n\r\nEND");
    EXPECT_THAT(window.only({"status"}), ElementsAre("status Now Reading", "status Complete"));
    EXPECT_EQ(window.dialogFilter + std::to_string(window.dialogFilterIndex), std::string(kTxtFileTypes) + "2");

    window.calls.clear();
    window.lineNumbers = true;
    window.start = "100";
    window.step = " 5";
    read();
    EXPECT_EQ(window.document, "100 PRINT 1\r\n105 \r\n110 END");
    EXPECT_THAT(window.only({"status", "maximum", "timer"}),
                ElementsAre("status Now Reading", "status Inserting LineNumber", "maximum 13", "timer on", "timer off",
                            "status Complete"));

    files.write("numbered.asc", kWorkedExample);
    window.readHp = true;
    window.dialogAnswer = path("numbered.asc");
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n") << "no numbering on the HP BASIC ASCII path";
}

TEST_F(FileCommands, ReadFailuresEndQuietly)
{
    files.write("empty.asc", Bytes{});
    files.write("empty.txt", Bytes{});
    files.write("cut.asc", hpFile("00 02 41 42 00"));
    files.write("plain.txt", "A\r\nB");
    files.write("BIG.asc", encodeHpAsciiBytes(program(300000)));
    struct Case {
        std::string file;
        bool hp;
        std::string start, step; // numbering when not empty
        std::string status;
    };
    const Case cases[] = {
        {"missing.asc", true, "", "", "Complete"}, // and every file the file reading refuses
        {"missing.txt", false, "", "", "Now Reading"},
        {"empty.asc", true, "", "", "Complete"},
        {"cut.asc", true, "", "", "Now Analysing"},
        {"BIG.asc", true, "", "", "Now Reading"}, // cut short while it is read (below)
        {"plain.txt", false, "2147483647", "1", "Inserting LineNumber"},
        {"plain.txt", false, "10", "1e12", "Inserting LineNumber"},
        {"empty.txt", false, "10", "10", "Now Reading"}, // an empty document is not numbered
    };
    for (const auto& c : cases) {
        window.document = "kept";
        window.status = "Complete";
        window.readHp = c.hp;
        window.lineNumbers = !c.start.empty();
        window.start = c.start;
        window.step = c.step;
        window.dialogAnswer = path(c.file);
        if (c.file == "BIG.asc") {
            window.onYield = [&] {
                fs::resize_file(files / "BIG.asc", 1000);
                window.onYield = nullptr;
            };
        }
        read();
        expectCleanEnd(c.status, c.file);
        EXPECT_EQ(window.document, window.lineNumbers ? "" : "kept") << c.file;
        EXPECT_EQ(remembered(), *window.dialogAnswer) << "remembered before it was opened";
    }
    // The window still works afterwards.
    files.write("good.asc", kWorkedExample);
    window.readHp = true;
    window.dialogAnswer = path("good.asc");
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");
}

TEST_F(FileCommands, WritesTxtAndHpAsciiExactly)
{
    files.write("out.txt", std::string(100, 'x'));
    window.writeTxt = true;
    window.document = "10 BEEP\r\n20 END";
    window.dialogAnswer = path("out.txt");
    write();
    EXPECT_EQ(textOf(files.read("out.txt")), "10 BEEP\r\n20 END") << "nothing added, old tail gone";
    EXPECT_THAT(window.only({"status", "busy", "timer", "maximum", "save dialog"}),
                ElementsAre("save dialog", "status Writing", "status Complete"));
    EXPECT_EQ(window.dialogFilter + std::to_string(window.dialogFilterIndex), std::string(kTxtFileTypes) + "2");
    window.document = "10 PRINT \"\u65E5\u672C\"";
    WriteProgramFile(window, CodePage::named("windows-932"), window.document);
    EXPECT_EQ(files.read("out.txt"), bytesOf("10 PRINT \"\x93\xFA\x96\x7B\"")) << "TXT takes double-byte text";

    window.calls.clear();
    window.writeTxt = false;
    window.document = "10 BEEP\r\n20 END";
    window.dialogAnswer = path("PROG.asc");
    write();
    EXPECT_EQ(files.read("PROG.asc"), kWorkedExample);
    EXPECT_THAT(window.only({"status", "busy", "idle", "timer", "maximum", "value", "save dialog"}),
                ElementsAre("save dialog", "busy", "status Now Converting", "maximum 15", "timer on", "value 0",
                            "status Now Writing", "maximum 276", "timer off", "status Complete", "value 0", "idle"));
    EXPECT_EQ(window.dialogFilter + std::to_string(window.dialogFilterIndex), std::string(kHpFileTypes) + "5");
    EXPECT_EQ(files.listing(), "PROG.asc out.txt");
}

// What HP BASIC ASCII cannot hold is refused with a warning before any
// dialog: characters of two bytes, a NUL, a character stored as FF.
TEST_F(FileCommands, UncarriableTextIsRefusedBeforeAnyDialog)
{
    files.write("old.asc", kWorkedExample);
    window.dialogAnswer = path("old.asc");
    const std::string noByte = "Error!! 2 byte character is contained!";
    const std::string place = "Error!! The character at line 2, column 5 (a NUL, or a character stored as byte FF) "
                              "cannot be kept in an HP BASIC ASCII file.";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"windows-932", "10 PRINT \"\u65E5\"", noByte},
        {"windows-1252", "\u2264", noByte},
        {"windows-1252", std::string("10 A\r\n20 B\0", 11), place},
        {"windows-1252", "10 A\r\n20 B\u00FF", place},
    };
    for (const auto& [name, document, warning] : cases) {
        window.calls.clear();
        window.document = document;
        WriteProgramFile(window, CodePage::named(name), document);
        EXPECT_THAT(window.calls, ElementsAre("warning " + warning));
    }
    EXPECT_EQ(files.read("old.asc"), kWorkedExample);
    window.writeTxt = true;
    write();
    EXPECT_EQ(textOf(files.read("old.asc")), "10 A\r\n20 B\xFF") << "TXT carries them";

    // A cancelled save dialog writes nothing.
    window.calls.clear();
    window.dialogAnswer = std::nullopt;
    window.document = "10 NEW";
    for (const bool txt : {false, true}) {
        window.writeTxt = txt;
        write();
    }
    EXPECT_EQ(textOf(files.read("old.asc")), "10 A\r\n20 B\xFF");
    EXPECT_THAT(window.only({"busy", "status"}), ElementsAre());
}

TEST_F(FileCommands, WriteFailuresLeaveExistingFilesAlone)
{
    files.write("old.asc", kWorkedExample);
    files.write("old.txt", "10 OLD\r\n");
    fs::create_directory(files / "out");
    files.write("out/in.asc", kWorkedExample);
    const std::string big = textOf(program(200000));
    struct Case {
        std::string document;
        std::string target;
        bool txt;
        std::string status;
    };
    const Case cases[] = {
        {"", "old.asc", false, "Now Converting"},
        {"10 A\r\n" + std::string(256, 'x'), "old.asc", false, "Now Converting"},
        {"10 A", "gone/new.asc", false, "Now Writing"}, // and every target the replacement refuses
        {"10 A", "out/in.asc", false, "Now Writing"}, // the folder moves away while it is written
        {big, "old.asc", false, "Now Writing"}, // the disk fills up
        {big, "old.txt", true, "Writing"},
    };
    for (const auto& c : cases) {
        window.document = c.document;
        window.writeTxt = c.txt;
        window.dialogAnswer = path(c.target);
        if (c.target == "out/in.asc") {
            window.onYield = [&] {
                fs::rename(files / "out", files / "moved");
                window.onYield = nullptr;
            };
        }
        if (c.document == big) {
            FileSizeLimit limit(4096);
            write();
        } else {
            write();
        }
        expectCleanEnd(c.status, c.target);
    }
    EXPECT_EQ(files.read("old.asc"), kWorkedExample);
    EXPECT_EQ(files.read("moved/in.asc"), kWorkedExample);
    EXPECT_EQ(textOf(files.read("old.txt")), "10 OLD\r\n");
    EXPECT_EQ(files.listing(), "moved old.asc old.txt");

    // With room again, the same write goes through.
    window.writeTxt = false;
    window.dialogAnswer = path("old.asc");
    write();
    EXPECT_EQ(window.status, "Complete");
    EXPECT_GT(files.read("old.asc").size(), 200000u);
}

// A LIF disk image: read a program out of it as an HP BASIC ASCII file is
// read, write one into it, and on a failure of the volume say why.
TEST_F(FileCommands, DiskImagesOfferTheirFiles)
{
    Bytes image = lif::newVolumeImage("DISK", 12, 1, {});
    lif::putFile(image, "PROG", lif::asciiFileFromProgramFile(kWorkedExample), {});
    lif::putFile(image, "BIN", lif::asciiFileFromProgramFile(kWorkedExample), {});
    image[512 + 32 + 10] = 0xE0; // BIN becomes a file of another type
    files.write("disk.lif", image);
    window.dialogAnswer = path("disk.lif");
    window.document = "old";
    read(); // cancelled in the list: nothing changes
    EXPECT_THAT(window.calls, ElementsAre("dialog name ", "open dialog", "volume files PROG BIN"));
    window.calls.clear();
    window.volumeAnswer = "PROG";
    read();
    EXPECT_EQ(window.document, "10 BEEP\r\n20 END\r\n");
    EXPECT_THAT(window.only({"status", "volume"}),
                ElementsAre("volume files PROG BIN", "status Now Reading", "status Now Analysing", "status Complete"));

    window.calls.clear();
    window.document = "10 PRINT \"NEW\"\r\n20 END";
    write();
    EXPECT_THAT(
        window.only({"volume", "status", "warning"}),
        ElementsAre("volume name offered PROG", "status Now Converting", "status Now Writing", "status Complete"));
    const lif::Volume volume = lif::readVolume(files / "disk.lif");
    ASSERT_EQ(volume.files.size(), 2u);
    EXPECT_EQ(textOf(lif::textFromLines(lif::readRecords(lif::readFileBlocks(files / "disk.lif", volume.files[0])))),
              "10 PRINT \"NEW\"\r\n20 END\r\n");

    // Cancelled, full, or the name taken by another type: the image as it was.
    const Bytes before = files.read("disk.lif");
    window.calls.clear();
    window.volumeAnswer = std::nullopt;
    write();
    EXPECT_THAT(window.only({"volume", "busy"}), ElementsAre("volume name offered PROG"));
    const std::pair<std::string, std::string> failures[] = {
        {"BIN", "not an ASCII file"},
        {"BIG", "the volume is full"},
    };
    for (const auto& [name, message] : failures) {
        window.calls.clear();
        window.volumeAnswer = name;
        window.document = name == "BIG" ? textOf(program(20000)) : "10 A";
        write();
        ASSERT_EQ(window.warnings.size(), 1u) << ::testing::PrintToString(window.calls);
        EXPECT_THAT(window.warnings.back(), ::testing::HasSubstr(message));
        window.warnings.clear();
        expectCleanEnd("Now Converting", name);
        EXPECT_EQ(files.read("disk.lif"), before);
    }
    EXPECT_EQ(files.listing(), "disk.lif");
}
