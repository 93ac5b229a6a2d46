#include "hp_ascii.h"

#include "core/base/checked.h"
#include "core/base/byte_order.h"
#include "core/base/failure.h"
#include "hp_ascii_format.h"
#include "records.h"
#include "core/text/line_scan.h"
#include "core/base/simd.h"

#include <algorithm>
#include <cstdio>
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
inline void decodeZero(const std::uint8_t* in, std::size_t n, std::size_t& r, std::uint8_t* out, std::size_t& w)
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
inline void decodeOne(const std::uint8_t* in, std::size_t n, std::size_t& r, std::uint8_t* out, std::size_t& w)
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

// A fresh buffer for the functions that fill a given one.
template <class Fill> Bytes filled(Fill fill)
{
    Bytes out;
    fill(out);
    return out;
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
    return filled([&](Bytes& out) { decodeHpAsciiBytes(file, out, progress); });
}

void decodeHpAsciiBytes(ByteView file, Bytes& out, Progress* progress)
{
    const std::size_t n = file.size();
    checkedSize(n, "the file");
    if (n <= hp::kFirstCharOffset) {
        out.clear();
        return;
    }
    // Every input byte gives at most one output byte (a zero and the byte
    // after it give CR LF), so the output never outgrows the input; block
    // stores reach up to 64 bytes past the last byte written.
    out.resize(n - hp::kFirstCharOffset + 80);
    const std::uint8_t* in = file.data();
    std::uint8_t* o = out.data();
    std::size_t r = hp::kFirstCharOffset;
    std::size_t w = 0;
    ProgressTicker ticker(progress);

    while (r < n) {
        ticker.at(static_cast<std::int64_t>(r));
        const std::size_t stretchEnd = std::min(n, r + kProgressStride);
#if VARNOOK_SSE2
        // 64-byte windows: find the 00 and FF bytes with one mask, copy the
        // runs between them in 16-byte blocks, and handle each special byte
        // without branching on its kind. Stops 160 bytes before the end so
        // that no block reads past the input.
        const __m128i zero = _mm_setzero_si128();
        const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
        const auto specialsIn = [&](std::size_t at) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
            return static_cast<std::uint64_t>(
                static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, ff)))));
        };
        while (r < stretchEnd && r + 160 <= n) {
            const std::size_t base = r;
            const std::uint64_t specials = specialsIn(base) | specialsIn(base + 16) << 16 |
                                           specialsIn(base + 32) << 32 | specialsIn(base + 48) << 48;
            for (;;) {
                const std::uint64_t ahead = specials & (~std::uint64_t{0} << (r - base));
                const std::size_t s = ahead == 0 ? base + 64 : base + static_cast<std::size_t>(__builtin_ctzll(ahead));
                // A run is at most 64 bytes: copy 64 without a loop.
                for (std::size_t k = 0; k < 64; k += 16) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + w + k),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + r + k)));
                }
                w += s - r;
                if (ahead == 0) {
                    r = s;
                    break;
                }
                // 00: CR LF and skip the length word (and the pad byte before
                // it when the zero pair stands at an odd offset); FF: skip it.
                const std::size_t isZero = in[s] == 0x00 ? 1 : 0;
                const std::size_t padded = (in[s + 1] == 0x00 ? 1 : 0) & (s & 1);
                o[w] = kCr;
                o[w + 1] = kLf;
                w += 2 * isZero;
                r = s + 1 + isZero * (1 + padded);
                if (r >= base + 64) {
                    break;
                }
            }
        }
#endif
        while (r < stretchEnd) {
            decodeOne(in, n, r, o, w);
        }
    }
    out.resize(w);
}

std::size_t wellFormedEnd(ByteView file)
{
    const std::size_t n = file.size();
    for (std::size_t p = hp::kHeaderSize;;) {
        const RecordStep step = recordAt(file, p, RecordsEnd::EndMark);
        if (step.kind == RecordStep::Kind::End) {
            return step.next;
        }
        // Only what the plain decoder reads the same: no FFFE, no nonzero pad byte.
        if (step.kind != RecordStep::Kind::Record || step.length > hp::kMaxLineLength || step.next > n ||
            ((step.length & 1) != 0 && file[step.next - 1] != 0x00)) {
            return n;
        }
        p = step.next;
    }
}

