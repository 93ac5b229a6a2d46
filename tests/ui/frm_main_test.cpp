#include "ui/frm_about.h"
#include "ui/frm_main.h"
#include "ui/number_field.h"
#include "ui/volume_dialogs.h"

#include "core/lif/lif.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <deque>

using namespace varnook;
using namespace varnook::ui;
using namespace varnook::test;

// Qt's strings as text in failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Waits, handling events, until the condition holds (5 s at most).
#define EXPECT_SOON(condition) EXPECT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }))
#define EXPECT_SOON_EQ(got, expected) EXPECT_SOON((got) == (expected)) << ::testing::PrintToString(got)

namespace {

QString setting(const char* section, const char* key)
{
    return QString::fromStdString(Module1::ReadSetting(section, key, "(none)"));
}

// Which of the numbering controls are enabled, as "chk group" flags.
QString enabling(frmMain& w)
{
    const bool group = w.Label1->isEnabled();
    if (w.Label2->isEnabled() != group || w.txtStart->isEnabled() != group || w.txtStep->isEnabled() != group) {
        return QStringLiteral("numbering group split");
    }
    return QStringLiteral("%1 %2").arg(w.chkLineNum->isEnabled() ? "chk" : "-", group ? "group" : "-");
}

// Shows the window as the program does and lets it settle into its frame.
void showSettled(frmMain& w)
{
    w.showRestored();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    QApplication::processEvents();
}

// Types the characters as keys that carry them.
void type(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent key(QEvent::KeyPress, c == '\b' ? Qt::Key_Backspace : Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &key);
    }
}

using Step = std::function<bool(QWidget*)>;

// Runs the action while answering the modal windows it opens, in order: each
// step gets the active modal window and returns whether it was the one it
// waits for. A modal window after the last step is closed, so that a test
// fails instead of hanging. True when every step was taken and no other
// modal window came.
bool answering(std::deque<Step> steps, const std::function<void()>& action)
{
    bool unexpected = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        if (steps.empty()) {
            unexpected = true;
            modal->close();
        } else if (steps.front()(modal)) {
            steps.pop_front();
        }
    });
    timer.start(10);
    action();
    return steps.empty() && !unexpected;
}

// A step that types the file's name into the file dialog, as a user does
// (the name field has the focus, so selectFile() would leave it alone, and
// typing leaves no other file selected in the list).
Step pick(const QString& path)
{
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            return false;
        }
        dialog->setDirectory(QFileInfo(path).absolutePath());
        dialog->findChild<QListView*>(QStringLiteral("listView"))->clearSelection();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QFileInfo(path).fileName());
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog keeps its own override protected
        return true;
    };
}

// A step that answers the question box, or cancels the file dialog.
Step reply(QMessageBox::StandardButton button)
{
    return [button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box != nullptr) {
            box->button(button)->click();
        } else if (button == QMessageBox::Cancel && qobject_cast<QFileDialog*>(modal) != nullptr) {
            static_cast<QDialog*>(modal)->reject();
        }
        return box != nullptr || button == QMessageBox::Cancel;
    };
}

} // namespace

class FrmMain : public ::testing::Test {
protected:
    SettingsFolder settings_;
    TempDir files_;
    QString file(const char* name) const { return QString::fromStdString((files_ / name).string()); }
};

