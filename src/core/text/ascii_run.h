#pragma once

#include "core/base/simd.h"

#include <cstddef>
#include <cstdint>

namespace varnook {

// How many bytes from `from` on, in whole 16-byte blocks, are all ASCII: the
// stretch a code-page conversion can copy as it is. The plain build
// (VARNOOK_PLAIN_LOOPS) finds none and leaves every byte to the caller's loop.
inline std::size_t asciiBlocks(const std::uint8_t* bytes, std::size_t from, std::size_t n)
{
    std::size_t i = from;
#if VARNOOK_SSE2
    while (i + 16 <= n && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i))) == 0) {
        i += 16;
    }
#else
    (void)bytes;
    (void)n;
#endif
    return i - from;
}

} // namespace varnook
