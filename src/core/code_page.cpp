#include "code_page.h"

#include "failure.h"
#include "simd.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace varnook {
namespace {

constexpr char32_t kUnmapped = 0xFFFFFFFF;
constexpr char32_t kPrivateUseBase = 0xF700;

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(const std::string& name)
{
    UErrorCode error = U_ZERO_ERROR;
    ConverterPtr converter(name.empty() ? nullptr : ucnv_open(name.c_str(), &error));
    if (!converter || U_FAILURE(error)) {
        throw Failure("unknown code page \"" + name + "\"");
    }
    // Never substitute: what has no counterpart stops the conversion.
    error = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    return converter;
}

std::size_t appendUtf8(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Decodes one UTF-8 sequence at text[i]; returns its length, 0 when invalid.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& c)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// Where the UTF-8 byte offset lies, as line and column.
TextPosition positionInUtf8(std::string_view text, std::size_t offset)
{
    TextPosition position{1, 1};
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++position.line;
            position.column = 1;
        } else if (c == '\r') {
            // The LF after it starts the next line.
        } else if ((c & 0xC0) != 0x80) {
            ++position.column;
        }
    }
    return position;
}

[[noreturn]] void failInvalidUtf8(std::string_view text, std::size_t offset)
{
    throw Failure("the text is not valid UTF-8 at " + describe(positionInUtf8(text, offset)));
}

std::string hexByte(unsigned value)
{
    static const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

// The line (counted from 1) that a byte offset lies on, lines ended by LF.
std::int32_t lineOfByte(ByteView bytes, std::size_t offset)
{
    const auto lfs = std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(offset), 0x0A);
    return static_cast<std::int32_t>(std::min<std::ptrdiff_t>(lfs + 1, 0x7FFFFFFF));
}

} // namespace

std::string describe(const TextPosition& position)
{
    return "line " + std::to_string(position.line) + ", column " + std::to_string(position.column);
}

struct CodePage::Impl {
    std::string name;
    bool singleByte = false;

    // Single-byte code pages: tables built once from ICU.
    bool asciiCompatible = false;
    std::array<char32_t, 256> toUnicode{};
    std::array<std::array<char, 4>, 256> utf8{};
    std::array<std::uint8_t, 256> utf8Length{};
    std::vector<std::int16_t> fromBmp; // code point -> byte, -1 when there is none
    std::array<bool, 256> roundTrips{};

    // Other code pages convert through ICU.
    mutable ConverterPtr converter;

    explicit Impl(std::string codePageName) : name(std::move(codePageName)), converter(openConverter(name))
    {
        singleByte = ucnv_getMaxCharSize(converter.get()) == 1;
        if (singleByte) {
            buildTables();
        }
    }

    void buildTables()
    {
        fromBmp.assign(0x10000, -1);
        asciiCompatible = true;
        for (unsigned b = 0; b < 256; ++b) {
            const char in = static_cast<char>(b);
            UChar units[4];
            UErrorCode error = U_ZERO_ERROR;
            ucnv_reset(converter.get());
            const int32_t count = ucnv_toUChars(converter.get(), units, 4, &in, 1, &error);
            toUnicode[b] = kUnmapped;
            if (U_SUCCESS(error) && count == 1 && !U16_IS_SURROGATE(units[0])) {
                toUnicode[b] = units[0];
                utf8Length[b] = static_cast<std::uint8_t>(appendUtf8(units[0], utf8[b].data()));
            }
            if (b < 0x80 && toUnicode[b] != b) {
                asciiCompatible = false;
            }
        }
        // The reverse direction keeps ICU's own choice, but only for characters
        // that some byte stands for: no fallback mapping sneaks in.
        for (unsigned b = 0; b < 256; ++b) {
            const char32_t c = toUnicode[b];
            if (c == kUnmapped) {
                continue;
            }
            const UChar unit = static_cast<UChar>(c);
            char out[4];
            UErrorCode error = U_ZERO_ERROR;
            ucnv_reset(converter.get());
            const int32_t count = ucnv_fromUChars(converter.get(), out, 4, &unit, 1, &error);
            if (U_SUCCESS(error) && count == 1) {
                fromBmp[c] = static_cast<std::uint8_t>(out[0]);
            }
        }
        // A byte the code page leaves undefined still has to come back as
        // itself: it reads as the private-use character U+F700 + byte.
        for (unsigned b = 0; b < 256; ++b) {
            const char32_t stand = kPrivateUseBase + b;
            if (toUnicode[b] == kUnmapped && fromBmp[stand] < 0 &&
                std::find(toUnicode.begin(), toUnicode.end(), stand) == toUnicode.end()) {
                toUnicode[b] = stand;
                utf8Length[b] = static_cast<std::uint8_t>(appendUtf8(stand, utf8[b].data()));
                fromBmp[stand] = static_cast<std::int16_t>(b);
            }
        }
        for (unsigned b = 0; b < 256; ++b) {
            roundTrips[b] = toUnicode[b] != kUnmapped && toUnicode[b] <= 0xFFFF && fromBmp[toUnicode[b]] == int(b);
        }
    }

