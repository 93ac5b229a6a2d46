#pragma once

#include "core/base/bytes.h"

#include <cstddef>

namespace varnook::bench {

// A program of typical HP BASIC lines of 5 to 70 characters, CR LF after
// each, about the given size. The same seed always gives the same program.
Bytes sampleProgram(std::size_t size);

} // namespace varnook::bench
