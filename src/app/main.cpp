// Varnook starts by loading its main window; a file named on the command
// line is read as a dropped file is.

#include "core/io/file_io.h"
#include "ui/frm_main.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* kUsage = "Usage: varnook [FILE]\n"
                     "Converts BASIC programs between HP BASIC ASCII program files and plain text, in a window.\n"
                     "FILE is read at once, as a file dropped on the window is read; a LIF disk image\n"
                     "lists its programs to choose from.\n"
                     "\n"
                     "  --help     show this help and exit\n"
                     "  --version  show the version and exit\n"
                     "\n"
                     "See also varnook-convert(1) for conversions on the command line.\n";

} // namespace

int main(int argc, char** argv)
{
    // These need no display.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("varnook %s\n", VARNOOK_VERSION);
            return 0;
        }
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform == nullptr || *platform == '\0') && (display == nullptr || *display == '\0') &&
        (wayland == nullptr || *wayland == '\0')) {
        std::fprintf(stderr, "varnook: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                             "Start it from a desktop session, or use varnook-convert for conversions on the command "
                             "line.\n");
        return 1;
    }
    // A window closed by a signal in the middle of a write leaves no file;
    // a file size limit fails a write ("File too large") instead of killing.
    varnook::removeTemporaryFilesOnSignals();
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnook"));
    QApplication::setApplicationVersion(QStringLiteral(VARNOOK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("varnook"));

    // Qt has taken its own options out; what is left are files.
    QStringList files;
    bool options = true;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options && argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            std::fprintf(stderr, "varnook: unknown option %s\n%s", qPrintable(argument), kUsage);
            return 2;
        } else {
            files << argument;
        }
    }
    varnook::ui::frmMain window;
    window.showRestored();
    if (!files.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, file = files.constFirst()] { window.ReadFile(file); });
    }
    return QApplication::exec();
}