void settleCarriageReturns(Bytes& text)
{
    // Every line ends in CR LF. A CR right before that one was the last byte
    // of its record: dropped. Any other CR stood inside a record, where a
    // text line cannot hold it.
    if (text.empty()) {
        return;
    }
    const auto* begin = text.data();
    const auto* end = text.data() + text.size();
    const auto stray = [&](const std::uint8_t* from) {
        for (const auto* cr = from; (cr = static_cast<const std::uint8_t*>(std::memchr(cr, kCr, end - cr))) != nullptr;
             ++cr) {
            if (cr + 1 == end || cr[1] != kLf) {
                return cr;
            }
        }
        return end;
    };
    const std::uint8_t* first = stray(begin);
    if (first == end) {
        return;
    }
    std::size_t w = static_cast<std::size_t>(first - begin);
    for (std::size_t r = w; r < text.size(); ++r) {
        if (text[r] == kCr && (r + 1 == text.size() || text[r + 1] != kLf)) {
            if (r + 2 < text.size() && text[r + 1] == kCr && text[r + 2] == kLf) {
                continue;
            }
            const auto line = std::count(begin, begin + r, kLf) + 1;
            throw Failure("line " + std::to_string(line) + " holds a CR inside it, which a text line cannot hold",
                          " (--check shows where)", "");
        }
        text[w++] = text[r];
    }
    text.resize(w);
}

Bytes decodeProgramFileLeniently(ByteView file, Progress* progress)
{
    Bytes text = decodeHpAsciiBytes(file.first(wellFormedEnd(file)), progress);
    settleCarriageReturns(text);
    return text;
}

namespace {

// "line 12 (number 110)": its place, and the line number it starts with.
std::string lineCalled(std::size_t place, ByteView record)
{
    const auto digits = std::find_if(record.begin(), record.end(), [](std::uint8_t c) { return c != ' '; });
    const auto end = std::find_if(digits, record.end(), [](std::uint8_t c) { return c < '0' || c > '9'; });
    return "line " + std::to_string(place) + (digits == end ? "" : " (number " + std::string(digits, end) + ")");
}

std::string hex(unsigned value, int digits)
{
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

} // namespace

namespace {

// Walks the records (see readRecordLines), giving each line to the step;
// the end of the records.
template <class Step>
std::size_t walkRecords(ByteView bytes, std::size_t from, bool programFile, Progress* progress, Step line)
{
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    const char* endMark = programFile ? "00 FF FF" : "FFFF";
    ProgressTicker ticker(progress);
    std::size_t count = 0;
    ByteView last;
    const auto after = [&] {
        return count == 0 ? std::string("before the first line") : "after " + lineCalled(count, last);
    };
    const RecordsEnd ending = programFile ? RecordsEnd::EndMark : RecordsEnd::LengthFFFF;
    for (std::size_t p = from;;) {
        ticker.at(static_cast<std::int64_t>(p));
        const RecordStep step = recordAt(bytes, p, ending);
        if (step.kind == RecordStep::Kind::End) {
            return step.next;
        }
        if (step.kind == RecordStep::Kind::Cut) {
            throw DamagedRecords(p, p >= n ? "the records end without an end mark (" + std::string(endMark) + "), " +
                                                 after()
                                           : "the file ends inside a length word, " + after());
        }
        if (step.kind == RecordStep::Kind::Empty) {
            last = {};
            line(last, ++count);
            p = step.next;
            continue;
        }
        const std::size_t length = step.length;
        if (length > hp::kMaxLineLength) {
            throw DamagedRecords(p, "length word " + hex(static_cast<unsigned>(length), 4) + ", " + after() +
                                        ", is no record length (0 to 255, or FFFE)");
        }
        if (step.runsPast(n)) {
            throw DamagedRecords(p, "the file ends inside line " + std::to_string(count + 1) + ", a record of " +
                                        std::to_string(length) + " bytes from offset " + std::to_string(p + 2));
        }
        std::size_t end = p + 2 + length;
        const std::size_t stop = detail::findLineBreaker(s, p + 2, end, n);
        if (stop < end && (s[stop] == kCr || s[stop] == kLf) && endsRecord(bytes, stop, end)) {
            end = stop;
        }
        if (stop < end) {
            const ByteView record = bytes.subspan(p + 2, end - p - 2);
            const std::uint8_t c = s[stop];
            const char* names[] = {"byte 00", "byte FF", "a CR", "a LF"};
            throw DamagedRecords(stop, lineCalled(count + 1, record) + " holds " +
                                           names[c == 0x00   ? 0
                                                 : c == 0xFF ? 1
                                                 : c == kCr  ? 2
                                                             : 3] +
                                           ", which a text line cannot hold");
        }
        last = bytes.subspan(p + 2, end - p - 2);
        line(last, ++count);
        p = step.next;
    }
}

} // namespace

std::size_t readRecordLines(ByteView bytes, std::size_t from, bool programFile, std::vector<ByteView>& lines,
                            Progress* progress)
{
    return walkRecords(bytes, from, programFile, progress, [&](ByteView line, std::size_t) { lines.push_back(line); });
}

Bytes decodeProgramFile(ByteView file, Progress* progress)
{
    checkedSize(file.size(), "the file");
    if (file.size() < hp::kHeaderSize) {
        throw DamagedRecords(file.size(), "the file ends inside its 256-byte header");
    }
    // Every record gives at most as many bytes as it takes (its line and CR
    // LF for its length word), and line copies write up to 64 bytes.
    Bytes text(file.size() - hp::kHeaderSize + detail::kBlock, kUninitialised);
    std::uint8_t* w = text.data();
    const std::uint8_t* end = file.data() + file.size();
    walkRecords(file, hp::kHeaderSize, true, progress, [&](ByteView line, std::size_t) {
        if (!line.empty()) {
            detail::copyLine(w, line.data(), line.size(), static_cast<std::size_t>(end - line.data()));
        }
        w += line.size();
        *w++ = kCr;
        *w++ = kLf;
    });
    text.resize(static_cast<std::size_t>(w - text.data()));
    return text;
}

Bytes encodeHpAsciiBytes(ByteView text, Progress* progress)
{
    return filled([&](Bytes& out) { encodeHpAsciiBytes(text, out, progress); });
}

void encodeHpAsciiBytes(ByteView text, Bytes& out, Progress* progress)
{
    const std::size_t n = text.size();
    if (n == 0) {
        throw Failure("the document is empty");
    }
    checkedSize(n, "the document");

    // Room for the longest line, its pad byte and the end mark, and for
    // 64-byte block copies of short lines.
    constexpr std::size_t kLineRoom = 2 + hp::kMaxLineLength + 1 + 3 + detail::kBlock;
    std::size_t capacity = std::max(out.size(), hp::kHeaderSize + n + n / 8 + 1024);
    out.resize(capacity);
    std::fill(out.begin(), out.begin() + hp::kHeaderSize, 0x00);
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

        const std::size_t end = detail::findCr(s, start, n);
        const std::size_t len = end - start;
        const bool atCr = end < n;
        if (len > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(lineNumber, ByteView(s + start, len)));
        }
        detail::copyLine(out.data() + j + 2, s + start, len, n - start);

