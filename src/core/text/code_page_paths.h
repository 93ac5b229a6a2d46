#pragma once

// The three ways CodePage converts, behind its one interface: single-byte
// pages, pages with two-byte characters, and UTF-8. Each converts between
// bytes and UTF-8 from the generated tables and never substitutes.

#include "code_page.h"
#include "code_page_tables.h"
#include "core/base/bytes.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnook::codepages {

// The code point at text[i] and its length in bytes (at least 1); a
// negative code point for an ill-formed sequence, whose length is then its
// longest well-formed start.
std::size_t nextCodePoint(std::string_view text, std::size_t i, std::int32_t& c);
// Appends the code point (below U+110000) as UTF-8.
void appendUtf8(std::string& out, std::int32_t c);
// Whether the byte continues a UTF-8 sequence.
inline bool isUtf8Trail(std::uint8_t byte)
{
    return (byte & 0xC0) == 0x80;
}

// Where a UTF-8 byte offset lies, as line and column.
TextPosition positionInUtf8(std::string_view text, std::size_t offset);

[[noreturn]] void failInvalidUtf8(std::string_view text, std::size_t offset);
[[noreturn]] void failUndecodable(const std::string& page, ByteView bytes, std::size_t offset, std::size_t length);
[[noreturn]] void failUnmappable(const std::string& page, std::string_view text, std::size_t offset);

class SingleBytePage {
public:
    SingleBytePage(const std::string& name, const PageTable& table);

    std::string toUtf8(ByteView bytes) const;
    // One byte per character; the UTF-8 offset of the first character
    // without a byte, or npos.
    std::size_t fromUtf8(std::string_view text, Bytes& out) const;
    bool carriesUnchanged(ByteView bytes) const;

private:
    std::string name_;
    bool asciiCompatible_ = true;
    std::array<std::int32_t, 256> toUnicode_{};
    std::array<std::array<char, 4>, 256> utf8_{};
    std::array<std::uint8_t, 256> utf8Length_{};
    std::vector<std::int16_t> fromBmp_; // code point -> byte, -1 when there is none
    std::array<bool, 256> roundTrips_{};
};

// Pages with lead bytes (windows-932, -936, -949, -950) and UTF-8.
class MultiBytePage {
public:
    MultiBytePage(const std::string& name, const PageTable& table);

    std::string toUtf8(ByteView bytes) const;
    // The UTF-8 offset of the first character without a form (with
    // singleOnly: without a one-byte form), or npos.
    std::size_t fromUtf8(std::string_view text, Bytes& out, bool singleOnly = false) const;

private:
    // The character of the sequence at i and its length; kNone when it has none.
    char16_t read(ByteView bytes, std::size_t i, std::size_t& length) const;

    std::string name_;
    const PageTable& table_;
    std::array<std::int16_t, 256> leadIndex_{}; // -1 for a byte that is no lead byte
    std::vector<std::uint16_t> fromBmp_; // code point -> sequence + 1, 0 when there is none
};

} // namespace varnook::codepages
