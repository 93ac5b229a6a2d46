// Renders the real windows to PNG for a look at what users see:
//   varnook_screenshots OUTPUT_FOLDER EXAMPLE_FILE
// Writes main-empty.png, main-program.png, main-working.png, about.png, the
// disk view of a plain image, a capture and a damaged volume (disk-*.png),
// the name dialog, and the messages: failure.png, mismatch.png, damaged.png
// and unwritten.png. The style and scale are the environment's
// (QT_STYLE_OVERRIDE, QT_SCALE_FACTOR).
// Settings go to a temporary folder, so nothing of the user's is touched.

#include "ui/frm_about.h"
#include "ui/frm_main.h"
#include "ui/disk_view.h"
#include "ui/volume_dialogs.h"
#include "support/captures.h"

#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/lif/lif.h"
#include "operations/file_commands.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"

#include <QApplication>
#include <QCheckBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <string>

using namespace varnook;

namespace {

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
}

bool save(QWidget& widget, const QString& path)
{
    settle();
    // What the display shows of the window, as the X server has it.
    QPixmap shot = widget.screen()->grabWindow(widget.winId());
    if (shot.isNull()) {
        shot = widget.grab();
    }
    const bool ok = shot.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnook_screenshots OUTPUT_FOLDER EXAMPLE_FILE\n");
        return 2;
    }
    QApplication application(argc, argv);
    QTemporaryDir settingsFolder;
    Module1::useFolder(settingsFolder.path().toStdString());
    const QString out = QString::fromLocal8Bit(argv[1]);
    const std::string example = argv[2];
    bool ok = true;

    ui::frmMain window;
    window.move(40, 40);
    window.showRestored();
    ok &= save(window, out + "/main-empty.png");

    ReadProgramFile(window, CodePage::named("windows-1252"), example);
    window.resize(760, 560);
    ok &= save(window, out + "/main-program.png");

    // Mid-operation: a large file read as HP BASIC ASCII, caught while the
    // progress bar moves.
    QTemporaryDir work;
    Bytes text;
    while (text.size() < 40'000'000) {
        const std::string line = "1000 OUTPUT 709;\"MEAS:VOLT:DC? 10,0.001\" ! read the voltmeter\r\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    const std::string big = work.path().toStdString() + "/BIG.asc";
    replaceFile(big, encodeHpAsciiBytes(text));
    window.opReadHp->setChecked(true);
    // Caught by a timer of its own: the bar a third of the way along.
    bool caught = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QProgressBar* bar = window.ProgressBar1;
        if (!caught && window.isEnabled() == false && bar->value() > bar->maximum() / 3) {
            caught = true;
            ok &= save(window, out + "/main-working.png");
        }
    });
    watch.start();
    ReadProgramFile(window, CodePage::named("windows-1252"), big);
    watch.stop();
    if (!caught) {
        std::printf("FAILED to catch the window while working\n");
        ok = false;
    }
    window.txtData->clear();

    ui::frmAbout about(&window);
    about.show();
    ok &= save(about, out + "/about.png");
    about.close();

    // The disk image dialogs, over a volume that also holds a file of another type.
    Bytes image = lif::newVolumeImage("WORK", lif::kDefaultBlocks, lif::kDefaultDirectoryBlocks, lif::dateNow());
    const Bytes content = asciiFileFromProgramFile(readFileBytes(example));
    for (const char* name : {"SINEPLOT", "METER_CAL", "BINPROG"}) {
        lif::putFile(image, name, content, lif::dateNow());
    }
    image[2 * lif::kBlockSize + 2 * lif::kEntrySize + 10] = 0xE0; // BINPROG: type E001
    const std::string imagePath = work.path().toStdString() + "/work.lif";
    replaceFile(imagePath, image);
    const lif::Volume volume = lif::readVolume(imagePath);
    // A modal window the action opens, caught and closed (a question so
    // closed is answered Cancel or No).
    const auto modal = [&](const char* shot, const std::function<void()>& action) {
        QTimer::singleShot(300, [&, shot] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                ok &= save(*dialog, out + "/" + shot);
                dialog->close();
            } else {
                ok = false;
            }
        });
        action();
    };
    // The disk view of the plain image, of a capture of it that lacks a
    // block of METER_CAL, and of a volume whose file runs past its end.
    const auto view = [&](const char* shot, const std::string& path) {
        ui::DiskView disk(&window, CodePage::named("windows-1252"), path);
        disk.show();
        disk.files()->setFocus();
        ok &= save(disk, out + "/" + shot);
    };
    view("disk-plain.png", imagePath);
    const std::uint32_t meterBlock = volume.files[1].start;
    const std::string capturePath = work.path().toStdString() + "/work.td0";
    replaceFile(capturePath, test::teleDiskOf(image, meterBlock, SIZE_MAX));
    view("disk-capture.png", capturePath);
    Bytes damaged = image;
    damaged[2 * lif::kBlockSize + 16 + 3] = 0xFF; // SINEPLOT: 255 blocks more than it has
    const std::string damagedPath = work.path().toStdString() + "/damaged.lif";
    replaceFile(damagedPath, damaged);
    view("disk-damaged.png", damagedPath);
    modal("volume-name.png", [&] { ui::askVolumeFileName(&window, volume, "SINEPLOT"); });

    // What the window says: a failure, a file that is not what the read
    // option says, unwritten edits at closing.
    const CodePage page = CodePage::named("windows-1252");
    modal("failure.png", [&] { ReadProgramFile(window, page, work.path().toStdString() + "/gone/PROG.asc"); });
    const std::string plain = work.path().toStdString() + "/sineplot.txt";
    replaceFile(plain, decodeHpAsciiBytes(readFileBytes(example)));
    window.opReadHp->setChecked(true);
    modal("mismatch.png", [&] { ReadProgramFile(window, page, plain); });
    const std::string cut = work.path().toStdString() + "/CUT.asc";
    replaceFile(cut, ByteView(readFileBytes(example)).first(300));
    modal("damaged.png", [&] { ReadProgramFile(window, page, cut); });
    window.txtData->setPlainText(QStringLiteral("10 REM edited"));
    window.txtData->document()->setModified(true);
    modal("unwritten.png", [&] { window.close(); });
    window.txtData->document()->setModified(false);
    window.close();
    return ok ? 0 : 1;
}
