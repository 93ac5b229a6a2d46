#include "window_manager.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xproto.h>

// Xlib last: its macros (None, Bool, Status) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace varnook::ui {
namespace {

Display* x11Display()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

} // namespace

// A QObject too, so that a call-back still waiting goes with the watcher.
struct FrameWatcher::Filter : QObject, QAbstractNativeEventFilter {
    std::function<void()> changed;
    unsigned long extents = 0;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom == extents) {
            // After Qt has read the new frame.
            QTimer::singleShot(0, this, changed);
        }
        return false;
    }
};

FrameWatcher::FrameWatcher(std::function<void()> changed)
{
    Display* display = x11Display();
    if (display == nullptr) {
        return;
    }
    filter_ = std::make_unique<Filter>();
    filter_->changed = std::move(changed);
    filter_->extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    qGuiApp->installNativeEventFilter(filter_.get());
}

FrameWatcher::~FrameWatcher()
{
    if (filter_ && qGuiApp != nullptr) {
        qGuiApp->removeNativeEventFilter(filter_.get());
    }
}

bool hasWindowManager()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        return false;
    }
    if (platform != QLatin1String("xcb")) {
        return true; // Wayland compositors and the rest always frame windows
    }
    Display* display = x11Display();
    if (display == nullptr) {
        return true;
    }
    // An EWMH window manager names its check window on the root window.
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == 0) {
        return false;
    }
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &remaining, &data);
    const bool found = status == Success && type == XA_WINDOW && count == 1;
    if (data != nullptr) {
        XFree(data);
    }
    return found;
}

} // namespace varnook::ui
