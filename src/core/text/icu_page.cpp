#include "code_page_paths.h"
#include "core/base/failure.h"

#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>

namespace varnook::codepages {
namespace {

// UTF-8 offset of the UTF-16 unit at index unit.
std::size_t utf8OffsetOfUnit(std::string_view text, std::size_t unit)
{
    std::size_t i = 0;
    std::size_t units = 0;
    UChar32 c = 0;
    while (i < text.size() && units < unit) {
        i += std::max<std::size_t>(nextCodePoint(text, i, c), 1);
        units += c > 0xFFFF ? 2 : 1;
    }
    return i;
}

} // namespace

IcuPage::IcuPage(std::string name, ConverterPtr converter) : name_(std::move(name)), converter_(std::move(converter))
{
}

std::u16string IcuPage::utf16From(std::string_view text) const
{
    std::u16string units(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()), &length, text.data(),
                  static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error)) {
        // Find the first invalid sequence for the message.
        UChar32 c = 0;
        for (std::size_t i = 0; i < text.size(); i += nextCodePoint(text, i, c)) {
            if (nextCodePoint(text, i, c) == 0 || c < 0) {
                failInvalidUtf8(text, i);
            }
        }
        throw Failure("the text cannot be converted to code page " + name_);
    }
    units.resize(static_cast<std::size_t>(length));
    return units;
}

// Returns the UTF-16 index of the first unit that has no form, or npos.
std::size_t IcuPage::fromUtf16(const std::u16string& units, Bytes& out) const
{
    UConverter* c = converter_.get();
    ucnv_reset(c);
    out.resize(static_cast<std::size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(units.size(), ucnv_getMaxCharSize(c))));
    char* target = reinterpret_cast<char*>(out.data());
    const UChar* source = reinterpret_cast<const UChar*>(units.data());
    UErrorCode error = U_ZERO_ERROR;
    ucnv_fromUnicode(c, &target, target + out.size(), &source, source + units.size(), nullptr, true, &error);
    out.resize(static_cast<std::size_t>(target - reinterpret_cast<char*>(out.data())));
    if (U_FAILURE(error)) {
        UChar bad[8];
        int8_t badLength = 8;
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidUChars(c, bad, &badLength, &ignored);
        const auto consumed = static_cast<std::size_t>(source - reinterpret_cast<const UChar*>(units.data()));
        return consumed - std::min<std::size_t>(consumed, static_cast<std::size_t>(std::max<int8_t>(badLength, 0)));
    }
    // ICU drops some characters it cannot map (format controls such as
    // U+202C) without a word: the bytes must give the text back.
    if (toUtf16(out) != units) {
        return firstUnitNotRoundTripping(units);
    }
    return std::string_view::npos;
}

// Converts the bytes into units; on failure, returns how many bytes were
// consumed before ICU stopped, else npos.
std::size_t IcuPage::units(ByteView bytes, std::u16string& units) const
{
    ucnv_reset(converter_.get());
    units.assign(bytes.size() + 1, u'\0');
    UChar* target = reinterpret_cast<UChar*>(units.data());
    const char* source = reinterpret_cast<const char*>(bytes.data());
    UErrorCode error = U_ZERO_ERROR;
    ucnv_toUnicode(converter_.get(), &target, target + units.size(), &source, source + bytes.size(), nullptr, true,
                   &error);
    units.resize(static_cast<std::size_t>(target - reinterpret_cast<UChar*>(units.data())));
    const auto consumed = static_cast<std::size_t>(source - reinterpret_cast<const char*>(bytes.data()));
    return U_FAILURE(error) ? consumed : std::string_view::npos;
}

// The bytes as UTF-16; empty when they do not convert.
std::u16string IcuPage::toUtf16(const Bytes& bytes) const
{
    std::u16string converted;
    return units(bytes, converted) == std::string_view::npos ? converted : std::u16string();
}

// The index of the first character that does not come back through the code
// page on its own.
std::size_t IcuPage::firstUnitNotRoundTripping(const std::u16string& units) const
{
    for (std::size_t i = 0; i < units.size();) {
        const std::size_t length = U16_IS_LEAD(units[i]) && i + 1 < units.size() ? 2 : 1;
        const std::u16string one = units.substr(i, length);
        ucnv_reset(converter_.get());
        char bytes[16];
        UErrorCode error = U_ZERO_ERROR;
        const int32_t count =
            ucnv_fromUChars(converter_.get(), bytes, sizeof bytes, reinterpret_cast<const UChar*>(one.data()),
                            static_cast<int32_t>(one.size()), &error);
        if (U_FAILURE(error) || count <= 0 || toUtf16(Bytes(bytes, bytes + count)) != one) {
            return i;
        }
        i += length;
    }
    return 0;
}

std::string IcuPage::toUtf8(ByteView bytes) const
{
    std::u16string units;
    const std::size_t consumed = this->units(bytes, units);
    if (consumed != std::string_view::npos) {
        char bad[32];
        int8_t badLength = 32;
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidChars(converter_.get(), bad, &badLength, &ignored);
        const auto length = static_cast<std::size_t>(std::max<int8_t>(badLength, 1));
        failUndecodable(name_, bytes, consumed - std::min(consumed, length), length);
    }
    std::string out(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, reinterpret_cast<const UChar*>(units.data()),
                static_cast<int32_t>(units.size()), &error);
    if (U_FAILURE(error)) {
        throw Failure("the text cannot be converted from code page " + name_);
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::size_t IcuPage::fromUtf8(std::string_view text, Bytes& out) const
{
    const std::size_t bad = fromUtf16(utf16From(text), out);
    return bad == std::string_view::npos ? bad : utf8OffsetOfUnit(text, bad);
}

std::size_t IcuPage::toSingleBytes(std::string_view text, Bytes& out) const
{
    const std::u16string units = utf16From(text);
    if (fromUtf16(units, out) == std::string_view::npos && out.size() == units.size()) {
        return std::string_view::npos;
    }
    // Which character is it: each on its own must give exactly one byte.
    UChar32 c = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = nextCodePoint(text, i, c);
        Bytes one;
        if (c > 0xFFFF || fromUtf16(utf16From(text.substr(i, length)), one) != std::string_view::npos ||
            one.size() != 1) {
            return i;
        }
        i += length;
    }
    return 0; // stateful code pages: no single character to blame
}

} // namespace varnook::codepages