// The defaults of a first start; Tab visits each stop once, an option
// group's selected button only, and leaves the document area.
TEST_F(FrmMain, firstStartAndTabStops)
{
    frmMain w;
    showSettled(w);
    EXPECT_TRUE(w.opReadHp->isChecked() && !w.opReadTxt->isChecked() && w.opWriteTxt->isChecked());
    EXPECT_TRUE(!w.opWriteHp->isChecked() && !w.chkLineNum->isChecked() && !w.windowIcon().isNull());
    EXPECT_EQ(enabling(w) + w.txtStart->text() + w.txtStep->text() + w.windowHandle()->title(), "- -1010Varnook");
    // A useful size, centred on the screen: 30 lines of the document show.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_SOON((w.frameGeometry().center() - screen.center()).manhattanLength() <= 2);
    EXPECT_GE(w.txtData->viewport()->height() / QFontMetrics(w.txtData->font()).lineSpacing(), 30);
    EXPECT_TRUE(!w.cmdRead->isDefault() && !w.cmdWrite->isDefault() && !w.cmdVer->isDefault());
    QStringList stops{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        stops << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(stops.join(' '),
              QStringLiteral("cmdVer cmdRead opReadHp cmdWrite opWriteTxt cboCodePage cmdDisk txtData"));
    w.opReadTxt->setChecked(true);
    w.cmdRead->setFocus();
    QTest::keyClick(w.cmdRead, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(w.opReadTxt->hasFocus() && w.opReadTxt->isChecked()); // Space keeps the choice
}

// Each row: what the user does, then which numbering controls are enabled.
TEST_F(FrmMain, enablingRulesFollowEveryAction)
{
    frmMain w;
    w.show();
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[&] { w.chkLineNum->setChecked(true); }, "- group"}, // rule 3 does not look at the read option
        {[&] { w.opReadTxt->setChecked(true); }, "chk group"},
        {[&] { QTest::mouseClick(w.chkLineNum, Qt::LeftButton); }, "chk -"},
        {[&] { QTest::mouseClick(w.chkLineNum, Qt::LeftButton); }, "chk group"},
        {[&] { QTest::mouseClick(w.opReadHp, Qt::LeftButton, {}, QPoint(5, 8)); }, "- -"},
        {[&] { QTest::mouseClick(w.chkLineNum, Qt::LeftButton); }, "- -"}, // disabled: nothing happens
        {[&] { w.chkLineNum->setChecked(false); }, "- -"},
        {[&] { QTest::mouseClick(w.opReadTxt, Qt::LeftButton, {}, QPoint(5, 8)); }, "chk -"},
    };
    for (const auto& [step, expected] : steps) {
        step();
        EXPECT_EQ(enabling(w), QString::fromLatin1(expected));
    }
}

// Typing takes digits and characters of two bytes in the code page, up
// to the length; Delete (which X11 and Wayland send with the text U+007F)
// edits; a stored text is taken whole; focus selects all.
TEST_F(FrmMain, numberFieldsTakeDoubleByteCharactersAndDelete)
{
    NumberField field(6, CodePage::named("windows-932"), nullptr);
    type(&field, QStringLiteral("1a\u3042\u65E5\u8A9E-234"));
    EXPECT_EQ(field.text(), QStringLiteral("1\u3042\u65E5\u8A9E23"));
    field.setCursorPosition(0);
    QKeyEvent deleteWithText(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    QApplication::sendEvent(&field, &deleteWithText);
    EXPECT_EQ(field.text(), QStringLiteral("\u3042\u65E5\u8A9E23"));
    field.setStoredText(QStringLiteral("1234567"));
    field.end(false);
    type(&field, QStringLiteral("\b89"));
    EXPECT_EQ(field.text(), QStringLiteral("123456"));
    NumberField western(6, CodePage::named("windows-1252"), nullptr);
    type(&western, QStringLiteral("\u00E9\u3042\u8A9E3")); // what the page lacks is no character of one byte
    EXPECT_EQ(western.text(), QStringLiteral("3"));
    frmMain w;
    showSettled(w);
    w.opReadTxt->setChecked(true);
    w.chkLineNum->setChecked(true);
    w.txtStep->setText(QStringLiteral("25"));
    w.txtStart->setFocus(Qt::TabFocusReason); // left before its select-all comes: it stays unselected
    QTest::mouseClick(w.txtStep, Qt::LeftButton, {}, QPoint(2, 5)); // focus by a click selects all too
    EXPECT_SOON_EQ(w.txtStep->selectedText(), QStringLiteral("25"));
}

TEST_F(FrmMain, dropsTakeTheFirstFileAsACopy)
{
    files_.write("one.asc", hpFile("00 04 31 30 20 41 00 FF FF"));
    frmMain w;
    w.show();
    QMimeData list;
    list.setUrls({QUrl::fromLocalFile(file("one.asc")), QUrl::fromLocalFile(file("two.asc"))});
    QMimeData text;
    text.setText(QStringLiteral("10 PRINT"));
    QDropEvent textDrop(QPointF(50, 50), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &textDrop);
    QApplication::processEvents();
    EXPECT_TRUE(w.txtData->toPlainText().isEmpty());
    // Target, data, allowed actions, whether the drag is taken.
    const std::tuple<QWidget*, QMimeData*, Qt::DropActions, bool> drags[] = {
        {&w, &list, Qt::CopyAction | Qt::MoveAction, true},
        {&w, &list, Qt::MoveAction, false}, // files are copied, never moved
        {&w, &text, Qt::CopyAction, false},
        {w.txtData->viewport(), &list, Qt::CopyAction, true}, // passed on to the window
        {w.txtData->viewport(), &text, Qt::CopyAction, true}, // the editor's own
    };
    for (const auto& [target, data, actions, taken] : drags) {
        QDragEnterEvent drag(QPoint(10, 10), actions, data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drag);
        EXPECT_EQ(drag.isAccepted(), taken);
    }
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &list, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &drop);
    EXPECT_SOON_EQ(QString::fromStdString(w.documentText()), QStringLiteral("10 A\r\n"));
    EXPECT_EQ(setting("Load", "Dir"), file("one.asc"));
}

