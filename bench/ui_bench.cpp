// The window's commands on a 10 MB program under the offscreen platform:
//   varnook_ui_bench {read|write|number} FOLDER
// Prints the command's wall time, the longest time in which no progress timer
// tick could have been delivered (no yield; the calls that hand the whole text
// to or from the document area excluded) and how long those calls took.

#include "sample_program.h"

#include "ui/frm_main.h"

#include "core/file_io.h"
#include "core/hp_ascii.h"
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

class MeasuredWindow : public ui::frmMain {
public:
    QElapsedTimer clock;
    std::vector<qint64> ticks;
    qint64 handoff = 0; // time spent handing the text over
    std::vector<std::pair<qint64, qint64>> handoffs;

    std::vector<qint64> yields;

    void yield() override
    {
        yields.push_back(clock.elapsed());
        frmMain::yield();
    }

    MeasuredWindow()
    {
        onTimerTick = [this] { ticks.push_back(clock.elapsed()); };
    }
    void setDocumentText(std::string_view text) override
    {
        const qint64 start = clock.elapsed();
        frmMain::setDocumentText(text);
        handoffs.emplace_back(start, clock.elapsed());
    }
    std::string documentText() override
    {
        const qint64 start = clock.elapsed();
        std::string text = frmMain::documentText();
        handoffs.emplace_back(start, clock.elapsed());
        return text;
    }

    // The longest stretch between two chances to process events (the start,
    // every yield, the end), less the handoffs in it: the longest the timer
    // could have waited for its tick.
    qint64 longestGap(qint64 end) const
    {
        std::vector<qint64> points{0};
        points.insert(points.end(), yields.begin(), yields.end());
        points.push_back(end);
        qint64 longest = 0;
        for (std::size_t i = 1; i < points.size(); ++i) {
            qint64 gap = points[i] - points[i - 1];
            for (const auto& [from, to] : handoffs) {
                gap -= std::max<qint64>(0, std::min(to, points[i]) - std::max(from, points[i - 1]));
            }
            longest = std::max(longest, gap);
        }
        return longest;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnook_ui_bench {read|write|number} FOLDER\n");
        return 2;
    }
    const std::string command = argv[1];
    const std::string folder = argv[2];
    QApplication application(argc, argv);
    QTemporaryDir settings;
    Module1::useFolder(settings.path().toStdString());
    const CodePage page = CodePage::named("windows-1252");

    const Bytes text = bench::sampleProgram(10'000'000);
    const std::string asc = folder + "/ten.asc";
    const std::string txt = folder + "/ten.txt";
    replaceFile(asc, encodeHpAsciiBytes(text));
    replaceFile(txt, text);

    MeasuredWindow window;
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
    window.ticks.clear();
    window.yields.clear();
    window.handoffs.clear();
    window.clock.start();
    if (command == "write") {
        window.cmdWrite_Click();
    } else {
        ReadProgramFile(window, page, command == "number" ? txt : asc);
    }
    const qint64 total = window.clock.elapsed();
    qint64 handoff = 0;
    for (const auto& [from, to] : window.handoffs) {
        handoff += to - from;
    }
    std::printf("%-7s %5lld ms, %3zu ticks, longest stretch without a tick %4lld ms, handing the text over %4lld ms, "
                "status %s\n",
                command.c_str(), static_cast<long long>(total), window.ticks.size(),
                static_cast<long long>(window.longestGap(total)), static_cast<long long>(handoff),
                window.StatusBar1Panel1->text().toUtf8().constData());
    if (command == "write" && readFileBytes(folder + "/out.asc") != readFileBytes(asc)) {
        std::printf("the written file differs\n");
        return 1;
    }
    return 0;
}
