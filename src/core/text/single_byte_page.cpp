#include "ascii_run.h"
#include "code_page_paths.h"

#include <algorithm>
#include <cstring>

namespace varnook::codepages {
namespace {

constexpr std::int32_t kUnmapped = -1;
constexpr std::int32_t kPrivateUseBase = 0xF700;

} // namespace

SingleBytePage::SingleBytePage(const std::string& name, const PageTable& table) : name_(name)
{
    fromBmp_.assign(0x10000, -1);
    for (unsigned b = 0; b < 256; ++b) {
        toUnicode_[b] = table.singles[b] == kNone ? kUnmapped : table.singles[b];
        asciiCompatible_ = asciiCompatible_ && (b >= 0x80 || toUnicode_[b] == static_cast<std::int32_t>(b));
    }
    // The reverse direction: each character from the byte that stands for
    // it, but for the bytes read and never written (a character two bytes
    // stand for is written as one of them).
    const std::uint16_t* oneWayEnd = table.oneWay + table.oneWayCount;
    for (unsigned b = 0; b < 256; ++b) {
        if (toUnicode_[b] != kUnmapped && std::find(table.oneWay, oneWayEnd, b) == oneWayEnd) {
            fromBmp_[static_cast<std::size_t>(toUnicode_[b])] = static_cast<std::int16_t>(b);
        }
    }
    // A byte the code page leaves undefined still has to come back as
    // itself: it reads as the private-use character U+F700 + byte.
    for (unsigned b = 0; b < 256; ++b) {
        const std::int32_t stand = kPrivateUseBase + static_cast<std::int32_t>(b);
        if (toUnicode_[b] == kUnmapped && fromBmp_[static_cast<std::size_t>(stand)] < 0 &&
            std::find(toUnicode_.begin(), toUnicode_.end(), stand) == toUnicode_.end()) {
            toUnicode_[b] = stand;
            fromBmp_[static_cast<std::size_t>(stand)] = static_cast<std::int16_t>(b);
        }
    }
    for (unsigned b = 0; b < 256; ++b) {
        const std::int32_t c = toUnicode_[b];
        std::string utf8;
        if (c != kUnmapped) {
            appendUtf8(utf8, c);
        }
        std::copy(utf8.begin(), utf8.end(), utf8_[b].begin());
        utf8Length_[b] = static_cast<std::uint8_t>(utf8.size());
        roundTrips_[b] = c != kUnmapped && fromBmp_[static_cast<std::size_t>(c)] == static_cast<int>(b);
    }
}

// Walks the bytes: ascii(from, count) for each stretch of ASCII blocks that
// can pass as they are, other(i) for every other byte.
template <class Ascii, class Other> void walk(ByteView bytes, bool asciiCompatible, Ascii ascii, Other other)
{
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t run = asciiCompatible ? asciiBlocks(bytes.data(), i, n) : 0;
        ascii(i, run);
        i += run;
        if (i == n) {
            break;
        }
        other(i);
    }
}

std::string SingleBytePage::toUtf8(ByteView bytes) const
{
    // First the exact size, so the result is allocated once.
    std::size_t size = 0;
    walk(
        bytes, asciiCompatible_, [&](std::size_t, std::size_t run) { size += run; },
        [&](std::size_t i) {
            if (toUnicode_[bytes[i]] == kUnmapped) {
                failUndecodable(name_, bytes, i, 1);
            }
            size += utf8Length_[bytes[i]];
        });
    std::string out(size, '\0');
    char* o = out.data();
    walk(
        bytes, asciiCompatible_,
        [&](std::size_t from, std::size_t run) {
            std::memcpy(o, bytes.data() + from, run);
            o += run;
        },
        [&](std::size_t i) {
            std::memcpy(o, utf8_[bytes[i]].data(), utf8Length_[bytes[i]]);
            o += utf8Length_[bytes[i]];
        });
    return out;
}

std::size_t SingleBytePage::fromUtf8(std::string_view text, Bytes& out) const
{
    const std::size_t n = text.size();
    const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
    out.resize(n);
    std::uint8_t* o = out.data();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t run = asciiCompatible_ ? asciiBlocks(in, i, n) : 0;
        std::memcpy(o, in + i, run);
        o += run;
        i += run;
        if (i == n) {
            break;
        }
        std::int32_t c = 0;
        const std::size_t length = nextCodePoint(text, i, c);
        if (c < 0) {
            failInvalidUtf8(text, i);
        }
        if (c > 0xFFFF || fromBmp_[static_cast<std::size_t>(c)] < 0) {
            out.resize(static_cast<std::size_t>(o - out.data()));
            return i;
        }
        *o++ = static_cast<std::uint8_t>(fromBmp_[static_cast<std::size_t>(c)]);
        i += length;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return std::string_view::npos;
}

bool SingleBytePage::carriesUnchanged(ByteView bytes) const
{
    if (!asciiCompatible_) {
        return false;
    }
    const std::size_t n = bytes.size();
    for (std::size_t i = asciiBlocks(bytes.data(), 0, n); i < n; i += 1 + asciiBlocks(bytes.data(), i + 1, n)) {
        if (!roundTrips_[bytes[i]]) {
            return false;
        }
    }
    return true;
}

} // namespace varnook::codepages
