#pragma once

#include <stdexcept>
#include <string>

namespace varnook {

// The one exception of the project: a command or a conversion that cannot go
// on. The text is a short English reason a user can act on.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // A failure of a system call, with the error number it gave.
    Failure(const std::string& text, int error) : std::runtime_error(text), systemError(error) { }
    // A refusal whose remedy is said differently by the command line (what():
    // the reason and its option) and by the window (the reason and its own
    // way, or the reason alone).
    Failure(const std::string& reason, const std::string& lineRemedy, const std::string& windowRemedy)
        : std::runtime_error(reason + lineRemedy),
          windowText_(reason + windowRemedy)
    {
    }
    // The text as the window says it: never an option of the command line.
    std::string windowText() const { return windowText_.empty() ? std::string(what()) : windowText_; }
    int systemError = 0; // errno, or 0 when no system call failed

private:
    std::string windowText_;
};

} // namespace varnook
