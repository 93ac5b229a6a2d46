// The window's commands on a program of MB megabytes (scripts/bench runs it
// under Xvfb):
//   varnook_ui_bench {read|number|write|write-txt|write-edited} FOLDER [MB]
// write-edited writes after an edit at the document's end, so that the text
// is taken out of the document area. Prints the command's wall time, the
// longest time in which the window's event loop did not answer (a probe
// timer pings it), and how many different places the progress bar showed.

#include "sample_program.h"

#include "ui/frm_main.h"

#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "operations/file_commands.h"
#include "settings/module1.h"

#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTextCursor>

#include <algorithm>
#include <functional>
#include <set>
#include <cstdio>
#include <string>
#include <vector>

using namespace varnook;

namespace {

// Marks every moment the window processes events, when it could repaint: a
// zero-interval timer fires once at each.
class EventMarks : public QObject {
public:
    QElapsedTimer clock;
    std::vector<qint64> marks;
    std::function<void()> atMark;

    EventMarks() { startTimer(0); }
    void timerEvent(QTimerEvent*) override
    {
        marks.push_back(clock.elapsed());
        if (atMark) {
            atMark();
        }
    }

    qint64 longestGap(qint64 end) const
    {
        qint64 longest = 0;
        qint64 last = 0;
        for (const qint64 mark : marks) {
            longest = std::max(longest, mark - last);
            last = mark;
        }
        return std::max(longest, end - last);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: varnook_ui_bench {read|number|write|write-txt|write-edited} FOLDER [MB]\n");
        return 2;
    }
    const std::size_t megabytes = argc == 4 ? std::stoul(argv[3]) : 10;
    const std::string command = argv[1];
    const std::string folder = argv[2];
    QApplication application(argc, argv);
    QTemporaryDir settings;
    Module1::useFolder(settings.path().toStdString());
    const CodePage page = CodePage::named("windows-1252");

    const Bytes text = bench::sampleProgram(megabytes * 1'000'000);
    const std::string asc = folder + "/ten.asc";
    const std::string txt = folder + "/ten.txt";
    replaceFile(asc, encodeHpAsciiBytes(text));
    replaceFile(txt, text);

    ui::frmMain window;
    window.show();
    QApplication::processEvents();
    const bool writing = command.starts_with("write");
    const bool asText = command == "write-txt";
    const std::string out = folder + (asText ? "/out.txt" : "/out.asc");
    if (writing) {
        window.opReadHp->setChecked(true);
        ReadProgramFile(window, page, asc);
        QApplication::processEvents(); // the window shows the program, as it would before a write
        if (command == "write-edited") {
            window.txtData->moveCursor(QTextCursor::End);
            window.txtData->insertPlainText(QStringLiteral("\n"));
            window.txtData->textCursor().deletePreviousChar();
        }
        (asText ? window.opWriteTxt : window.opWriteHp)->setChecked(true);
        window.CommonDialog1.answer = [&](bool) { return QString::fromStdString(out); };
    } else if (command == "number") {
        // Numbers past 32766 are asked about: Yes, number them.
        window.onQuestion = [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Yes; };
        window.opReadTxt->setChecked(true);
        window.chkLineNum->setChecked(true);
    } else {
        window.opReadHp->setChecked(true);
    }
    std::set<int> places;
    EventMarks events;
    events.atMark = [&] { places.insert(window.ProgressBar1->value()); };
    events.clock.start();

    if (writing) {
        window.cmdWrite_Click();
    } else {
        ReadProgramFile(window, page, command == "number" ? txt : asc);
    }
    const qint64 total = events.clock.elapsed();
    std::printf("%-12s %2zu MB %6lld ms, longest without answering %5lld ms, progress places %2zu, status %s\n",
                command.c_str(), megabytes, static_cast<long long>(total),
                static_cast<long long>(events.longestGap(total)), places.size(),
                window.StatusBar1Panel1->text().toUtf8().constData());
    if (writing && readFileBytes(out) != readFileBytes(asText ? txt : asc)) {
        std::printf("the written file differs\n");
        return 1;
    }
    return 0;
}
