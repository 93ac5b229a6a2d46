// The Read File and Write File commands on real files through the real
// window: what the user sees in order, and on every failure a clean end with
// the window usable and every file the user had as it was.

#include "ui/common_dialog.h"
#include "ui/frm_main.h"

#include "core/program/hp_ascii.h"
#include "core/lif/lif.h"
#include "operations/file_commands.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "support/captures.h"
#include "support/test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

using namespace varnook;
using namespace varnook::test;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace fs = std::filesystem;

namespace {

const Bytes kWorked = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

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

// The window with every change the commands make recorded in order as short
// texts ("status Now Reading", "busy", ...); its dialogs and messages are
// answered from its fields instead of by a user.
class RecordingWindow : public ui::frmMain {
public:
    std::vector<std::string> calls;
    std::optional<std::string> file; // picked in the file dialog; nothing cancels
    std::optional<std::string> volumeFile; // picked or named in the disk image dialogs
    std::function<void()> onYield; // runs at the next yield
    int yields = 0;
    QMessageBox::StandardButton answer = QMessageBox::No; // to every question
    std::string folder; // left out of what only() shows

    RecordingWindow()
    {
        CommonDialog1.answer = [this](bool save) {
            record(save ? "save dialog" : "open dialog");
            return QString::fromStdString(file.value_or(""));
        };
        volumeAnswer = [this](const std::string& offered) {
            record("volume " + offered);
            return volumeFile;
        };
        onWarning = [this](const QString& text) { record("warning " + text.toStdString()); };
        onQuestion = [this](const QString& text, QMessageBox::StandardButtons) {
            record("question " + text.toStdString());
            return answer;
        };
    }
    // The options; numbering when start is not empty.
    void choose(bool readHp, bool writeTxt, const QString& start = {}, const QString& step = {})
    {
        (readHp ? opReadHp : opReadTxt)->setChecked(true);
        (writeTxt ? opWriteTxt : opWriteHp)->setChecked(true);
        chkLineNum->setChecked(!start.isEmpty());
        txtStart->setText(start);
        txtStep->setText(step);
    }
    std::string status() const { return StatusBar1Panel1->text().toStdString(); }
    // The calls whose text starts with one of the prefixes, joined by "|",
    // with the folder of the files left out.
    std::string only(std::initializer_list<std::string_view> prefixes) const
    {
        std::string kept;
        for (const auto& call : calls) {
            if (std::any_of(prefixes.begin(), prefixes.end(), [&](auto prefix) { return call.starts_with(prefix); })) {
                kept += (kept.empty() ? "" : "|") + call;
            }
        }
        for (std::size_t at; !folder.empty() && (at = kept.find(folder)) != std::string::npos;) {
            kept.erase(at, folder.size());
        }
        return kept;
    }

// Each records the call as a short text, then lets the window do it.
#define RECORDED(method, parameters, arguments, text)                                                                  \
    void method parameters override                                                                                    \
    {                                                                                                                  \
        record(text);                                                                                                  \
        frmMain::method arguments;                                                                                     \
    }
    RECORDED(setBusy, (), (), "busy")
    RECORDED(setIdle, (), (), "idle")
    RECORDED(setStatusText, (std::string_view text), (text), "status " + std::string(text))
    RECORDED(setDialogFileName, (const std::string& name), (name), "dialog name " + name)
#undef RECORDED
    void yield() override
    {
        ++yields;
        if (auto once = std::exchange(onYield, nullptr)) {
            once();
        }
        frmMain::yield();
    }

private:
    void record(std::string call)
    {
        calls.push_back(std::move(call));
    }
};

class FileCommands : public ::testing::Test {
protected:
    FileCommands() { w.folder = files.path().string() + "/"; }
    void read(const std::string& name = "") { ReadProgramFile(w, page, name); }
    void write() { WriteProgramFile(w, page, w.documentText()); }
    std::string remembered() { return Module1::ReadSetting("Load", "Dir", "(none)"); }
    std::string path(const std::string& name) { return (files / name).string(); }
    std::string filter() { return w.CommonDialog1.Filter.toStdString() + std::to_string(w.CommonDialog1.FilterIndex); }