    [[noreturn]] void failUndecodable(ByteView bytes, std::size_t offset, std::size_t length) const
    {
        std::string shown;
        for (std::size_t k = 0; k < std::max<std::size_t>(length, 1) && offset + k < bytes.size(); ++k) {
            if (k > 0) {
                shown += ' ';
            }
            shown += hexByte(bytes[offset + k]);
        }
        throw Failure("line " + std::to_string(lineOfByte(bytes, offset)) + ": byte " + shown +
                      " has no character in code page " + name);
    }

    [[noreturn]] void failUnmappable(std::string_view text, std::size_t offset) const
    {
        throw Failure("the character at " + describe(positionInUtf8(text, offset)) +
                      " has no form in code page " + name);
    }

    std::string singleToUtf8(ByteView bytes) const
    {
        const std::uint8_t* in = bytes.data();
        const std::size_t n = bytes.size();
        // First the exact size, so the result is allocated once.
        std::size_t size = 0;
        std::size_t i = 0;
        if (asciiCompatible) {
#if VARNOOK_SSE2
            for (; i + 16 <= n; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
                if (_mm_movemask_epi8(v) == 0) {
                    size += 16;
                    continue;
                }
                for (std::size_t k = i; k < i + 16; ++k) {
                    size += utf8Length[in[k]];
                    if (toUnicode[in[k]] == kUnmapped) {
                        failUndecodable(bytes, k, 1);
                    }
                }
            }
#endif
        }
        for (; i < n; ++i) {
            if (toUnicode[in[i]] == kUnmapped) {
                failUndecodable(bytes, i, 1);
            }
            size += utf8Length[in[i]];
        }

        std::string out(size, '\0');
        char* o = out.data();
        i = 0;
        if (asciiCompatible) {
#if VARNOOK_SSE2
            for (; i + 16 <= n; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
                if (_mm_movemask_epi8(v) == 0) {
                    std::memcpy(o, in + i, 16);
                    o += 16;
                    continue;
                }
                for (std::size_t k = i; k < i + 16; ++k) {
                    std::memcpy(o, utf8[in[k]].data(), utf8Length[in[k]]);
                    o += utf8Length[in[k]];
                }
            }
#endif
        }
        for (; i < n; ++i) {
            const auto length = utf8Length[in[i]];
            std::memcpy(o, utf8[in[i]].data(), length);
            o += length;
        }
        return out;
    }