        j += frameRecord(out.data() + j, len);
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
}

std::optional<TextPosition> findUncarriableByte(ByteView text)
{
    // Blocks without an early exit, so the common case (no such byte) is one
    // vectorised pass.
    constexpr std::size_t kBlock = 64;
    std::size_t at = 0;
    for (; at < text.size(); at += kBlock) {
        const std::size_t end = std::min(text.size(), at + kBlock);
        bool found = false;
        for (std::size_t i = at; i < end; ++i) {
            found |= static_cast<std::uint8_t>(text[i] + 1) <= 1;
        }
        if (found) {
            break;
        }
    }
    if (at >= text.size()) {
        return std::nullopt;
    }
    TextPosition position{1, 1};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t c = text[i];
        if (c == 0x00 || c == 0xFF) {
            return position;
        }
        if (c == kLf || (c == kCr && (i + 1 == text.size() || text[i + 1] != kLf))) {
            position.line = checkedAdd(position.line, 1, "the line number");
            position.column = 1;
        } else if (c != kCr) {
            position.column = checkedAdd(position.column, 1, "the column");
        }
    }
    return std::nullopt;
}

std::string lineTooLongMessage(std::int64_t line, ByteView text)
{
    // Its first characters, as far as they are plain ASCII: the code page
    // of the rest is not known here.
    constexpr std::size_t kShown = 16;
    std::string begins;
    for (std::size_t i = 0; i < std::min(text.size(), kShown) && text[i] >= 0x20 && text[i] < 0x7F; ++i) {
        begins += static_cast<char>(text[i]);
    }
    return "line " + std::to_string(line) + " (" + begins + "...) is " + std::to_string(text.size()) +
           " characters long; HP BASIC ASCII allows at most 255";
}

void requireLinesFit(ByteView text)
{
    if (text.empty()) {
        throw Failure("the document is empty");
    }
    std::int64_t line = 1;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = detail::findCr(text.data(), start, text.size());
        if (end - start > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(line, text.subspan(start, end - start)));
        }
        start = end + 1 + (end + 1 < text.size() && text[end + 1] == kLf);
        ++line;
    }
}

std::string uncarriableByteMessage(const TextPosition& position)
{
    return "Error!! The character at " + describe(position) +
           " (a NUL, or a character stored as byte FF) cannot be kept in an HP BASIC ASCII file.";
}

} // namespace varnook
