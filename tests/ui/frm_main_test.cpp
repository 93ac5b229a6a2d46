#include "ui/frm_about.h"
#include "ui/frm_main.h"
#include "ui/number_field.h"

#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <fstream>
#include <memory>

using namespace varnook;
using namespace varnook::ui;
using varnook::test::hpFile;

namespace {

const Bytes kWorkedExample = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");

void writeFile(const QString& path, const Bytes& bytes)
{
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

std::unique_ptr<QMimeData> files(const QStringList& paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    data->setUrls(urls);
    return data;
}

} // namespace

class FrmMainTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settings_;
    QTemporaryDir files_;
    QString file(const QString& name) const { return files_.filePath(name); }

private slots:
    void init()
    {
        QFile::remove(settings_.filePath("config.ini"));
        Module1::useFolder(settings_.path().toStdString());
    }
    void cleanup() { Module1::useFolder(std::nullopt); }

    void firstStartShowsTheDefaults()
    {
        frmMain w;
        w.showRestored();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Varnook"));
        QVERIFY(w.opReadHp->isChecked());
        QVERIFY(!w.opReadTxt->isChecked());
        QVERIFY(w.opWriteTxt->isChecked());
        QVERIFY(!w.opWriteHp->isChecked());
        QVERIFY(!w.chkLineNum->isChecked());
        QCOMPARE(enabling(w), QStringLiteral("- -"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("10"));
        QCOMPARE(w.txtStep->text(), QStringLiteral("10"));
        QTRY_COMPARE(w.frameGeometry().size(), QSize(537, 418)); // the minimum, 8055 x 6270 twips
        QCOMPARE(QApplication::focusWidget(), w.cmdVer);
        QVERIFY(!w.cmdRead->isDefault() && !w.cmdWrite->isDefault() && !w.cmdVer->isDefault());
        QVERIFY(w.txtData->toPlainText().isEmpty());
        QVERIFY(!w.windowIcon().isNull());
    }

    void enablingRulesFollowEveryAction()
    {
        frmMain w;
        w.show();
        QCOMPARE(enabling(w), QStringLiteral("- -"));
        w.chkLineNum->setChecked(true);
        QCOMPARE(enabling(w), QStringLiteral("- group")); // rule 3 does not look at the read option
        w.opReadHp->setChecked(false);
        w.opReadTxt->setChecked(true);
        QCOMPARE(enabling(w), QStringLiteral("chk group"));
        QTest::mouseClick(w.chkLineNum, Qt::LeftButton);
        QCOMPARE(enabling(w), QStringLiteral("chk -"));
        QTest::mouseClick(w.chkLineNum, Qt::LeftButton);
        QCOMPARE(enabling(w), QStringLiteral("chk group"));
        QTest::mouseClick(w.opReadHp, Qt::LeftButton, {}, QPoint(5, 8));
        QCOMPARE(enabling(w), QStringLiteral("- -"));
        QVERIFY(w.chkLineNum->isChecked()); // keeps its check
        QTest::mouseClick(w.chkLineNum, Qt::LeftButton); // disabled: nothing happens
        QVERIFY(w.chkLineNum->isChecked());
        w.chkLineNum->setChecked(false);
        QTest::mouseClick(w.opReadTxt, Qt::LeftButton, {}, QPoint(5, 8));
        QCOMPARE(enabling(w), QStringLiteral("chk -"));
        QVERIFY(w.FrameLNOP->isEnabled());
    }

    void numberFieldsTakeDigitsOnly()
    {
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.opReadTxt->setChecked(true);
        w.chkLineNum->setChecked(true);
        w.txtStart->clear();
        w.txtStart->setFocus();
        QTest::keyClicks(w.txtStart, QStringLiteral("1a2"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("12"));
        QTest::keyClicks(w.txtStart, QStringLiteral(" -.xyZ"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("12"));
        QTest::keyClick(w.txtStart, Qt::Key_Backspace);
        QCOMPARE(w.txtStart->text(), QStringLiteral("1"));
        QTest::keyClicks(w.txtStart, QStringLiteral("234567"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("123456")); // a seventh character is refused
        w.txtStep->clear();
        QTest::keyClicks(w.txtStep, QStringLiteral("9876543"));
        QCOMPARE(w.txtStep->text(), QStringLiteral("98765"));

        // A paste is not filtered, only cut to the length (the offscreen
        // platform has no clipboard, so the text is inserted as a paste does).
        QCOMPARE(NumberField::KeyPress(0x16), 0x16); // Ctrl+V reaches the field
        w.txtStart->clear();
        w.txtStart->insert(QStringLiteral("abcdefgh"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("abcdef"));

        QCOMPARE(NumberField::KeyPress('5'), int('5'));
        QCOMPARE(NumberField::KeyPress('\b'), int('\b'));
        QCOMPARE(NumberField::KeyPress(0x8140), 0x8140); // double-byte codes pass
        QCOMPARE(NumberField::KeyPress('+'), 0);

        // Delete comes with the text U+007F on X11 and Wayland: an editing
        // key, not a typed character.
        w.txtStart->setText(QStringLiteral("123"));
        w.txtStart->setCursorPosition(0);
        QTest::keyClick(w.txtStart, Qt::Key_Delete, {}, 0);
        QKeyEvent deleteWithText(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
        QApplication::sendEvent(w.txtStart, &deleteWithText);
        QCOMPARE(w.txtStart->text(), QStringLiteral("3"));
    }

    // Characters are judged by their form in the code page: a double-byte
    // character passes, one byte that is no digit does not.
    void numberFieldsJudgeTheCodePageForm_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("932 hiragana, kanji") << "windows-932" << QStringLiteral("1\u3042\u65E5\u8A9E") << QStringLiteral("1\u3042\u65E5\u8A9E");
        QTest::newRow("932 half-width and missing") << "windows-932" << QStringLiteral("\uFF71\u00E9x2") << QStringLiteral("2");
        QTest::newRow("1252 letters") << "windows-1252" << QStringLiteral("\u00E9\u3042\u8A9E3") << QStringLiteral("3");
    }

    void numberFieldsJudgeTheCodePageForm()
    {
        QFETCH(QString, page);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        NumberField field(6, CodePage::named(page.toStdString()), nullptr);
        for (const QChar c : typed) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(&field, &key);
        }
        QCOMPARE(field.text(), kept);
    }

    // A stored text longer than the field comes back whole; typing cannot
    // make it longer, and once edited down the limit holds again.
    void storedNumberTextsAreNotCut()
    {
        Module1::WriteSetting("Option", "Start", "1234567");
        Module1::WriteSetting("Option", "Step", "<<<1");
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.txtStart->text(), QStringLiteral("1234567"));
        QCOMPARE(w.txtStep->text(), QStringLiteral("<<<1"));
        w.opReadTxt->setChecked(true);
        w.chkLineNum->setChecked(true);
        w.txtStart->setFocus();
        w.txtStart->end(false);
        QTest::keyClicks(w.txtStart, QStringLiteral("8"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("1234567"));
        QTest::keyClick(w.txtStart, Qt::Key_Backspace);
        QTest::keyClicks(w.txtStart, QStringLiteral("89"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("123456"));
        w.close();
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Option", "Step", "")), QStringLiteral("<<<1"));
    }

    // Each option group is one tab stop, its selected button; the document
    // area passes Tab on.
    void tabStopsAreTheSelectedButtons()
    {
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.cmdVer);
        QStringList stops;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            stops << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(stops.join(' '), QStringLiteral("cmdRead opReadHp cmdWrite opWriteTxt txtData cmdVer"));
        w.opReadTxt->setChecked(true);
        w.cmdRead->setFocus();
        QTest::keyClick(w.cmdRead, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.opReadTxt);
        QTest::keyClick(w.opReadTxt, Qt::Key_Space);
        QVERIFY(w.opReadTxt->isChecked()); // Space keeps the choice
    }

    void numberFieldsSelectAllOnFocus()
    {
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.opReadTxt->setChecked(true);
        w.chkLineNum->setChecked(true);
        w.txtStart->setText(QStringLiteral("100"));
        w.cmdVer->setFocus();
        w.txtStart->setFocus(Qt::TabFocusReason);
        QCOMPARE(w.txtStart->selectedText(), QStringLiteral("100"));
        QTest::keyClicks(w.txtStart, QStringLiteral("7"));
        QCOMPARE(w.txtStart->text(), QStringLiteral("7")); // typing replaces the selection

        w.txtStep->setText(QStringLiteral("25"));
        QTest::mouseClick(w.txtStep, Qt::LeftButton, {}, QPoint(2, 5));
        QTRY_COMPARE(w.txtStep->selectedText(), QStringLiteral("25"));

        w.txtStep->clear();
        w.cmdVer->setFocus();
        w.txtStep->setFocus(Qt::TabFocusReason);
        QVERIFY(!w.txtStep->hasSelectedText());
        QCOMPARE(w.txtStep->cursorPosition(), 0);
    }

    void dropsTakeTheFirstFileAsACopy()
    {
        writeFile(file("one.asc"), kWorkedExample);
        writeFile(file("two.asc"), hpFile("00 04 31 30 20 41 00 FF FF"));
        frmMain w;
        w.show();
        const auto list = files({file("one.asc"), file("two.asc"), file("three.asc")});
        QDragEnterEvent copyable(QPoint(50, 50), Qt::CopyAction | Qt::MoveAction, list.get(), Qt::LeftButton, {});
        QApplication::sendEvent(&w, &copyable);
        QVERIFY(copyable.isAccepted());
        QCOMPARE(copyable.dropAction(), Qt::CopyAction);

        QDragEnterEvent moveOnly(QPoint(50, 50), Qt::MoveAction, list.get(), Qt::LeftButton, {});
        QApplication::sendEvent(&w, &moveOnly);
        QVERIFY(!moveOnly.isAccepted());
        QCOMPARE(frmMain::CheckFileDrag(list.get(), Qt::MoveAction), Qt::IgnoreAction);

        QMimeData text;
        text.setText(QStringLiteral("10 PRINT"));
        QDragEnterEvent textDrag(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &textDrag);
        QVERIFY(!textDrag.isAccepted());
        QCOMPARE(frmMain::CheckFileDrag(&text, Qt::CopyAction), Qt::IgnoreAction);
        QDropEvent textDrop(QPointF(50, 50), Qt::CopyAction, &text, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &textDrop);
        QApplication::processEvents();
        QVERIFY(w.txtData->toPlainText().isEmpty());

        w.ReadDroppedFile(list.get());
        QCOMPARE(QString::fromStdString(w.documentText()), QStringLiteral("10 BEEP\r\n20 END\r\n"));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Load", "Dir", "")), file("one.asc"));
        w.ReadDroppedFile(&text);
        QCOMPARE(QString::fromStdString(w.documentText()), QStringLiteral("10 BEEP\r\n20 END\r\n"));

        // The document area passes file drags to the window, and keeps text drags.
        QDragEnterEvent onDocument(QPoint(10, 10), Qt::CopyAction, list.get(), Qt::LeftButton, {});
        QApplication::sendEvent(w.txtData->viewport(), &onDocument);
        QVERIFY(onDocument.isAccepted());
        QCOMPARE(onDocument.dropAction(), Qt::CopyAction);
        QDragEnterEvent textOnDocument(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, {});
        QApplication::sendEvent(w.txtData->viewport(), &textOnDocument);
        QVERIFY(textOnDocument.isAccepted()); // the editor takes text
    }

    void layoutFollowsTheSizeAndKeepsTheMinimum()
    {
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QApplication::processEvents();
        QCOMPARE(w.minimumSize(), QSize(529, 391));
        w.resize(300, 200);
        QCOMPARE(w.size(), QSize(529, 391));
        // At the minimum: the document area 7710 x 3920 twips, the bar 5055 wide.
        QCOMPARE(w.txtData->geometry(), QRect(8, 104, 514, 261));
        QCOMPARE(w.ProgressBar1->geometry(), QRect(172, 369, 337, 21));
        for (const QSize size : {QSize(800, 600), QSize(1200, 900), QSize(530, 1000)}) {
            w.resize(size);
            QCOMPARE(w.txtData->geometry(), QRect(8, 104, size.width() - 15, size.height() - 130));
            QCOMPARE(w.ProgressBar1->geometry().top(), size.height() - 22);
            QCOMPARE(w.ProgressBar1->geometry().right(), size.width() - 20 - 1);
            QCOMPARE(w.StatusBar1->geometry(), QRect(0, size.height() - 25, size.width(), 25));
        }
        // The top controls never move.
        QCOMPARE(w.Frame1->geometry(), QRect(8, 8, 217, 93));
        QCOMPARE(w.cmdVer->geometry(), QRect(464, 40, 57, 17));
    }

    void remembersTheTwelveValues()
    {
        QRect outer;
        {
            frmMain w;
            w.showRestored();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.move(60, 45);
            w.resize(640, 480);
            w.opReadTxt->setChecked(true);
            w.opWriteHp->setChecked(true);
            w.chkLineNum->setChecked(true);
            w.txtStart->setText(QStringLiteral("1000"));
            w.txtStep->setText(QString());
            QApplication::processEvents();
            outer = w.frameGeometry();
            w.close();
        }
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "State", "")), QStringLiteral("0"));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "Width", "")),
                 QString::number(outer.width() * 15));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "Height", "")),
                 QString::number(outer.height() * 15));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "Left", "")), QString::number(outer.left() * 15));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Option", "ReadTXT", "")), QStringLiteral("True"));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Option", "ReadHP", "")), QStringLiteral("False"));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Option", "AddLineNum", "")), QStringLiteral("1"));
        {
            frmMain w;
            w.showRestored();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTRY_COMPARE(w.frameGeometry(), outer);
            QVERIFY(w.opReadTxt->isChecked());
            QVERIFY(w.opWriteHp->isChecked());
            QVERIFY(!w.opWriteTxt->isChecked());
            QVERIFY(w.chkLineNum->isChecked());
            QCOMPARE(enabling(w), QStringLiteral("chk group"));
            QCOMPARE(w.txtStart->text(), QStringLiteral("1000"));
            QCOMPARE(w.txtStep->text(), QStringLiteral("10")); // an empty box comes back as the default
        }
    }

    void maximizedAndMinimizedWindows()
    {
        int normalWidth = 0;
        {
            frmMain w;
            w.showRestored();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.resize(600, 450);
            QApplication::processEvents();
            normalWidth = w.frameGeometry().width();
            w.showMaximized();
            QTRY_VERIFY(w.isMaximized());
            w.close();
        }
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "State", "")), QStringLiteral("2"));
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "Width", "")),
                 QString::number(normalWidth * 15)); // the normal rectangle
        {
            frmMain w;
            w.showRestored();
            QTRY_VERIFY(w.isMaximized());
            w.showMinimized();
            QTRY_VERIFY(w.isMinimized());
            w.close();
        }
        QCOMPARE(QString::fromStdString(Module1::ReadSetting("Window", "State", "")), QStringLiteral("0")); // a minimized window is stored as normal
        Module1::WriteSetting("Window", "State", "1");
        frmMain w;
        w.showRestored();
        QTRY_VERIFY(w.isMinimized());
    }

    void windowOffEveryScreenOpensOnThePrimaryOne()
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        // Entirely off, or measures no screen could hold: the primary screen.
        for (const char* left : {"-900000", "1e400", "-1e30", "nan", "2147483648"}) {
            Module1::WriteSetting("Window", "Left", left);
            Module1::WriteSetting("Window", "Top", "900000");
            frmMain w;
            w.show();
            QTRY_VERIFY2(screen.contains(w.frameGeometry().topLeft()), left);
        }
        Module1::WriteSetting("Window", "Left", "-1500"); // partly off: applied as it is
        Module1::WriteSetting("Window", "Top", "30");
        frmMain partly;
        partly.show();
        QTRY_COMPARE(partly.frameGeometry().top(), 2);
        QVERIFY(partly.frameGeometry().left() < 0); // the offscreen platform pulls it in a little
    }

    void aboutShowsTheVersionEachTime()
    {
        for (int i = 0; i < 2; ++i) {
            frmAbout about;
            QCOMPARE(about.lblVersion->text(), QStringLiteral("Ver. 2.5.0"));
            QCOMPARE(about.windowTitle(), QStringLiteral("Version Information"));
            QCOMPARE(about.size(), QSize(382, 148));
            QVERIFY(about.cmdOK->isDefault());
            about.show();
            QVERIFY(QTest::qWaitForWindowActive(&about));
            QTest::keyClick(&about, i == 0 ? Qt::Key_Escape : Qt::Key_Return);
            QVERIFY(!about.isVisible());
        }
        frmMain w;
        w.show();
        QTimer::singleShot(0, [] {
            auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
            QVERIFY(about != nullptr);
            about->cmdOK->click();
        });
        w.cmdVer_Click();
    }

    void readsAndWritesThroughTheRealWindow()
    {
        writeFile(file("PROG.asc"), kWorkedExample);
        frmMain w;
        w.show();
        w.CommonDialog1.answer = [&](bool save) { return save ? file("COPY.asc") : file("PROG.asc"); };
        QTest::mouseClick(w.cmdRead, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(w.documentText()), QStringLiteral("10 BEEP\r\n20 END\r\n"));
        QCOMPARE(w.StatusBar1Panel1->text(), QStringLiteral("Complete"));
        QCOMPARE(w.ProgressBar1->value(), 0);
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(w.isEnabled());

        w.opWriteHp->setChecked(true);
        QTest::mouseClick(w.cmdWrite, Qt::LeftButton);
        QCOMPARE(readFile(file("COPY.asc")), kWorkedExample);
        QCOMPARE(w.CommonDialog1.Filter, QString::fromUtf8(kHpFileTypes));
        QCOMPARE(w.CommonDialog1.FilterIndex, 5);

        // A cancelled dialog changes nothing.
        w.CommonDialog1.answer = [](bool) { return QString(); };
        w.opWriteTxt->setChecked(true);
        QTest::mouseClick(w.cmdWrite, Qt::LeftButton);
        QCOMPARE(readFile(file("COPY.asc")), kWorkedExample);
    }

    // Every single-byte Windows code page the locale can choose, with the
    // bytes some of them leave undefined.
    void everyByteSurvivesTheDocumentArea_data()
    {
        QTest::addColumn<QByteArray>("locale");
        for (const char* locale : {"th_TH", "cs_CZ", "ru_RU", "en_US", "el_GR", "tr_TR", "he_IL", "ar_SA", "lt_LT",
                                   "vi_VN"}) {
            QTest::newRow(locale) << QByteArray(locale);
        }
    }

    void everyByteSurvivesTheDocumentArea()
    {
        QFETCH(QByteArray, locale);
        qputenv("LC_ALL", locale + ".UTF-8");
        const CodePage page = CodePage::fromEnvironment();
        frmMain w;
        qunsetenv("LC_ALL");
        w.show();
        const Bytes all = test::lineBytes();
        w.setDocumentText(page.toUtf8(all) + "\r\n\u00A0\r\n");
        w.opWriteHp->setChecked(true);
        w.CommonDialog1.answer = [&](bool) { return file("ALL.asc"); };
        w.cmdWrite_Click();
        w.txtData->clear();
        w.opReadHp->setChecked(true);
        w.cmdRead_Click();
        Bytes expected = all;
        for (const int b : {0x0D, 0x0A, 0xA0, 0x0D, 0x0A}) {
            expected.push_back(static_cast<std::uint8_t>(b));
        }
        QCOMPARE(page.fromUtf8(w.documentText()), expected);
    }

    void doubleByteWarningAndClosingWhileBusy()
    {
        frmMain w;
        w.show();
        QString warned;
        w.onWarning = [&](const QString& text) { warned = text; };
        w.opWriteHp->setChecked(true);
        w.txtData->setPlainText(QStringLiteral("10 PRINT \"\u65E5\""));
        w.CommonDialog1.answer = [&](bool) { return file("never.asc"); };
        w.cmdWrite_Click();
        QCOMPARE(warned, QStringLiteral("Error!! 2 byte character is contained!"));
        QVERIFY(!QFile::exists(file("never.asc")));

        w.setBusy();
        QVERIFY(!w.close()); // closing waits while a command works
        QVERIFY(w.isVisible());
        w.setIdle();
        QVERIFY(w.close());
    }

    void progressDisplay()
    {
        frmMain w;
        w.setProgressMaximum(0);
        QCOMPARE(w.progressMaximum(), 0.0);
        QVERIFY(w.ProgressBar1->maximum() > w.ProgressBar1->minimum()); // no busy animation for an empty range
        w.setProgressMaximum(1000);
        ProgressCount = 250;
        w.Timer1_Timer();
        QCOMPARE(w.ProgressBar1->value(), 250);
        QCOMPARE(w.Timer1->interval(), 250);
    }
};

QTEST_MAIN(FrmMainTest)
#include "frm_main_test.moc"