    // The progress at a command's end: the timer stopped, the bar at 0.
    void expectProgressDone()
    {
        EXPECT_FALSE(w.Timer1->isActive());
        EXPECT_EQ(w.ProgressBar1->value(), 0);
    }

    // A failed command ends through its error path: usable, timer stopped,
    // the status of the phase it failed in, then one warning that names the
    // file and the reason.
    void expectCleanEnd(const std::string& status, const std::string& file, const std::string& reason)
    {
        EXPECT_TRUE(w.isEnabled()) << file;
        expectProgressDone();
        EXPECT_THAT(w.only({"warning"}), AllOf(StartsWith("warning Could not "), HasSubstr(file + ".\n" + reason),
                                               Not(HasSubstr("|warning"))));
        EXPECT_EQ(w.status(), status) << file;
        w.calls.clear();
    }

    SettingsFolder settings; // in use before the window reads it
    TempDir files;
    RecordingWindow w;
    CodePage page = CodePage::named("windows-1252");
};

} // namespace

// Each row: file, read as HP BASIC ASCII, numbering start and step (none
// when empty), the answer to a question; then the document after it (it was
// "kept") and what the user sees: a question, the statuses between busy and
// idle, one warning naming the file (its folder left out here). Failures
// come before successes, so that the window is seen to work after them.
TEST_F(FileCommands, ReadsSayWhatTheyDo)
{
    files.write("PROG.asc", kWorked);
    files.write("plain.txt", "PRINT 1\n\nEND");
    files.write("empty.txt", Bytes{});
    files.write("cut.asc", hpFile("00 02 41 42 00"));
    files.write("lost.asc", hpFile("00 02 41 42 00 05 31 30"));
    files.write("BIG.asc", encodeHpAsciiBytes(program(300000)));
    files.write("disk.lif", lif::newVolumeImage("DISK", 12, 1, {}));
    lif::VolumeUpdate(files / "disk.lif").put("PROG", asciiFileFromProgramFile(kWorked), {});
    files.write("BARE.lif", asciiFileFromProgramFile(kWorked));
    files.write("utf8.txt", "PRINT \"\u00B5V \u2126\"");
    files.write("bom.txt", "\xEF\xBB\xBF"
                           "END");
    const std::string hp = "busy|status Now Reading|status Now Analysing|status Complete|idle";
    const std::string txt = "busy|status Now Reading|status Complete|idle";
    const auto no = QMessageBox::No, yes = QMessageBox::Yes;
    const std::string notHp = "plain.txt is not an HP BASIC ASCII program file. Read it as text?";
    const std::string outside = "question Line 3 (END) would be numbered 32770, and HP BASIC takes line numbers 1 to "
                                "32766 only. Number the lines anyway?";
    const struct {
        std::string file;
        bool readHp;
        QString start, step;
        QMessageBox::StandardButton answer;
        std::string document, seen;
    } reads[] = {
        {"missing.asc", true, "", "", no, "kept",
         "status Now Reading|status Reading failed|idle|warning Could not read missing.asc.\nCannot open: No such file "
         "or directory."},
        {"cut.asc", true, "", "", no, "kept",
         "busy|status Now Reading|status Now Analysing|question cut.asc is damaged at offset 260 (the file ends "
         "inside a length word, after line 1). Read what the lenient rule makes of it?|status Cancelled|idle"},
        {"lost.asc", true, "", "", yes, "AB\r\n10",
         "busy|status Now Reading|status Now Analysing|question lost.asc is damaged at offset 260 (the file ends "
         "inside line 2, a record of 5 bytes from offset 262). Read what the lenient rule makes of it?|status "
         "Complete|idle"},
        {"BIG.asc", true, "", "", no, "kept",
         "busy|status Now Reading|status Reading failed|idle|warning Could not read BIG.asc.\nThe file became shorter "
         "while it was "
         "read."}, // cut short while it is read
        {"plain.txt", false, "2.1e9", "1e9", yes, "",
         "busy|status Now Reading|status Inserting LineNumber|question Line 1 (PRINT 1) would be numbered 2100000000, "
         "and HP BASIC takes line numbers 1 to 32766 only. Number the lines anyway?|status Inserting LineNumber "
         "failed|idle|warning Could "
         "not read plain.txt.\nLine numbers "
         "leave the 32-bit range: the number after 2100000000 (line 1) would be 3100000000."},
        {"empty.txt", false, "10", "10", no, "",
         "busy|status Now Reading|status Reading failed|idle|warning Could not read empty.txt.\nThe document is "
         "empty."}, // not numbered
        {"plain.txt", true, "100", "10", no, "kept", "question " + notHp},
        {"PROG.asc", true, "", "", no, "10 BEEP\r\n20 END\r\n", hp},
        {"PROG.asc", true, "100", "5", no, "10 BEEP\r\n20 END\r\n", hp}, // no numbering on this path
        {"plain.txt", false, "", "", no, "PRINT 1\r\n\r\nEND", txt},
        {"plain.txt", false, "100", " 5", no, "100 PRINT 1\r\n105 \r\n110 END",
         "busy|status Now Reading|status Inserting LineNumber|status Complete|idle"},
        {"plain.txt", true, "100", "10", yes, "PRINT 1\r\n\r\nEND", "question " + notHp + "|" + txt}, // greyed box
        // UTF-8 text is recognised and read as UTF-8 when the user agrees.
        {"utf8.txt", false, "", "", yes, "PRINT \"\u00B5V \u2126\"",
         "busy|status Now Reading|question utf8.txt is UTF-8 text (it holds 2 characters beyond ASCII, all written "
         "as UTF-8), not windows-1252. Read it as UTF-8?|status Complete (read as UTF-8)|idle"},
        {"utf8.txt", false, "", "", no, "PRINT \"\u00C2\u00B5V \u00E2\u201E\u00A6\"",
         "busy|status Now Reading|question utf8.txt is UTF-8 text (it holds 2 characters beyond ASCII, all written "
         "as UTF-8), not windows-1252. Read it as UTF-8?|status Complete|idle"},
        {"bom.txt", false, "1", "1", yes, "1 END",
         "busy|status Now Reading|question bom.txt is UTF-8 text (it begins with a UTF-8 byte order mark), not "
         "windows-1252. Read it as UTF-8?|status Inserting LineNumber|status Complete (read as UTF-8)|idle"},
        // Numbers HP BASIC does not take are asked about, naming the first such line.
        {"plain.txt", false, "32760", "5", no, "PRINT 1\r\n\r\nEND",
         "busy|status Now Reading|status Inserting LineNumber|" + outside + "|status Read without line numbers|idle"},
        {"plain.txt", false, "32760", "5", yes, "32760 PRINT 1\r\n32765 \r\n32770 END",
         "busy|status Now Reading|status Inserting LineNumber|" + outside + "|status Complete|idle"},
        {"PROG.asc", false, "", "", yes, "10 BEEP\r\n20 END\r\n",
         "question PROG.asc is an HP BASIC ASCII program file, not a text file. Read it as HP BASIC ASCII?|" + hp},
        {"BARE.lif", true, "", "", yes, "10 BEEP\r\n20 END\r\n",
         "question BARE.lif is a bare LIF ASCII file (program lines as records, no header), not an HP BASIC ASCII "
         "program file. Read it as LIF ASCII?|" +
             hp},
        {"disk.lif", false, "", "", yes, "10 BEEP\r\n20 END\r\n",
         "question disk.lif is a LIF disk image, not a text file. Read a program out of it as HP BASIC ASCII?|" + hp},
    };
    w.volumeFile = "PROG";
    for (const auto& [file, readHp, start, step, answer, document, seen] : reads) {
        SCOPED_TRACE(file + " " + start.toStdString() + (answer == yes ? " yes" : ""));
        w.setDocumentText("kept");
        w.calls.clear();
        w.choose(readHp, false, start, step);
        w.answer = answer;
        w.file = path(file);
        w.onYield =
            file == "BIG.asc" ? std::function<void()>([&] { fs::resize_file(files / "BIG.asc", 1000); }) : nullptr;
        read();
        // Each command starts with its own, empty, status.
        EXPECT_EQ(w.only({"question", "busy", "idle", "status", "warning"}), "status |" + seen);
        EXPECT_EQ(w.documentText(), document);
        EXPECT_TRUE(w.isEnabled());
        expectProgressDone();
        EXPECT_EQ(w.opReadHp->isChecked(), readHp) << "the option stays as the user set it";
        EXPECT_EQ(remembered(), path(file)) << "remembered before it was opened";
        EXPECT_EQ(filter(), std::string(readHp ? kHpFileTypes : kTxtFileTypes) + (readHp ? "5" : "2"));
    }
    EXPECT_GT(w.yields, 0);

    // The next dialog starts from the file last read; cancelling it changes nothing.
    w.calls.clear();
    w.file = std::nullopt;
    read();
    EXPECT_THAT(w.calls, ElementsAre("status ", "dialog name " + path("disk.lif"), "open dialog"));
    EXPECT_EQ(w.documentText(), "10 BEEP\r\n20 END\r\n");

    // A file named outside the window is read at once by the read option,
    // remembered, and offered by the next save dialog.
    files.write("named.bas", "10 PRINT\r\n");
    w.choose(false, true);
    w.ReadFile(QString::fromStdString(path("named.bas")));
    EXPECT_EQ(w.documentText() + remembered() + " " + w.CommonDialog1.FileName.toStdString(),
              "10 PRINT\r\n" + path("named.bas") + " " + path("named.bas"));

    // Start and Step are shown as they were read.
    w.choose(false, false, "1.5 99", " 5");
    w.file = path("plain.txt");
    read();
    EXPECT_EQ(w.documentText() + "|" + w.txtStart->text().toStdString() + "|" + w.txtStep->text().toStdString(),
              "2 PRINT 1\r\n7 \r\n12 END|2|5");
}

