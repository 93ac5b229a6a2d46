#include "hp_ascii.h"

#include "checked.h"
#include "failure.h"
#include "hp_ascii_format.h"
#include "simd.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace varnook {
namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;

[[noreturn]] void failEndsInLengthWord(std::size_t offset)
{
    throw Failure("the file ends inside a length word (zero byte at offset " + std::to_string(offset) +
                  ", the last byte)");
}

// A zero byte at r starts a line boundary: a length word, or a pad byte and a
// length word. Pad bytes only ever stand at odd offsets, so a zero pair at an
// even offset is the length word of an empty record.
inline void decodeZero(const std::uint8_t* in, std::size_t n, std::size_t& r, std::uint8_t* out,
                       std::size_t& w)
{
    if (r + 1 >= n) {
        failEndsInLengthWord(r);
    }
    out[w] = kCr;
    out[w + 1] = kLf;
    w += 2;
    if (in[r + 1] != 0 || r % 2 == 0) {
        r += 2;
    } else {
        r += 3;
    }
}

// Decodes one byte; returns nothing, advances r and w.
inline void decodeOne(const std::uint8_t* in, std::size_t n, std::size_t& r, std::uint8_t* out,
                      std::size_t& w)
{
    const std::uint8_t c = in[r];
    if (c == 0x00) {
        decodeZero(in, n, r, out, w);
    } else if (c == 0xFF) {
        ++r;
    } else {
        out[w++] = c;
        ++r;
    }
}

} // namespace

namespace detail {

Bytes decodeHpAsciiBytesScalar(ByteView file)
{
    const std::size_t n = file.size();
    checkedSize(n, "the file");
    Bytes out;
    if (n <= hp::kFirstCharOffset) {
        return out;
    }
    out.resize(n - hp::kFirstCharOffset);
    std::size_t r = hp::kFirstCharOffset;
    std::size_t w = 0;
    while (r < n) {
        decodeOne(file.data(), n, r, out.data(), w);
    }
    out.resize(w);
    return out;
}

} // namespace detail

Bytes decodeHpAsciiBytes(ByteView file, Progress* progress)
{
    const std::size_t n = file.size();
    checkedSize(n, "the file");
    Bytes out;
    if (n <= hp::kFirstCharOffset) {
        return out;
    }
    // Every input byte gives at most one output byte (a zero and the byte
    // after it give CR LF), so the output never outgrows the input.
    out.resize(n - hp::kFirstCharOffset + 16);
    const std::uint8_t* in = file.data();
    std::uint8_t* o = out.data();
    std::size_t r = hp::kFirstCharOffset;
    std::size_t w = 0;
    ProgressTicker ticker(progress);

    while (r < n) {
        ticker.at(static_cast<std::int64_t>(r));
        const std::size_t stretchEnd = std::min(n, r + kProgressStride);
#if VARNOOK_SSE2
        const __m128i zero = _mm_setzero_si128();
        const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
        while (r < stretchEnd && r + 16 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + r));
            // Copy the whole block; only the bytes before the first 00 or FF count.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + w), v);
            const unsigned special = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, ff))));
            if (special == 0) {
                r += 16;
                w += 16;
                continue;
            }
            const unsigned k = static_cast<unsigned>(__builtin_ctz(special));
            r += k;
            w += k;
            if (in[r] == 0xFF) {
                ++r;
            } else {
                decodeZero(in, n, r, o, w);
            }
        }
#endif
        while (r < stretchEnd) {
            decodeOne(in, n, r, o, w);
        }
    }
    out.resize(w);
    return out;
}

Bytes encodeHpAsciiBytes(ByteView text, Progress* progress)
{
    const std::size_t n = text.size();
    if (n == 0) {
        throw Failure("the document is empty");
    }
    checkedSize(n, "the document");

    // Room for the longest line plus the 16-byte block stores past its end.
    constexpr std::size_t kLineRoom = 2 + hp::kMaxLineLength + 1 + 16 + 3 + 16;
    std::size_t capacity = hp::kHeaderSize + n + n / 8 + 1024;
    Bytes out(capacity);
    std::copy(hp::kHeaderStart.begin(), hp::kHeaderStart.end(), out.begin());
    std::size_t j = hp::kHeaderSize;

    const std::uint8_t* s = text.data();
    std::size_t start = 0;
    std::int32_t lineNumber = 0;
    ProgressTicker ticker(progress);

    while (start < n) {
        ticker.at(static_cast<std::int64_t>(start));
        lineNumber = checkedAdd(lineNumber, 1, "the line count");
        if (capacity - j < kLineRoom) {
            if (j > static_cast<std::size_t>(kInt32Max) - kLineRoom) {
                throw Failure("the HP BASIC ASCII file would be 2 GiB or larger");
            }
            capacity += capacity / 2 + kLineRoom;
            out.resize(capacity);
        }

        // Scan for the CR and copy the line in one go.
        const std::uint8_t* src = s + start;
        std::uint8_t* dst = out.data() + j + 2;
        const std::size_t available = n - start;
        std::size_t len = 0;
        bool atCr = false;
#if VARNOOK_SSE2
        const __m128i cr = _mm_set1_epi8(static_cast<char>(kCr));
        while (len + 16 <= available && len <= hp::kMaxLineLength) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + len));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + len), v);
            const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
            if (hits != 0) {
                len += static_cast<unsigned>(__builtin_ctz(hits));
                atCr = true;
                break;
            }
            len += 16;
        }
#endif
        if (!atCr) {
            while (len < available && len <= hp::kMaxLineLength && src[len] != kCr) {
                dst[len] = src[len];
                ++len;
            }
            atCr = len < available && src[len] == kCr;
        }
        if (len > hp::kMaxLineLength) {
            const void* lineEnd = std::memchr(src, kCr, available);
            const std::size_t full =
                lineEnd != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(lineEnd) - src)
                                   : available;
            throw Failure("line " + std::to_string(lineNumber) + " is " + std::to_string(full) +
                          " characters long; HP BASIC ASCII allows at most 255");
        }

        out[j] = 0x00;
        out[j + 1] = static_cast<std::uint8_t>(len);
        j += 2 + len;
        if (len % 2 == 1) {
            out[j++] = 0x00; // pad byte
        }
        if (!atCr) {
            break;
        }
        // The CR ends the line; a LF right after it belongs to the line break.
        start += len + 1;
        if (start < n && s[start] == kLf) {
            ++start;
        }
    }

    std::copy(hp::kEndMark.begin(), hp::kEndMark.end(), out.begin() + static_cast<std::ptrdiff_t>(j));
    j += hp::kEndMark.size();
    checkedSize(j, "the HP BASIC ASCII file");
    out.resize(j);
    return out;
}

} // namespace varnook