    // Converts to one byte per character; returns the UTF-8 offset of the
    // first character without a byte, or npos. Throws for invalid UTF-8.
    std::size_t singleFromUtf8(std::string_view text, Bytes& out) const
    {
        const std::size_t n = text.size();
        out.resize(n);
        std::uint8_t* o = out.data();
        const char* in = text.data();
        std::size_t i = 0;
        while (i < n) {
#if VARNOOK_SSE2
            if (asciiCompatible && i + 16 <= n) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
                if (_mm_movemask_epi8(v) == 0) {
                    std::memcpy(o, in + i, 16);
                    o += 16;
                    i += 16;
                    continue;
                }
            }
#endif
            char32_t c = 0;
            const std::size_t length = decodeUtf8(text, i, c);
            if (length == 0) {
                failInvalidUtf8(text, i);
            }
            if (c > 0xFFFF || fromBmp[c] < 0) {
                out.resize(static_cast<std::size_t>(o - out.data()));
                return i;
            }
            *o++ = static_cast<std::uint8_t>(fromBmp[c]);
            i += length;
        }
        out.resize(static_cast<std::size_t>(o - out.data()));
        return std::string_view::npos;
    }

    std::u16string utf16From(std::string_view text) const
    {
        std::u16string units(text.size(), u'\0');
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8(reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()), &length,
                      text.data(), static_cast<int32_t>(text.size()), &error);
        if (U_FAILURE(error)) {
            // Find the first invalid sequence for the message.
            char32_t c = 0;
            std::size_t i = 0;
            while (i < text.size()) {
                const std::size_t step = decodeUtf8(text, i, c);
                if (step == 0) {
                    failInvalidUtf8(text, i);
                }
                i += step;
            }
            throw Failure("the text cannot be converted to code page " + name);
        }
        units.resize(static_cast<std::size_t>(length));
        return units;
    }

    // UTF-8 offset of the UTF-16 unit at index unit.
    static std::size_t utf8OffsetOfUnit(std::string_view text, std::size_t unit)
    {
        std::size_t i = 0;
        std::size_t units = 0;
        char32_t c = 0;
        while (i < text.size() && units < unit) {
            const std::size_t length = decodeUtf8(text, i, c);
            units += c > 0xFFFF ? 2 : 1;
            i += std::max<std::size_t>(length, 1);
        }
        return i;
    }

    // Converts through ICU; returns the UTF-16 index of the first unit that
    // has no form in the code page, or npos.
    std::size_t icuFromUtf16(const std::u16string& units, Bytes& out) const
    {
        UConverter* c = converter.get();
        ucnv_reset(c);
        out.resize(static_cast<std::size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(units.size(), ucnv_getMaxCharSize(c))));
        char* target = reinterpret_cast<char*>(out.data());
        const UChar* source = reinterpret_cast<const UChar*>(units.data());
        const UChar* sourceEnd = source + units.size();
        UErrorCode error = U_ZERO_ERROR;
        ucnv_fromUnicode(c, &target, target + out.size(), &source, sourceEnd, nullptr, true, &error);
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
        if (icuToUtf16(out) != units) {
            return firstUnitNotRoundTripping(units);
        }
        return std::string_view::npos;
    }

    // The bytes as UTF-16; empty when they do not convert.
    std::u16string icuToUtf16(const Bytes& bytes) const
    {
        UConverter* c = converter.get();
        ucnv_reset(c);
        std::u16string units(bytes.size() + 1, u'\0');
        UChar* target = reinterpret_cast<UChar*>(units.data());
        const char* source = reinterpret_cast<const char*>(bytes.data());
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(c, &target, target + units.size(), &source, source + bytes.size(), nullptr, true, &error);
        if (U_FAILURE(error)) {
            return {};
        }
        units.resize(static_cast<std::size_t>(target - reinterpret_cast<UChar*>(units.data())));
        return units;
    }

    // The index of the first character that does not come back through the
    // code page on its own.
    std::size_t firstUnitNotRoundTripping(const std::u16string& units) const
    {
        std::size_t i = 0;
        while (i < units.size()) {
            const std::size_t length = U16_IS_LEAD(units[i]) && i + 1 < units.size() ? 2 : 1;
            const std::u16string one = units.substr(i, length);
            UConverter* c = converter.get();
            ucnv_reset(c);
            char bytes[16];
            UErrorCode error = U_ZERO_ERROR;
            const int32_t count = ucnv_fromUChars(c, bytes, sizeof bytes, reinterpret_cast<const UChar*>(one.data()),
                                                  static_cast<int32_t>(one.size()), &error);
            if (U_FAILURE(error) || count <= 0 ||
                icuToUtf16(Bytes(bytes, bytes + count)) != one) {
                return i;
            }
            i += length;
        }
        return 0;
    }

    std::string icuToUtf8(ByteView bytes) const
    {
        UConverter* c = converter.get();
        ucnv_reset(c);
        std::u16string units(bytes.size() + 1, u'\0');
        UChar* target = reinterpret_cast<UChar*>(units.data());
        const char* source = reinterpret_cast<const char*>(bytes.data());
        const char* sourceEnd = source + bytes.size();
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(c, &target, target + units.size(), &source, sourceEnd, nullptr, true, &error);
        if (U_FAILURE(error)) {
            char bad[32];
            int8_t badLength = 32;
            UErrorCode ignored = U_ZERO_ERROR;
            ucnv_getInvalidChars(c, bad, &badLength, &ignored);
            const auto consumed = static_cast<std::size_t>(source - reinterpret_cast<const char*>(bytes.data()));
            const auto length = static_cast<std::size_t>(std::max<int8_t>(badLength, 1));
            failUndecodable(bytes, consumed - std::min(consumed, length), length);
        }
        units.resize(static_cast<std::size_t>(target - reinterpret_cast<UChar*>(units.data())));
        std::string out(units.size() * 3, '\0');
        int32_t length = 0;
        error = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, reinterpret_cast<const UChar*>(units.data()),
                    static_cast<int32_t>(units.size()), &error);
        if (U_FAILURE(error)) {
            throw Failure("the text cannot be converted from code page " + name);
        }
        out.resize(static_cast<std::size_t>(length));
        return out;
    }

    // The first character of the text that is not exactly one byte, as a
    // UTF-8 offset; npos when there is none.
    std::size_t icuFirstNotSingle(std::string_view text) const
    {
        std::size_t i = 0;
        char32_t c = 0;
        while (i < text.size()) {
            const std::size_t length = decodeUtf8(text, i, c);
            if (length == 0) {
                failInvalidUtf8(text, i);
            }
            Bytes one;
            if (c > 0xFFFF || icuFromUtf16(utf16From(text.substr(i, length)), one) != std::string_view::npos ||
                one.size() != 1) {
                return i;
            }
            i += length;
        }
        return std::string_view::npos;
    }
};

