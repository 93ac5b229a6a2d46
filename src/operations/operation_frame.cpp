#include "operation_frame.h"

#include "core/base/failure.h"

#include <cstdio>
#include <exception>
#include <new>

namespace varnook {

std::atomic<std::int32_t> ProgressCount = 0;

void progressTimerTick(WindowOperations& window)
{
    window.setProgressValue(static_cast<double>(ProgressCount));
}

std::string sentence(std::string reason)
{
    if (!reason.empty() && reason[0] >= 'a' && reason[0] <= 'z') {
        reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    }
    if (!reason.empty() && reason.back() != '.' && reason.back() != '!' && reason.back() != '?') {
        reason += '.';
    }
    return reason;
}

std::string status::failed(std::string_view phase)
{
    if (phase.starts_with("Now ")) {
        phase.remove_prefix(4);
    }
    return phase.empty() ? std::string("Failed") : std::string(phase) + " failed";
}

bool runCommand(WindowOperations& window, const CommandSubject& subject, const std::function<void()>& command)
{
    window.setStatusText("");
    std::string reason;
    try {
        command();
        return true;
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    } catch (const Failure& e) {
        reason = e.windowText();
    } catch (const std::exception& e) {
        reason = e.what();
    }
    std::fprintf(stderr, "varnook: %s: %s\n", subject.file.c_str(), reason.c_str());
    // The error path. The status names the phase that failed and the
    // document keeps what it had.
    window.setStatusText(status::failed(window.statusText()));
    window.stopProgressTimer();
    window.setIdle();
    const std::string first =
        subject.file.empty()
            ? std::string(subject.writing ? "The file could not be written." : "No file was read.")
            : std::string(subject.writing ? "Could not write " : "Could not read ") + subject.file + ".";
    window.showWarningMessage(first + "\n" + sentence(reason));
    return false;
}

} // namespace varnook
