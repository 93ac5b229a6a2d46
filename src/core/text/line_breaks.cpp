#include "line_breaks.h"

#include "core/base/simd.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace varnook {
namespace {

// Counts the CR and LF that do not stand in a CR LF pair.
template <class Text> std::size_t countLoneBreaks(const Text& text)
{
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    std::size_t lone = 0;
    std::size_t i = 0;
#if VARNOOK_SSE2
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    // Most text has only CR LF pairs: skip 16-byte blocks whose breaks are all
    // paired inside the block, and look closer at the others.
    for (; i + 17 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
        const auto crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
        const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        if ((crs | lfs) == 0) {
            continue;
        }
        const auto lfsAfter = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next, lf)));
        // Every CR has a LF after it, and every LF a CR before it.
        const unsigned crBefore = (crs << 1) | (i > 0 && s[i - 1] == '\r' ? 1U : 0U);
        const unsigned loneBits = (crs & ~lfsAfter) | (lfs & ~crBefore & 0xFFFFU);
        if (loneBits != 0) {
            lone += static_cast<std::size_t>(__builtin_popcount(loneBits));
        }
    }
#endif
    for (; i < n; ++i) {
        if (s[i] == '\r' && (i + 1 >= n || s[i + 1] != '\n')) {
            ++lone;
        } else if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) {
            ++lone;
        }
    }
    return lone;
}

// The index of the next CR or LF at or after i, or n.
std::size_t findBreak(const std::uint8_t* s, std::size_t i, std::size_t n)
{
#if VARNOOK_SSE2
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const auto hits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        if (hits != 0) {
            return i + static_cast<unsigned>(__builtin_ctz(hits));
        }
    }
#endif
    for (; i < n; ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            return i;
        }
    }
    return n;
}

template <class Text> Text normalize(Text text)
{
    const std::size_t lone = countLoneBreaks(text);
    if (lone == 0) {
        return text;
    }
    const std::size_t n = text.size();
    Text out;
    out.resize(n + lone);
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    auto* o = reinterpret_cast<std::uint8_t*>(out.data());
    std::size_t i = 0;
    while (i < n) {
        const std::size_t next = findBreak(s, i, n);
        std::memcpy(o, s + i, next - i);
        o += next - i;
        if (next == n) {
            break;
        }
        *o++ = '\r';
        *o++ = '\n';
        i = next + ((s[next] == '\r' && next + 1 < n && s[next + 1] == '\n') ? 2 : 1);
    }
    return out;
}

} // namespace

std::string normalizeLineBreaks(std::string text)
{
    return normalize(std::move(text));
}

Bytes normalizeLineBreaks(Bytes bytes)
{
    return normalize(std::move(bytes));
}

} // namespace varnook