CodePage::CodePage(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

CodePage CodePage::named(std::string_view name)
{
    CodePage page(std::make_shared<const Impl>(std::string(name)));
    // Line breaks and line numbers are found by their ASCII bytes: a code
    // page that stores them otherwise (EBCDIC, UTF-16) would write files
    // whose lines are not lines.
    for (const char c : std::string_view("\r\n 0123456789")) {
        const Bytes byte{static_cast<std::uint8_t>(c)};
        bool same = false;
        try {
            same = page.toUtf8(byte) == std::string(1, c) && page.fromUtf8(std::string(1, c)) == byte;
        } catch (const Failure&) {
        }
        if (!same) {
            throw Failure("code page \"" + page.name() +
                          "\" does not store CR, LF, the blank and the digits as their ASCII bytes");
        }
    }
    return page;
}

std::string CodePage::nameForLocale(std::string_view locale)
{
    // "ll_CC.codeset@modifier"
    const std::string_view withoutModifier = locale.substr(0, locale.find('@'));
    const std::string_view modifier =
        locale.find('@') == std::string_view::npos ? std::string_view() : locale.substr(locale.find('@') + 1);
    const std::string_view tag = withoutModifier.substr(0, withoutModifier.find('.'));
    const std::string_view language = tag.substr(0, tag.find_first_of("_-"));
    const std::string_view country =
        tag.find_first_of("_-") == std::string_view::npos ? std::string_view() : tag.substr(tag.find_first_of("_-") + 1);

    const auto in = [&](std::initializer_list<std::string_view> list) {
        return std::find(list.begin(), list.end(), language) != list.end();
    };
    int page = 1252;
    if (language == "ja") {
        page = 932;
    } else if (language == "zh") {
        page = (country == "TW" || country == "HK" || country == "MO") ? 950 : 936;
    } else if (language == "ko") {
        page = 949;
    } else if (language == "th") {
        page = 874;
    } else if (in({"cs", "hu", "pl", "ro", "sk", "sl", "hr", "sq", "bs", "hsb", "dsb"}) ||
               (language == "sr" && modifier == "latin")) {
        page = 1250;
    } else if (in({"ru", "uk", "be", "bg", "mk", "sr", "kk", "ky", "tt", "mn", "ba", "sah", "tg", "cv"})) {
        page = 1251;
    } else if (language == "el") {
        page = 1253;
    } else if (in({"tr", "az"})) {
        page = 1254;
    } else if (in({"he", "iw", "yi"})) {
        page = 1255;
    } else if (in({"ar", "fa", "ur", "ps", "ug", "sd"})) {
        page = 1256;
    } else if (in({"et", "lv", "lt"})) {
        page = 1257;
    } else if (language == "vi") {
        page = 1258;
    }
    return "windows-" + std::to_string(page);
}

CodePage CodePage::fromEnvironment()
{
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return named(nameForLocale(value));
        }
    }
    return named(nameForLocale(""));
}

