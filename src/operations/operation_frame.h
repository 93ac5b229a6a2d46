#pragma once

#include "window_operations.h"

#include "core/base/progress.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <atomic>

namespace varnook {

// The index the running loop has reached; the progress timer shows it. A
// loop may run aside from the window's thread, so it is atomic.
extern std::atomic<std::int32_t> ProgressCount;

// Status texts, one per phase.
namespace status {
inline constexpr std::string_view kNowReading = "Now Reading";
inline constexpr std::string_view kInsertingLineNumber = "Inserting LineNumber";
inline constexpr std::string_view kNowAnalysing = "Now Analysing";
inline constexpr std::string_view kWriting = "Writing";
inline constexpr std::string_view kNowConverting = "Now Converting";
inline constexpr std::string_view kNowWriting = "Now Writing";
inline constexpr std::string_view kComplete = "Complete";
inline constexpr std::string_view kCancelled = "Cancelled";
inline constexpr std::string_view kNotNumbered = "Read without line numbers";
// What the status says once the phase failed: "Now Reading" becomes
// "Reading failed", so that a failed command never looks busy.
std::string failed(std::string_view phase);
} // namespace status

// The file dialog's type lists and the entry each command selects (all
// files); disk images and captures after them, in both lists.
inline constexpr const char* kHpFileTypes =
    "HP BASIC ASCII(*.asc)|*.asc|HP BASIC Source(*.bas)|*.bas|LIF ASCII(*.lif)|*.lif|HP LIF ASCII(*.lhp)|*.lhp|"
    "すべてのファイル(*.*)|*.*|"
    "Disk images(*.lif *.hpi *.dsk *.td0 *.imd)|*.lif;*.hpi;*.dsk;*.td0;*.imd;*.LIF;*.HPI;*.DSK;*.TD0;*.IMD";
inline constexpr int kHpAllFilesIndex = 5;
inline constexpr const char* kTxtFileTypes =
    "txtファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*|"
    "Disk images(*.lif *.hpi *.dsk *.td0 *.imd)|*.lif;*.hpi;*.dsk;*.td0;*.imd;*.LIF;*.HPI;*.DSK;*.TD0;*.IMD";
inline constexpr int kTxtAllFilesIndex = 2;

inline constexpr const char* kDoubleByteWarning = "Error!! 2 byte character is contained!";

// A long loop's position goes to ProgressCount, then the window yields.
class YieldingProgress : public Progress {
public:
    explicit YieldingProgress(WindowOperations& window) : window_(window) { }
    void reached(std::int32_t index) override
    {
        ProgressCount = index;
        window_.yield();
    }

private:
    WindowOperations& window_;
};

// A reason as a message says it: a sentence, capitalised, with its full stop.
std::string sentence(std::string reason);

// The progress timer's tick.
void progressTimerTick(WindowOperations& window);

// What a command works on, for its failure message: the file, once known,
// and whether it is read or written.
struct CommandSubject {
    bool writing = false;
    std::string file;
};

// Runs a command with its one error path armed: any failure inside ends the
// command (the files it holds are closed as they go out of scope, the
// progress timer stops, the window becomes idle, the status says which phase
// failed), then one warning names the file and the reason, which also goes
// to standard error. The caller sees a normal return. Returns false when the
// command failed. The command starts with an empty status: nothing of the
// command before stays.
bool runCommand(WindowOperations& window, const CommandSubject& subject, const std::function<void()>& command);

// Runs a step that comes before the command's first status text: when it
// fails, the status names the phase the step belongs to, so that it never
// shows an earlier command's "Complete".
template <class Step> auto beforePhase(WindowOperations& window, std::string_view phase, Step step)
{
    try {
        return step();
    } catch (...) {
        window.setStatusText(phase);
        throw;
    }
}

} // namespace varnook
