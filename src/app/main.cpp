// Varnook starts by loading its main window.

#include "core/file_io.h"
#include "ui/frm_main.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
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
    // A window closed by a signal in the middle of a write leaves no file.
    varnook::removeTemporaryFilesOnSignals();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnook"));
    QApplication::setApplicationVersion(QStringLiteral(VARNOOK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("varnook"));
    varnook::ui::frmMain window;
    window.showRestored();
    return QApplication::exec();
}