const std::string& CodePage::name() const
{
    return impl_->name;
}

bool CodePage::isSingleByte() const
{
    return impl_->singleByte;
}

std::string CodePage::toUtf8(ByteView bytes) const
{
    return impl_->singleByte ? impl_->singleToUtf8(bytes) : impl_->icuToUtf8(bytes);
}

bool CodePage::carriesUnchanged(ByteView bytes) const
{
    const Impl& page = *impl_;
    if (!page.singleByte || !page.asciiCompatible) {
        return false;
    }
    const std::uint8_t* in = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
#if VARNOOK_SSE2
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(v) == 0) {
            continue;
        }
        for (std::size_t k = i; k < i + 16; ++k) {
            if (!page.roundTrips[in[k]]) {
                return false;
            }
        }
    }
#endif
    for (; i < n; ++i) {
        if (!page.roundTrips[in[i]]) {
            return false;
        }
    }
    return true;
}

Bytes CodePage::fromUtf8(std::string_view text) const
{
    Bytes out;
    if (impl_->singleByte) {
        const std::size_t bad = impl_->singleFromUtf8(text, out);
        if (bad != std::string_view::npos) {
            impl_->failUnmappable(text, bad);
        }
        return out;
    }
    const std::u16string units = impl_->utf16From(text);
    const std::size_t bad = impl_->icuFromUtf16(units, out);
    if (bad != std::string_view::npos) {
        impl_->failUnmappable(text, Impl::utf8OffsetOfUnit(text, bad));
    }
    return out;
}

SingleByteText CodePage::toSingleBytes(std::string_view text) const
{
    SingleByteText result;
    std::size_t bad = std::string_view::npos;
    if (impl_->singleByte) {
        bad = impl_->singleFromUtf8(text, result.bytes);
    } else {
        const std::u16string units = impl_->utf16From(text);
        if (impl_->icuFromUtf16(units, result.bytes) != std::string_view::npos ||
            result.bytes.size() != units.size()) {
            bad = impl_->icuFirstNotSingle(text);
            if (bad == std::string_view::npos) {
                bad = 0; // stateful code pages: no single character to blame
            }
        }
    }
    if (bad != std::string_view::npos) {
        result.bytes.clear();
        result.offending = positionInUtf8(text, bad);
    }
    return result;
}

} // namespace varnook
