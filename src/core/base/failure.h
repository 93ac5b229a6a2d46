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
    int systemError = 0; // errno, or 0 when no system call failed
};

} // namespace varnook
