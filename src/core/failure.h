#pragma once

#include <stdexcept>
#include <string>

namespace varnook {

// The one exception of the project: a command or a conversion that cannot go
// on. The text is a short English reason a user can act on.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace varnook
