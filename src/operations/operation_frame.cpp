#include "operation_frame.h"

#include <cstdio>
#include <exception>

namespace varnook {

std::int32_t ProgressCount = 0;

void progressTimerTick(WindowOperations& window)
{
    window.setProgressValue(static_cast<double>(ProgressCount));
}

bool runCommand(WindowOperations& window, const std::function<void()>& command)
{
    try {
        command();
        return true;
    } catch (const std::exception& e) {
        // The window shows no message; the reason goes where a user who
        // started it from a terminal, or a log, can see it.
        std::fprintf(stderr, "varnook: %s\n", e.what());
    }
    // The error path. The status text keeps the phase that failed and the
    // document keeps what it had.
    window.stopProgressTimer();
    window.setIdle();
    return false;
}

} // namespace varnook