// The save dialog offers the remembered name with the write format's
// extension; other names as they are. Cancelled, it writes nothing.
TEST_F(FileCommands, SaveDialogOffersTheWriteFormatsName)
{
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"/d/PROG.asc", true, "/d/PROG.txt"}, {"/d/PROG.ASC", true, "/d/PROG.TXT"},
        {"/d/PROG", true, "/d/PROG.txt"},     {"/d/prog.txt", false, "/d/prog.asc"},
        {"/d/PROG", false, "/d/PROG"},        {"/d/prog.bas", true, "/d/prog.bas"},
        {"/d/x.asc", false, "/d/x.asc"},      {"", true, ""},
    };
    w.setDocumentText("10 A");
    w.file = std::nullopt;
    for (const auto& [remembered, txt, offered] : cases) {
        w.choose(true, txt);
        w.CommonDialog1.FileName = QString::fromStdString(remembered);
        write();
        EXPECT_EQ(w.CommonDialog1.FileName.toStdString(), offered) << remembered;
    }
    // Nothing but each command's empty status.
    EXPECT_EQ(w.only({"status", "save"}) + files.listing(), "status |save dialog|status |save dialog|status |save "
                                                            "dialog|status |save dialog|status |save dialog|status "
                                                            "|save dialog|status |save dialog|status |save dialog");
}

