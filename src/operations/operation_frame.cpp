#include "operation_frame.h"

#include "core/failure.h"

#include <exception>
#include <new>

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
    } catch (const Failure&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::exception&) {
    }
    // The error path. The status text keeps the phase that failed and the
    // document keeps what it had; no message.
    window.stopProgressTimer();
    window.setIdle();
    return false;
}

} // namespace varnook
