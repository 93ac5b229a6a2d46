#pragma once

// Finding line ends and copying short lines, shared by the encoder and the
// numbering. Lines of typical programs are shorter than 64 bytes; handling
// 64 bytes at a time without a loop keeps the branches predictable.

#include "simd.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varnook::detail {

inline constexpr std::size_t kBlock = 64;

// The index of the first CR at or after from, or n.
inline std::size_t findCr(const std::uint8_t* s, std::size_t from, std::size_t n)
{
#if VARNOOK_SSE2
    const __m128i cr = _mm_set1_epi8(0x0D);
    const auto hits = [&](std::size_t at) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at)), cr))));
    };
    while (from + kBlock <= n) {
        const std::uint64_t mask = hits(from) | hits(from + 16) << 16 | hits(from + 32) << 32 | hits(from + 48) << 48;
        if (mask != 0) {
            return from + static_cast<std::size_t>(__builtin_ctzll(mask));
        }
        from += kBlock;
    }
#endif
    const void* found = std::memchr(s + from, 0x0D, n - from);
    return found != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - s) : n;
}

// Copies count bytes; when count <= 64 and 64 bytes can be read at from,
// writes 64 bytes to to, so to needs room for 64 bytes past count.
inline void copyLine(std::uint8_t* to, const std::uint8_t* from, std::size_t count, std::size_t readable)
{
#if VARNOOK_SSE2
    if (count <= kBlock && readable >= kBlock) {
        for (std::size_t k = 0; k < kBlock; k += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
        }
        return;
    }
#else
    (void)readable;
#endif
    std::memcpy(to, from, count);
}

} // namespace varnook::detail