// Each row: code page, document, target, written as TXT; then what the user
// sees (the folder left out here) and the target's content after. What HP
// BASIC ASCII cannot hold (characters of two bytes, a NUL, a character stored
// as FF) is refused before any dialog; every failure leaves the file there
// as it was.
TEST_F(FileCommands, WritesSayWhatTheyDo)
{
    files.write("out.txt", std::string(100, 'x'));
    files.write("old.asc", kWorked);
    files.write("old.txt", "10 OLD\r\n");
    files.write("out/in.asc", kWorked);
    Bytes disk = lif::newVolumeImage("DISK", 40, 1, {});
    lif::putFile(disk, "PROG", asciiFileFromProgramFile(kWorked), {});
    files.write("disk.lif", disk);
    files.write("bare.lif", asciiFileFromProgramFile(kWorked));
    const std::string big = textOf(program(200000));
    const std::string worked = textOf(kWorked);
    const std::string noByte = "busy|idle|warning Error!! 2 byte character is contained!";
    const std::string place =
        "busy|idle|warning Error!! The character at line 2, column 5 (a NUL, or a character stored as byte "
        "FF) cannot be kept in an HP BASIC ASCII file.";
    // The checks that need no file name run first, the window busy meanwhile.
    const std::string hp = "busy|idle|save dialog|busy|status Now Converting|status Now Writing|";
    const std::string writing = "Now Converting|status Now Writing|";
    const std::string txtDone = "save dialog|busy|status Writing|status Complete|idle";
    const std::string early =
        "busy|status Now Converting|status Converting failed|idle|warning The file could not be written.\n";
    const auto failed = [](const std::string& phases, const std::string& file, const std::string& reason) {
        const char* failedPhase = phases.ends_with("Now Writing|") ? "Writing failed|" : "Converting failed|";
        return "busy|idle|save dialog|busy|status " + phases + "status " + failedPhase +
               "idle|warning Could not write " + file + ".\n" + reason + ".";
    };
    const struct {
        const char* page;
        std::string document, target;
        bool txt;
        std::string seen, after;
    } writes[] = {
        {"windows-932", "10 PRINT \"\u65E5\"", "old.asc", false, noByte + "\nline 1, column 11", worked},
        {"windows-1252", "\r\n\u2264", "old.asc", false, noByte + "\nline 2, column 1", worked},
        {"windows-1252", std::string("10 A\r\n20 B\0", 11), "old.asc", false, place, worked},
        {"windows-1252", "10 A\r\n20 B\u00FF", "old.asc", false, place, worked},
        // Refused before the save dialog: what needs no file name.
        {"windows-1252", "", "old.asc", false, early + "The document is empty.", worked},
        {"windows-1252", "10 A\r\n" + std::string(256, 'x'), "old.asc", false,
         early + "Line 2 (xxxxxxxxxxxxxxxx...) is 256 characters long; HP BASIC ASCII allows at most 255.", worked},
        {"windows-1252", "10 A", "gone/new.asc", false,
         failed(writing, "gone/new.asc", "The folder gone does not exist"),
         ""}, // and every target the replacement refuses
        {"windows-1252", "10 A", "out/in.asc", false, failed(writing, "out/in.asc", "The folder out does not exist"),
         ""}, // the folder moves away while it is written
        {"windows-1252", big, "old.asc", false, failed(writing, "old.asc", "Cannot write: File too large"),
         worked}, // the disk fills up
        {"windows-1252", big, "old.txt", true,
         "save dialog|busy|status Writing|status Writing failed|idle|warning Could not write old.txt.\nCannot write: "
         "File "
         "too large.",
         "10 OLD\r\n"},
        {"windows-1252", "10 BEEP\r\n20 END", "out.txt", true, txtDone,
         "10 BEEP\r\n20 END"}, // nothing added, the old tail gone
        {"windows-932", "10 PRINT \"\u65E5\u672C\"", "out.txt", true, txtDone, "10 PRINT \"\x93\xFA\x96\x7B\""},
        {"windows-1252", "10 A\r\n20 B\u00FF", "out.txt", true, txtDone, "10 A\r\n20 B\xFF"}, // TXT carries them
        {"windows-1252", "10 BEEP\r\n20 END", "PROG.asc", false, hp + "status Complete|idle", worked},
        {"windows-1252", "10 A", "old.asc", true,
         "save dialog|question old.asc is an HP BASIC ASCII program file. Replace it with this text?", worked},
        {"windows-1252", "10 A", "disk.lif", true,
         "save dialog|question disk.lif is a disk image holding 1 program. Replace it with this text?", textOf(disk)},
        {"windows-1252", "10 A", "bare.lif", true,
         "save dialog|question bare.lif is a bare LIF ASCII file. Replace it with this text?",
         textOf(asciiFileFromProgramFile(kWorked))},
        {"windows-1252", big, "old.asc", false, hp + "status Complete|idle", textOf(encodeHpAsciiBytes(bytesOf(big)))},
    };
    for (const auto& [name, document, target, txt, seen, after] : writes) {
        SCOPED_TRACE(target + " " + document.substr(0, 12));
        w.setDocumentText(document);
        w.calls.clear();
        w.choose(true, txt);
        w.file = path(target);
        w.onYield = target == "out/in.asc" ? std::function<void()>([&] { fs::rename(files / "out", files / "moved"); })
                                           : nullptr;
        {
            std::optional<FileSizeLimit> full;
            if (document == big && seen.find("warning") != std::string::npos) {
                full.emplace(4096);
            }
            WriteProgramFile(w, CodePage::named(name), document);
        }
        EXPECT_EQ(w.only({"save dialog", "question", "busy", "idle", "status", "warning"}), "status |" + seen);
        EXPECT_EQ(textOf(files.read(target)), after);
        EXPECT_TRUE(w.isEnabled());
        expectProgressDone();
        if (seen.starts_with("save dialog")) {
            EXPECT_EQ(filter(), std::string(txt ? kTxtFileTypes : kHpFileTypes) + (txt ? "2" : "5"));
        }
    }
    EXPECT_EQ(files.read("moved/in.asc"), kWorked);
    EXPECT_EQ(files.listing(), "PROG.asc bare.lif disk.lif moved old.asc old.txt out.txt");
}

