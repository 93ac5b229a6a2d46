// The disk view on real images: each action leaves the image the command
// line makes of the same action (dates aside), sound by the core's check;
// each refusal says why and leaves every file as it was.

#include "ui/disk_view.h"
#include "ui/frm_main.h"

#include "core/io/file_io.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"
#include "core/program/hp_ascii.h"
#include "support/captures.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

namespace {

const Bytes kWorked = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

// Runs varnook-convert in the folder; its exit status.
int convert(const TempDir& dir, const std::string& arguments)
{
    const std::string command =
        "cd '" + dir.path().string() + "' && '" VARNOOK_CONVERT "' " + arguments + " 2>/dev/null";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The image with every date (the label's, each entry's) blanked: what the
// window and the command line write at different moments.
Bytes withoutDates(Bytes image)
{
    std::fill_n(image.begin() + 36, 6, 0);
    const lif::Volume volume = lif::parseImage(image);
    for (std::size_t slot = 0; slot < volume.entryCount(); ++slot) {
        const std::size_t at = volume.directoryStart * lif::kBlockSize + slot * lif::kEntrySize;
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(at) + 20, 6, 0);
    }
    return image;
}

// The view with the user's answers given in order and what it says recorded.
struct Session {
    explicit Session(const std::string& image) : view(nullptr, CodePage::named("windows-1252"), image)
    {
        view.answer = [this](const QString& what, const QString& text) -> std::optional<QString> {
            asked << what + ": " + text;
            if (answers.empty()) {
                ADD_FAILURE() << "unexpected " << what.toStdString() << ": " << text.toStdString();
                return std::nullopt;
            }
            const auto given = answers.front();
            answers.pop_front();
            return given;
        };
        view.onWarning = [this](const QString& text) { warnings << text; };
    }
    void select(const QStringList& names)
    {
        view.files()->clearSelection();
        for (int i = 0; i < view.files()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = view.files()->topLevelItem(i);
            if (names.contains(item->text(0))) {
                view.files()->setCurrentItem(item, 0, QItemSelectionModel::Select);
            }
        }
    }
    std::deque<std::optional<QString>> answers;
    QStringList asked;
    QStringList warnings;
    ui::DiskView view;
};

// A file dragged in from a file manager and dropped.
void drop(QWidget* target, const char* file)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QDir::current().absoluteFilePath(QString::fromLatin1(file)))});
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    EXPECT_TRUE(enter.isAccepted() && dropped.isAccepted());
}

class DiskView : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = lif::newVolumeImage("WORK", 40, 1, {});
        const Bytes program = asciiFileFromProgramFile(kWorked);
        for (const char* name : {"A", "B", "BIN"}) {
            lif::putFile(base, name, program, {});
        }
        base[512 + 32 + 10] = 0; // B purged: its blocks a gap
        base[512 + 32 + 11] = 0;
        base[512 + 64 + 10] = 0xE9; // BIN: a file of type E961
        base[512 + 64 + 11] = 0x61;
        base.resize(40 * lif::kBlockSize); // the whole volume, as an emulator keeps it
        dir.write("PROG.asc", kWorked);
        dir.write("note.txt", "10 PRINT \"\xB5V \xA7\"\r\n20 END\r\n"); // windows-1252
        dir.write("long.txt", "10 PRINT \"" + std::string(300, 'Y') + "\"\r\n");
        Bytes other = lif::newVolumeImage("", 20, 1, {});
        lif::putFile(other, "C", asciiFileFromProgramFile(kWorked), {});
        lif::putFile(other, "A", asciiFileFromProgramFile(hpFile("00 06 32 30 20 45 4E 44 00 FF FF")), {});
        dir.write("other.lif", other);
        ASSERT_EQ(convert(dir, "extract other.lif C A -o ."), 0);
    }

    TempDir dir;
    Bytes base;
};

