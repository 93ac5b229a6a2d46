#pragma once

#include "failure.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace varnook {

inline constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
inline constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

// Positions and counters are signed 32-bit: a result outside that range is a
// failure, never a wrap-around.
inline std::int32_t checkedAdd(std::int32_t a, std::int32_t b, const char* what)
{
    std::int32_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        throw Failure(std::string(what) + " leaves the 32-bit range");
    }
    return sum;
}

inline std::int32_t checkedSize(std::size_t size, const char* what)
{
    if (size > static_cast<std::size_t>(kInt32Max)) {
        throw Failure(std::string(what) + " is 2 GiB or larger; the limit is 2147483647 bytes");
    }
    return static_cast<std::int32_t>(size);
}

} // namespace varnook
