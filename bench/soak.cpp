// 1,000 read, convert and write cycles through the commands of the window
// (offscreen) on varied files, with the process's resident memory at the
// start and at the end: the commands must not keep anything from one run to
// the next.

#include "sample_program.h"

#include "ui/frm_main.h"

#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "operations/file_commands.h"
#include "settings/module1.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace varnook;

namespace {

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int cycles = argc > 1 ? std::stoi(argv[1]) : 1000;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("varnook-soak-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Module1::useFolder(folder);
    const CodePage page = CodePage::named("windows-1252");

    // Varied inputs: sizes from a few bytes to 2 MB, HP and TXT, good and bad.
    std::vector<std::pair<std::string, bool>> inputs; // file, read as HP
    for (const std::size_t size : {40, 5'000, 300'000, 2'000'000}) {
        const Bytes text = bench::sampleProgram(size);
        const std::string name = std::to_string(size);
        replaceFile(folder / (name + ".asc"), encodeHpAsciiBytes(text));
        replaceFile(folder / (name + ".txt"), text);
        inputs.emplace_back((folder / (name + ".asc")).string(), true);
        inputs.emplace_back((folder / (name + ".txt")).string(), false);
    }
    replaceFile(folder / "cut.asc", Bytes{0x00, 0x07, 0x41, 0x00});
    inputs.emplace_back((folder / "cut.asc").string(), true);
    inputs.emplace_back((folder / "missing.asc").string(), true);

    long start = 0;
    int failed = 0;
    {
        ui::frmMain window;
        QString target;
        window.CommonDialog1.answer = [&](bool) { return target; };
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const auto& [file, hp] = inputs[static_cast<std::size_t>(cycle) % inputs.size()];
            (hp ? window.opReadHp : window.opReadTxt)->setChecked(true);
            window.chkLineNum->setChecked(cycle % 3 == 0);
            ReadProgramFile(window, page, file);
            const bool txt = cycle % 2 == 0;
            (txt ? window.opWriteTxt : window.opWriteHp)->setChecked(true);
            target = QString::fromStdString((folder / (txt ? "out.txt" : "out.asc")).string());
            WriteProgramFile(window, page, window.documentText());
            failed += window.StatusBar1Panel1->text() != QStringLiteral("Complete");
            if (cycle == 9) {
                start = residentKiB(); // after the first round of every input
            }
        }
    }
    const long end = residentKiB();
    std::filesystem::remove_all(folder);
    std::printf("soak: %d cycles (%d ended through the error path), resident memory after 10 cycles %ld KiB, "
                "at the end %ld KiB, growth %ld KiB\n",
                cycles, failed, start, end, end - start);
    return end - start > 4096 ? 1 : 0;
}