// A LIF disk image: a program is read out of it byte for byte as an HP BASIC
// ASCII file is read, the window writes into it, and a failure of the volume
// says why and leaves the image as it was.
TEST_F(FileCommands, DiskImagesOfferTheirFiles)
{
    const std::string text = "10 " + textOf(lineBytes()) + "\r\n20 END\r\n";
    Bytes image = lif::newVolumeImage("DISK", 12, 1, {});
    for (const char* name : {"PROG", "BIN"}) {
        lif::putFile(image, name, asciiFileFromProgramFile(encodeHpAsciiBytes(bytesOf(text))), {});
    }
    image[512 + 32 + 10] = 0xE0; // BIN becomes a file of another type
    files.write("disk.lif", image);
    w.choose(true, false);
    w.file = path("disk.lif");
    w.setDocumentText("old");
    w.calls.clear();
    read(); // cancelled in the list: nothing changes
    EXPECT_EQ(w.only({"open dialog", "volume", "busy", "status"}) + w.documentText(), "status |open dialog|volume old");
    w.calls.clear();
    w.volumeFile = "PROG";
    read();
    EXPECT_EQ(page.fromUtf8(w.documentText()), bytesOf(text));
    EXPECT_EQ(w.only({"status", "volume"}), "status |volume |status Now Reading|status Now Analysing|status Complete");

    // Offered its way back: Yes writes it into the image under its name,
    // with no dialog, as the command line's write does.
    w.calls.clear();
    w.answer = QMessageBox::Yes;
    const std::string edited = w.documentText() + "30 STOP\r\n";
    w.setDocumentText(edited);
    write();
    EXPECT_EQ(w.only({"question", "save dialog", "volume", "status"}),
              "status |question PROG was read out of disk.lif. Write it back there under its name?|status Now "
              "Converting|status Now Writing|status Complete");
    {
        // Read under the image's lock, so let go before the next write.
        const lif::VolumeReader back(files / "disk.lif");
        EXPECT_EQ(back.fileBlocks(back.volume().named("PROG")),
                  asciiFileFromProgramFile(encodeHpAsciiBytes(page.fromUtf8(edited))));
    }
    EXPECT_EQ(w.windowTitle().toStdString(), "PROG in disk.lif[*] - Varnook");
    w.answer = QMessageBox::No;

    w.calls.clear();
    w.volumeFile = "COPY";
    write();
    EXPECT_EQ(w.only({"dialog name", "volume", "status", "warning"}),
              "status |dialog name PROG.asc|volume PROG|status Now Converting|status Now Writing|status Complete");
    EXPECT_EQ(w.windowTitle().toStdString() + std::to_string(w.isWindowModified()), "COPY in disk.lif[*] - Varnook0");
    EXPECT_NE(lif::readVolume(files / "disk.lif").find("COPY"), nullptr);

    // Cancelled, the name taken by another type, the volume full.
    const Bytes before = files.read("disk.lif");
    const std::tuple<std::optional<std::string>, std::string, std::string> failures[] = {
        {std::nullopt, "10 A", ""},
        {"BIN", "10 A", "The volume holds BIN as a file of type E001, not an ASCII file"},
        {"BIG", textOf(program(20000)), "The volume is full"},
    };
    for (const auto& [name, document, message] : failures) {
        w.calls.clear();
        w.volumeFile = name;
        w.setDocumentText(document);
        w.setStatusText("Complete");
        write();
        if (message.empty()) {
            EXPECT_EQ(w.only({"warning"}) + w.status(), "") << "cancelled: nothing of the command before stays";
        } else {
            expectCleanEnd("Writing failed", "disk.lif", message);
        }
        EXPECT_EQ(files.read("disk.lif"), before) << message;
    }
    // A capture is read, never written: said in the window's words.
    files.write("disk.td0", teleDiskOf(before, SIZE_MAX, SIZE_MAX));
    w.file = path("disk.td0");
    w.volumeFile = "PROG";
    w.setDocumentText("10 A");
    write();
    expectCleanEnd("Writing failed", "disk.td0",
                   "A TeleDisk image is read here, never written: make a plain image of it with Save As Plain Image "
                   "in its disk view first.");
    EXPECT_EQ(files.read("disk.lif"), before);
    EXPECT_EQ(files.listing(), "disk.lif disk.td0");
}

// Each pair of the list a filter; "*.*" matches every file, as on the
// system the lists come from.
TEST(CommonDialogFilters, ListStringsBecomeQtFilters)
{
    const QStringList hp = ui::CommonDialog::qtFilters(QString::fromUtf8(kHpFileTypes));
    const QStringList txt = ui::CommonDialog::qtFilters(QString::fromUtf8(kTxtFileTypes));
    EXPECT_EQ((hp.first() + "|" + hp[kHpAllFilesIndex - 1] + "|" + txt.first() + "|" + txt.last()).toStdString() +
                  std::to_string(hp.size() + txt.size()),
              "HP BASIC ASCII(*.asc) (*.asc)|すべてのファイル(*.*) (*)|txtファイル(*.txt) (*.txt)|Disk images(*.lif "
              "*.hpi *.dsk *.td0 *.imd) (*.lif *.hpi *.dsk *.td0 *.imd *.LIF *.HPI *.DSK *.TD0 *.IMD)9");
    EXPECT_TRUE(ui::CommonDialog::qtFilters(QString()).isEmpty());
}