// Each row: the files selected, the answers, the action, the command
// line's arguments for the same change ("" for none), the outcome line.
TEST_F(DiskView, ActionsLeaveWhatTheCommandLineMakes)
{
    const struct {
        QStringList selected;
        std::vector<std::optional<QString>> answers;
        std::function<void(Session&)> act;
        std::string command;
        QString outcome;
        QString warning = {};
    } rows[] = {
        {{"A"}, {"Z"}, [](Session& s) { s.view.renameAction->trigger(); }, "rename v.lif A Z", "Renamed A to Z."},
        {{"A"},
         {"BIN"},
         [](Session& s) { s.view.renameAction->trigger(); },
         "",
         "Could not rename A.",
         "Could not rename A.\nThe volume already holds BIN."},
        {{"A", "BIN"}, {"yes"}, [](Session& s) { s.view.purgeAction->trigger(); }, "purge v.lif A BIN", "Purged BIN."},
        {{"A"}, {"no"}, [](Session& s) { QTest::keyClick(s.view.files(), Qt::Key_Delete); }, "", ""},
        {{"A"},
         {"yes"},
         [](Session& s) { QTest::keyClick(s.view.files(), Qt::Key_Delete); },
         "purge v.lif A",
         "Purged A."},
        {{}, {}, [](Session& s) { s.view.packAction->trigger(); }, "pack v.lif", "Packed: 35 blocks free in one gap."},
        {{}, {"NEW"}, [](Session& s) { s.view.labelAction->trigger(); }, "label v.lif NEW", "Labelled NEW."},
        {{},
         {},
         [](Session& s) { drop(s.view.files()->viewport(), "PROG.asc"); },
         "write v.lif --from hp PROG.asc",
         "Inserted PROG.asc as PROG."},
        {{},
         {},
         [](Session& s) { s.view.insertFiles({"note.txt"}); },
         "write v.lif --code-page windows-1252 note.txt",
         "Inserted note.txt as note."},
        {{}, {"out/C"}, [](Session& s) { s.view.insertAction->trigger(); }, "insert v.lif out/C", "Inserted C as C."},
        {{}, {"no"}, [](Session& s) { s.view.insertFiles({"out/A"}); }, "", ""},
        {{},
         {"yes"},
         [](Session& s) { s.view.insertFiles({"out/A"}); },
         "insert v.lif --replace out/A",
         "Inserted A as A."},
        {{},
         {},
         [](Session& s) {
             s.view.insertFiles({"long.txt", "v.lif"});
         },
         "",
         "Could not insert v.lif.",
         "Could not insert long.txt.\nLine 1 (10 PRINT \"YYYYYY...) is 311 characters long; HP BASIC ASCII allows at "
         "most 255.|Could not insert v.lif.\nThat is the disk image itself."},
    };
    // The exchange forms extracted above go into a folder of their own.
    std::filesystem::create_directory(dir / "out");
    for (const char* name : {"C", "A"}) {
        std::filesystem::rename(dir / name, dir / "out" / name);
    }
    const QString wasCurrent = QDir::currentPath();
    for (const auto& row : rows) {
        dir.write("v.lif", base);
        dir.write("cli.lif", base);
        if (!row.command.empty()) {
            std::string command = row.command;
            command.replace(command.find("v.lif"), 5, "cli.lif");
            ASSERT_EQ(convert(dir, command), 0) << command;
        }
        QDir::setCurrent(QString::fromStdString(dir.path().string()));
        Session s((dir / "v.lif").string());
        s.view.show();
        QApplication::setActiveWindow(&s.view);
        s.select(row.selected);
        s.answers.assign(row.answers.begin(), row.answers.end());
        row.act(s);
        const std::string about = row.command.empty() ? row.outcome.toStdString() : row.command;
        EXPECT_TRUE(s.answers.empty()) << about << ": not all asked";
        EXPECT_EQ(s.view.outcome->text(), row.outcome) << about;
        EXPECT_EQ(s.warnings.join('|'), row.warning) << about;
        const Bytes made = dir.read("v.lif");
        EXPECT_EQ(withoutDates(made), withoutDates(dir.read("cli.lif"))) << about;
        EXPECT_EQ(findingsText(checkVolumeImage(made)), "") << about;
        // The catalogue shown is the image's.
        EXPECT_EQ(s.view.files()->topLevelItemCount(), static_cast<int>(lif::parseImage(made).files.size())) << about;
    }
    QDir::setCurrent(wasCurrent);
}

