#pragma once

#include <functional>
#include <memory>

namespace varnook::ui {

// Whether a window manager frames top-level windows on this display. Without
// one (the offscreen platform, a bare X server) a window has no frame and its
// outer rectangle is its client rectangle.
bool hasWindowManager();

// Calls back, from the event loop, each time a window manager announces the
// frame it put around a window. Qt sends no event of its own for it.
class FrameWatcher {
public:
    explicit FrameWatcher(std::function<void()> changed);
    ~FrameWatcher();
    FrameWatcher(const FrameWatcher&) = delete;
    FrameWatcher& operator=(const FrameWatcher&) = delete;

private:
    struct Filter;
    std::unique_ptr<Filter> filter_;
};

} // namespace varnook::ui