// The twelve values, the normal rectangle of a maximized window, a
// minimized window stored as normal.
TEST_F(FrmMain, remembersTheWindow)
{
    QRect outer;
    {
        frmMain w;
        showSettled(w);
        w.move(60, 45);
        w.resize(640, 480);
        w.opReadTxt->setChecked(true);
        w.opWriteHp->setChecked(true);
        w.chkLineNum->setChecked(true);
        w.txtStart->setText(QStringLiteral("1000"));
        w.txtStep->setText(QString());
        const int page = w.cboCodePage->findText(QStringLiteral("ibm-850"));
        w.cboCodePage->setCurrentIndex(page);
        emit w.cboCodePage->activated(page); // as the user's choice
        QApplication::processEvents();
        outer = w.frameGeometry();
        w.showMaximized();
        EXPECT_SOON(w.isMaximized());
        w.close();
    }
    QStringList stored;
    for (const char* key : {"State", "Top", "Left", "Height", "Width"}) {
        stored << setting("Window", key);
    }
    for (const char* key : {"ReadHP", "ReadTXT", "WriteHP", "WriteTXT", "AddLineNum", "Start", "Step"}) {
        stored << setting("Option", key);
    }
    EXPECT_EQ(stored.join(' '), QStringLiteral("2 %1 %2 %3 %4 False True True False 1 1000 (none)")
                                    .arg(outer.top() * 15)
                                    .arg(outer.left() * 15)
                                    .arg(outer.height() * 15)
                                    .arg(outer.width() * 15));
    {
        frmMain w;
        w.showRestored();
        EXPECT_SOON(w.isMaximized());
        EXPECT_TRUE(w.opReadTxt->isChecked() && w.opWriteHp->isChecked() && !w.opWriteTxt->isChecked());
        EXPECT_EQ(enabling(w) + " " + w.txtStart->text() + " " + w.txtStep->text() + " " + w.cboCodePage->currentText(),
                  "chk group 1000 10 ibm-850");
        w.showNormal();
        EXPECT_SOON_EQ(w.frameGeometry(), outer);
        w.showMinimized();
        EXPECT_SOON(w.isMinimized());
        w.close();
    }
    EXPECT_EQ(setting("Window", "State"), QStringLiteral("0"));
    Module1::WriteSetting("Window", "State", "1");
    frmMain w;
    w.showRestored();
    EXPECT_SOON(w.isMinimized());
}

// Entirely off every screen, or measures no screen could hold: the
// primary screen. Partly off: as stored.
TEST_F(FrmMain, windowOffEveryScreenOpensOnThePrimaryOne)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const char* left : {"-900000", "1e400", "-1e30", "nan", "2147483648", "-1500"}) {
        Module1::WriteSetting("Window", "Left", left);
        Module1::WriteSetting("Window", "Top", left == std::string("-1500") ? "30" : "900000");
        frmMain w;
        w.show();
        EXPECT_SOON(w.frameGeometry().top() == 2 || screen.contains(w.frameGeometry().topLeft())) << left;
    }
}