// Extracting (to a folder, a drag, bare) gives the command line's files;
// a capture and a damaged volume are shown and read, never written.
TEST_F(DiskView, FilesComeOutAsTheCommandLineGivesThem)
{
    dir.write("v.lif", base);
    std::filesystem::create_directories(dir / "cli");
    ASSERT_EQ(convert(dir, "extract v.lif A BIN -o cli"), 0);
    {
        Session s((dir / "v.lif").string());
        s.select({"A", "BIN"});
        s.answers = {QString::fromStdString(dir.path().string()), "no"}; // the folder; A there already: kept
        dir.write("A", "mine");
        s.view.extractAction->trigger();
        EXPECT_EQ(textOf(dir.read("A")) + "|" + s.asked.last().toStdString(),
                  "mine|question: " + (dir / "A").string() + " already exists. Replace it?");
        EXPECT_EQ(dir.read("BIN"), dir.read("cli/BIN"));
        std::unique_ptr<QMimeData> dragged(s.view.dragData());
        ASSERT_EQ(dragged->urls().size(), 2);
        for (const QUrl& url : dragged->urls()) {
            EXPECT_EQ(readFileBytes(url.toLocalFile().toStdString()), dir.read("cli/" + url.fileName().toStdString()));
        }
        s.answers = {QString::fromStdString((dir / "cli").string()), "yes", "yes"};
        ASSERT_EQ(convert(dir, "extract --bare v.lif A -o A.bare"), 0);
        s.view.extractBareAction->trigger();
        EXPECT_EQ(dir.read("cli/A"), dir.read("A.bare"));
    }

    // A capture of it lacking a block of A; and a volume whose BIN runs past its end.
    const lif::Volume volume = lif::parseImage(base);
    dir.write("v.td0", teleDiskOf(base, volume.named("A").start, SIZE_MAX));
    Bytes damaged = base;
    damaged[512 + 64 + 16 + 3] = 0x60;
    dir.write("bad.lif", damaged);
    for (const std::string image : {"v.td0", "bad.lif"}) {
        Session s((dir / image).string());
        const Bytes before = dir.read(image);
        s.select({"A"});
        const bool capture = image == "v.td0";
        EXPECT_EQ(
            s.view.summary->text().contains(capture ? "A TeleDisk capture: read here, never written." : "Damaged: "),
            true)
            << s.view.summary->text().toStdString();
        EXPECT_EQ(s.view.insertAction->isEnabled() || s.view.packAction->isEnabled() ||
                      (capture && (s.view.renameAction->isEnabled() || s.view.purgeAction->isEnabled())),
                  false)
            << image;
        s.view.insertFiles({"PROG.asc"});
        EXPECT_EQ(dir.read(image), before);
        s.select({capture ? "A" : "BIN"});
        QTest::keyClick(s.view.files(), Qt::Key_Return); // damaged: not opened, and said why
        EXPECT_THAT(s.view.outcome->text().toStdString(), HasSubstr("it cannot be read"));
        EXPECT_EQ(s.view.opened(), std::nullopt);
    }
    {
        // The capture saved as a plain image: the command line's bytes, shown now.
        ASSERT_EQ(convert(dir, "export v.td0 -o cli.lif"), 1); // says the missing block
        Session s((dir / "v.td0").string());
        s.answers = {QString::fromStdString((dir / "plain.lif").string())};
        s.view.exportAction->trigger();
        EXPECT_EQ(dir.read("plain.lif"), dir.read("cli.lif"));
        EXPECT_THAT(s.warnings.join('|').toStdString(),
                    HasSubstr("Blocks missing from the capture were written as zeros"));
        EXPECT_EQ(s.view.image(), (dir / "plain.lif").string());
        EXPECT_TRUE(s.view.insertAction->isEnabled());

        // A new image: the command line's, and never over a file.
        ASSERT_EQ(convert(dir, "new cli-new.lif --label NEW --medium 9121"), 0);
        s.answers = {"NEW\t9121", QString::fromStdString((dir / "new.lif").string())};
        s.view.newAction->trigger();
        EXPECT_EQ(withoutDates(dir.read("new.lif")), withoutDates(dir.read("cli-new.lif")));
        EXPECT_TRUE(s.view.summary->text().startsWith(QStringLiteral("Volume NEW · 9121 (1056 blocks) ·")));
        s.answers = {"\t9122", QString::fromStdString((dir / "PROG.asc").string())};
        s.view.newAction->trigger();
        EXPECT_EQ(dir.read("PROG.asc"), kWorked);
        EXPECT_EQ(s.warnings.last(), "Could not make PROG.asc.\nAlready exists; a new image never replaces a file.");
        EXPECT_EQ(s.view.image(), (dir / "new.lif").string());
    }
}

// From the window: Disks... shows the image the document came from; a
// program opened there is read into the document as the command line reads it.
TEST_F(DiskView, OpensProgramsIntoTheDocument)
{
    SettingsFolder settings;
    dir.write("v.lif", base);
    ASSERT_EQ(convert(dir, "read v.lif A --code-page windows-1252 -o a.txt"), 0);
    ui::frmMain w;
    w.show();
    w.setCodePage(CodePage::named("windows-1252"));
    w.documentOrigin().image = (dir / "v.lif").string();
    QStringList shown;
    w.onDiskView = [&](ui::DiskView& view) {
        for (int i = 0; i < view.files()->topLevelItemCount(); ++i) {
            shown << view.files()->topLevelItem(i)->text(0) + " " + view.files()->topLevelItem(i)->text(1);
        }
        view.files()->setCurrentItem(view.files()->topLevelItem(0));
        QTest::keyClick(view.files(), Qt::Key_Return);
    };
    w.cmdDisk->click();
    EXPECT_EQ(shown.join(", "), "A ASCII, BIN BDAT");
    EXPECT_EQ(CodePage::named("windows-1252").fromUtf8(w.documentText()), dir.read("a.txt"));
    EXPECT_EQ(w.windowTitle().toStdString(), "A in v.lif[*] - Varnook");
}

} // namespace
