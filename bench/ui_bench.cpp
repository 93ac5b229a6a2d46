// The window's commands on a program of MB megabytes under the offscreen
// platform:
//   varnook_ui_bench {read|write|number} FOLDER [MB]
// Prints the command's wall time and the longest time in which the window
// could not repaint (no events were processed).

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
#include <QTemporaryDir>

#include <algorithm>
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

    EventMarks() { startTimer(0); }
    void timerEvent(QTimerEvent*) override { marks.push_back(clock.elapsed()); }

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
        std::fprintf(stderr, "usage: varnook_ui_bench {read|write|number} FOLDER [MB]\n");
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
    if (command == "write") {
        window.opReadHp->setChecked(true);
        ReadProgramFile(window, page, asc);
        QApplication::processEvents(); // the window shows the program, as it would before a write
        window.opWriteHp->setChecked(true);
        window.CommonDialog1.answer = [&](bool) { return QString::fromStdString(folder + "/out.asc"); };
    } else if (command == "number") {
        window.opReadTxt->setChecked(true);
        window.chkLineNum->setChecked(true);
    } else {
        window.opReadHp->setChecked(true);
    }
    EventMarks events;
    events.clock.start();
    if (command == "write") {
        window.cmdWrite_Click();
    } else {
        ReadProgramFile(window, page, command == "number" ? txt : asc);
    }
    const qint64 total = events.clock.elapsed();
    std::printf("%-6s %2zu MB %6lld ms, longest without repainting %5lld ms, status %s\n", command.c_str(), megabytes,
                static_cast<long long>(total), static_cast<long long>(events.longestGap(total)),
                window.StatusBar1Panel1->text().toUtf8().constData());
    if (command == "write" && readFileBytes(folder + "/out.asc") != readFileBytes(asc)) {
        std::printf("the written file differs\n");
        return 1;
    }
    return 0;
}