TEST_F(FrmMain, aboutShowsTheVersion)
{
    frmMain w;
    w.show();
    QTimer::singleShot(0, [] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        EXPECT_TRUE(about != nullptr && about->cmdOK->isDefault());
        EXPECT_EQ(about->lblVersion->text() + " " + about->windowTitle(),
                  "Ver. " VARNOOK_VERSION " Version Information");
        about->cmdOK->click();
    });
    w.cmdVer_Click();
}

// Every byte of every single-byte Windows code page the locale can choose
// (undefined ones included) through the real document area, written and
// read back by the buttons.
TEST_F(FrmMain, everyByteSurvivesTheDocumentArea)
{
    for (const QByteArray locale : {"th", "cs", "ru", "en_US", "el", "tr", "he", "ar", "lt", "vi"}) {
        qputenv("LC_ALL", locale + ".UTF-8");
        const CodePage page = CodePage::fromEnvironment();
        frmMain w;
        qunsetenv("LC_ALL");
        w.show();
        Bytes all = lineBytes();
        for (const int b : {0x0D, 0x0A, 0xA0, 0x0D, 0x0A}) {
            all.push_back(static_cast<std::uint8_t>(b));
        }
        const Bytes big = program(300000); // more than one piece of the document area
        all.insert(all.end(), big.begin(), big.end());
        w.setDocumentText(page.toUtf8(all));
        w.opWriteHp->setChecked(true);
        w.CommonDialog1.answer = [&](bool) { return file("ALL.asc"); };
        QTest::mouseClick(w.cmdWrite, Qt::LeftButton);
        EXPECT_EQ(w.CommonDialog1.Filter + QString::number(w.CommonDialog1.FilterIndex),
                  QString::fromUtf8(kHpFileTypes) + "5");
        w.txtData->clear();
        w.opReadHp->setChecked(true);
        QTest::mouseClick(w.cmdRead, Qt::LeftButton);
        // An edit, undone, makes the window read the text area itself.
        QTest::keyClick(w.txtData, Qt::Key_X);
        QTest::keyClick(w.txtData, Qt::Key_Backspace);
        EXPECT_EQ(page.fromUtf8(w.documentText()), all);
        EXPECT_EQ(w.StatusBar1Panel1->text(), QStringLiteral("Complete"));
        EXPECT_TRUE(w.ProgressBar1->value() == 0 && !w.Timer1->isActive() && w.isEnabled());
    }
}

// Saving over a file asks first, and No goes back to the dialog; saving
// HP BASIC ASCII into a disk image asks nothing, as the image is kept.
TEST_F(FrmMain, saveDialogAsksOnlyBeforeReplacing)
{
    files_.write("old.txt", "old");
    files_.write("disk.lif", lif::newVolumeImage("", 40, 1, {}));
    frmMain w;
    w.show();
    w.txtData->setPlainText(QStringLiteral("10 NEW"));
    EXPECT_TRUE(
        answering({pick(file("old.txt")), reply(QMessageBox::No), pick(file("old.txt")), reply(QMessageBox::Yes)},
                  [&] { w.cmdWrite_Click(); }));
    EXPECT_EQ(files_.read("old.txt"), bytesOf("10 NEW"));
    w.opWriteHp->setChecked(true);
    w.volumeAnswer = [](const std::string&) { return std::optional<std::string>("NEW"); };
    EXPECT_TRUE(answering({pick(file("disk.lif"))}, [&] { w.cmdWrite_Click(); }));
    EXPECT_EQ(lif::readVolume(files_ / "disk.lif").files.size(), 1u);
}

