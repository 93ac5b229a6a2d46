#pragma once

// The two ways CodePage converts, behind its one interface: tables built
// once from ICU for single-byte code pages, ICU's converters for the rest.
// Both convert between bytes and UTF-8 and never substitute.

#include "core/base/bytes.h"
#include "code_page.h"

#include <unicode/ucnv.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnook::codepages {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// An ICU converter that stops at anything without a counterpart.
ConverterPtr openConverter(const std::string& name);

// Where a UTF-8 byte offset lies, as line and column.
TextPosition positionInUtf8(std::string_view text, std::size_t offset);

// The code point at text[i] and its length in bytes; a negative code point
// for an invalid sequence.
std::size_t nextCodePoint(std::string_view text, std::size_t i, UChar32& c);

[[noreturn]] void failInvalidUtf8(std::string_view text, std::size_t offset);
[[noreturn]] void failUndecodable(const std::string& page, ByteView bytes, std::size_t offset, std::size_t length);
[[noreturn]] void failUnmappable(const std::string& page, std::string_view text, std::size_t offset);

class SingleBytePage {
public:
    SingleBytePage(const std::string& name, UConverter* converter);

    std::string toUtf8(ByteView bytes) const;
    // One byte per character; the UTF-8 offset of the first character
    // without a byte, or npos.
    std::size_t fromUtf8(std::string_view text, Bytes& out) const;
    bool carriesUnchanged(ByteView bytes) const;

private:
    std::string name_;
    bool asciiCompatible_ = true;
    std::array<UChar32, 256> toUnicode_{};
    std::array<std::array<char, 4>, 256> utf8_{};
    std::array<std::uint8_t, 256> utf8Length_{};
    std::vector<std::int16_t> fromBmp_; // code point -> byte, -1 when there is none
    std::array<bool, 256> roundTrips_{};
};

class IcuPage {
public:
    IcuPage(std::string name, ConverterPtr converter);

    std::string toUtf8(ByteView bytes) const;
    // The UTF-8 offset of the first character without a form, or npos.
    std::size_t fromUtf8(std::string_view text, Bytes& out) const;
    // The UTF-8 offset of the first character that is not exactly one byte,
    // or npos; out holds the bytes when there is none.
    std::size_t toSingleBytes(std::string_view text, Bytes& out) const;

private:
    std::u16string utf16From(std::string_view text) const;
    std::size_t fromUtf16(const std::u16string& units, Bytes& out) const;
    std::size_t units(ByteView bytes, std::u16string& units) const;
    std::u16string toUtf16(const Bytes& bytes) const;
    std::size_t firstUnitNotRoundTripping(const std::u16string& units) const;

    std::string name_;
    mutable ConverterPtr converter_;
};

} // namespace varnook::codepages
