#include "code_page.h"

#include "code_page_paths.h"
#include "core/base/failure.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace varnook {
namespace codepages {

std::size_t nextCodePoint(std::string_view text, std::size_t i, std::int32_t& c)
{
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<std::uint8_t>(text[k]) : 0u; };
    const unsigned first = byte(i);
    if (first < 0x80) {
        c = static_cast<std::int32_t>(first);
        return 1;
    }
    // The well-formed sequences: the second byte's range depends on the first.
    unsigned count = 0, low = 0x80, high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        count = 1;
    } else if (first >= 0xE0 && first <= 0xEF) {
        count = 2, low = first == 0xE0 ? 0xA0 : 0x80, high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        count = 3, low = first == 0xF0 ? 0x90 : 0x80, high = first == 0xF4 ? 0x8F : 0xBF;
    }
    std::int32_t value = static_cast<std::int32_t>(first & (0x3F >> count));
    for (unsigned k = 1; k <= count; ++k) {
        const unsigned next = byte(i + k);
        if (i + k >= text.size() || next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
            c = -1;
            return k;
        }
        value = value << 6 | static_cast<std::int32_t>(next & 0x3F);
    }
    c = count == 0 ? -1 : value;
    return count + 1;
}

void appendUtf8(std::string& out, std::int32_t c)
{
    const auto put = [&](std::int32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | c >> 6), put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | c >> 12), put(0x80 | (c >> 6 & 0x3F)), put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | c >> 18), put(0x80 | (c >> 12 & 0x3F)), put(0x80 | (c >> 6 & 0x3F)), put(0x80 | (c & 0x3F));
    }
}

TextPosition positionInUtf8(std::string_view text, std::size_t offset)
{
    TextPosition position{1, 1};
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++position.line;
            position.column = 1;
        } else if (c != '\r' && !isUtf8Trail(c)) { // the LF after a CR starts the next line
            ++position.column;
        }
    }
    return position;
}

void failInvalidUtf8(std::string_view text, std::size_t offset)
{
    throw Failure("the text is not valid UTF-8 at " + describe(positionInUtf8(text, offset)));
}

void failUndecodable(const std::string& page, ByteView bytes, std::size_t offset, std::size_t length)
{
    static const char* digits = "0123456789ABCDEF";
    std::string shown;
    for (std::size_t k = 0; k < std::max<std::size_t>(length, 1) && offset + k < bytes.size(); ++k) {
        shown += std::string(k > 0 ? " 0x" : "0x") + digits[bytes[offset + k] >> 4] + digits[bytes[offset + k] & 0xF];
    }
    const auto lfs = std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(offset), 0x0A);
    throw Failure("line " + std::to_string(std::min<std::ptrdiff_t>(lfs + 1, 0x7FFFFFFF)) + ": byte " + shown +
                  " has no character in code page " + page);
}

void failUnmappable(const std::string& page, std::string_view text, std::size_t offset)
{
    throw Failure("the character at " + describe(positionInUtf8(text, offset)) + " has no form in code page " + page);
}

} // namespace codepages

std::optional<std::string> utf8Evidence(ByteView bytes)
{
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return "begins with a UTF-8 byte order mark";
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t beyondAscii = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::int32_t c = 0;
        const std::size_t length = codepages::nextCodePoint(text, i, c);
        if (c < 0) {
            return std::nullopt;
        }
        beyondAscii += length > 1;
        i += length;
    }
    if (beyondAscii == 0) {
        return std::nullopt;
    }
    return "holds " + std::to_string(beyondAscii) + (beyondAscii == 1 ? " character" : " characters") +
           " beyond ASCII, all written as UTF-8";
}

std::string describe(const TextPosition& position)
{
    return "line " + std::to_string(position.line) + ", column " + std::to_string(position.column);
}

struct CodePage::Impl {
    std::string name;
    std::optional<codepages::SingleBytePage> single;
    std::optional<codepages::MultiBytePage> multi;
};

CodePage::CodePage(std::shared_ptr<const Impl> impl) : impl_(std::move(impl))
{
}

namespace {

// Names compare as ICU compares them: letters and digits only, in any case.
std::string comparable(std::string_view name)
{
    std::string key;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return key;
}

const codepages::PageTable* tableNamed(std::string_view name)
{
    const std::string key = comparable(name);
    for (std::size_t i = 0; i < codepages::kPageTableCount && !key.empty(); ++i) {
        const codepages::PageTable& table = codepages::kPageTables[i];
        for (std::size_t a = 0; a < table.aliasCount; ++a) {
            if (comparable(table.aliases[a]) == key) {
                return &table;
            }
        }
    }
    return nullptr;
}

} // namespace

std::vector<std::string> CodePage::names()
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < codepages::kPageTableCount; ++i) {
        names.emplace_back(codepages::kPageTables[i].name);
    }
    return names;
}

std::string CodePage::knownNames()
{
    std::string joined;
    for (const auto& name : names()) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined;
}

CodePage CodePage::named(std::string_view name)
{
    const codepages::PageTable* table = tableNamed(name);
    if (table == nullptr) {
        throw Failure("unknown code page \"" + std::string(name) + "\"; the code pages are " + knownNames() +
                      " (or another of their names)");
    }
    auto impl = std::make_shared<Impl>();
    impl->name = std::string(name);
    if (table->singles != nullptr && table->doubles == nullptr) {
        impl->single.emplace(impl->name, *table);
    } else {
        impl->multi.emplace(impl->name, *table);
    }
    CodePage page(std::move(impl));
    // Line breaks and line numbers are found by their ASCII bytes: a code
    // page that stored them otherwise would write files whose lines are not
    // lines.
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
    const std::string_view country = tag.find_first_of("_-") == std::string_view::npos
                                         ? std::string_view()
                                         : tag.substr(tag.find_first_of("_-") + 1);

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
#ifdef _WIN32
    // The system's ANSI code page, as Windows programs take it.
    const unsigned system = GetACP();
    const std::string name = system == 65001 ? "UTF-8" : "windows-" + std::to_string(system);
    // One without a table (none of the locales' pages) reads as windows-1252.
    return named(tableNamed(name) != nullptr ? name : "windows-1252");
#else
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return named(nameForLocale(value));
        }
    }
    return named(nameForLocale(""));
#endif
}

const std::string& CodePage::name() const
{
    return impl_->name;
}

bool CodePage::isSingleByte() const
{
    return impl_->single.has_value();
}

std::string CodePage::toUtf8(ByteView bytes) const
{
    return impl_->single ? impl_->single->toUtf8(bytes) : impl_->multi->toUtf8(bytes);
}

bool CodePage::carriesUnchanged(ByteView bytes) const
{
    return impl_->single && impl_->single->carriesUnchanged(bytes);
}

Bytes CodePage::fromUtf8(std::string_view text) const
{
    Bytes out;
    const std::size_t bad = impl_->single ? impl_->single->fromUtf8(text, out) : impl_->multi->fromUtf8(text, out);
    if (bad != std::string_view::npos) {
        codepages::failUnmappable(impl_->name, text, bad);
    }
    return out;
}

SingleByteText CodePage::toSingleBytes(std::string_view text) const
{
    SingleByteText result;
    const std::size_t bad =
        impl_->single ? impl_->single->fromUtf8(text, result.bytes) : impl_->multi->fromUtf8(text, result.bytes, true);
    if (bad != std::string_view::npos) {
        result.bytes.clear();
        result.offending = codepages::positionInUtf8(text, bad);
    }
    return result;
}

} // namespace varnook