// The name dialog says
// whether it adds or replaces a file, and refuses a name of another type.
TEST_F(FrmMain, volumeDialogs)
{
    Bytes image = lif::newVolumeImage("WORK", 40, 1, {});
    for (const char* name : {"PROG", "BIN", "NEXT"}) {
        lif::putFile(image, name, asciiFileFromProgramFile(hpFile("00 01 41 00 00 FF FF")), {});
    }
    image[512 + 32 + 10] = 0xE0; // BIN becomes a file of another type
    files_.write("work.lif", image);
    const lif::Volume volume = lif::readVolume(files_ / "work.lif");
    QString seen;
    std::optional<std::string> chosen;
    const auto nameAnswer = [&](const QString& typed) -> Step {
        return [&seen, typed](QWidget* modal) {
            auto* name = modal->findChild<QLineEdit*>(QStringLiteral("volumeFileName"));
            auto* ok = modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            seen = name->text();
            const auto* verdict = modal->findChild<QLabel*>(QStringLiteral("volumeVerdict"));
            for (const char* text : {"PROG", "BIN", "NEW_1", "9X", "TREK-85", "prog"}) {
                name->setText(QString::fromLatin1(text));
                seen += " | " + verdict->text() + (ok->isEnabled() ? " (ok)" : "");
            }
            QTest::keyClicks(name, QStringLiteral("."));
            seen += " | " + name->text() + ": " + verdict->text();
            name->setText(typed);
            typed.isEmpty() ? static_cast<QDialog*>(modal)->reject() : ok->click();
            return true;
        };
    };
    EXPECT_TRUE(answering({nameAnswer(QStringLiteral("NEW_1"))},
                          [&] { chosen = ui::askVolumeFileName(nullptr, volume, "PROG"); }));
    EXPECT_EQ(chosen, std::optional<std::string>("NEW_1"));
    EXPECT_EQ(seen, QStringLiteral("PROG | The file PROG in the volume will be replaced. (ok) | BIN is a file of "
                                   "another type (E001); it cannot be replaced. | A new file NEW_1 will be added "
                                   "to the volume. (ok) |  | A new file TREK-85 will be added to the volume. (ok) | A "
                                   "new file prog will be added to the volume. It differs from PROG only in case. "
                                   "(ok) | prog: A name is 1 to 10 letters, digits, _ and -, starting with a letter: "
                                   "that character cannot be typed here."));
    EXPECT_TRUE(answering({nameAnswer(QString())}, [&] { chosen = ui::askVolumeFileName(nullptr, volume, "PROG"); }));
    EXPECT_EQ(chosen, std::nullopt);
}

// Unwritten edits: closing and Read File ask first; Cancel keeps
// everything, Write goes on only once the edits are written, Discard
// goes on. The title names the file and marks the edits.
TEST_F(FrmMain, editsAreNeverLostWithoutAQuestion)
{
    frmMain w;
    w.show();
    w.opReadTxt->setChecked(true); // writing TXT, no numbering: as on a first start
    QTest::keyClicks(w.txtData, QStringLiteral("10 END"));
    files_.write("other.txt", "20 OTHER");
    EXPECT_TRUE(answering({reply(QMessageBox::Cancel)}, [&] { EXPECT_TRUE(!w.close()); }));
    EXPECT_TRUE(answering({reply(QMessageBox::Save), reply(QMessageBox::Cancel)}, [&] { w.ReadFile(file("x.txt")); }));
    EXPECT_EQ(w.txtData->toPlainText() + w.windowHandle()->title(), QStringLiteral("10 ENDVarnook*"));
    EXPECT_TRUE(answering({reply(QMessageBox::Save), pick(file("edit.txt")), pick(file("other.txt"))},
                          [&] { w.cmdRead_Click(); }));
    EXPECT_EQ(files_.read("edit.txt"), bytesOf("10 END"));
    EXPECT_EQ(w.txtData->toPlainText() + w.windowHandle()->title(), QStringLiteral("20 OTHERother.txt - Varnook"));
    EXPECT_TRUE(answering({}, [&] { EXPECT_TRUE(w.close()); })); // nothing unwritten: no question
    w.show();
    QTest::keyClicks(w.txtData, QStringLiteral("X"));
    EXPECT_TRUE(answering({reply(QMessageBox::Discard)}, [&] { EXPECT_TRUE(w.close()); }));
}

TEST_F(FrmMain, progressAndClosingWhileBusy)
{
    frmMain w;
    w.show();
    w.setProgressMaximum(0);
    EXPECT_TRUE(w.ProgressBar1->maximum() > w.ProgressBar1->minimum()); // no busy animation for an empty range
    w.setProgressMaximum(1000);
    ProgressCount = 250;
    w.Timer1_Timer();
    EXPECT_EQ(w.ProgressBar1->value(), 250);
    w.setBusy();
    EXPECT_TRUE(!w.close()); // closing waits while a command works
    w.setIdle();
    EXPECT_TRUE(w.close());
}
