#pragma once

// Finding line ends and copying short lines, shared by the encoder and the
// numbering. Lines of typical programs are shorter than 64 bytes; handling
// 64 bytes at a time without a loop keeps the branches predictable.

#include "core/base/simd.h"

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

// The index of the first byte of [from, end) that no text line holds (00,
// FF, CR or LF), or end. Reads 16 bytes at a time while they lie before n.
inline std::size_t findLineBreaker(const std::uint8_t* s, std::size_t from, std::size_t end, std::size_t n)
{
#if VARNOOK_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i cr = _mm_set1_epi8(0x0D);
    const __m128i lf = _mm_set1_epi8(0x0A);
    for (; from < end && from + 16 <= n; from += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + from));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, ff)),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (end - from < 16) {
            mask &= (1u << (end - from)) - 1;
        }
        if (mask != 0) {
            return from + static_cast<std::size_t>(__builtin_ctz(mask));
        }
    }
    if (from >= end) {
        return end;
    }
#else
    (void)n;
#endif
    for (; from < end; ++from) {
        const std::uint8_t c = s[from];
        if (c == 0x00 || c == 0xFF || c == 0x0D || c == 0x0A) {
            return from;
        }
    }
    return end;
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
