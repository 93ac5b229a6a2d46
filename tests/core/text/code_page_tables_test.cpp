// The generated tables against ICU, whose converters they were made from:
// every byte sequence reads, and every character writes, as ICU reads and
// writes it, both ways, in every page (ICU's writing taken only where it
// reads back: nothing is substituted).

#include "core/base/failure.h"
#include "core/text/code_page.h"
#include "core/text/code_page_tables.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <optional>
#include <string>

using namespace varnook;

namespace {

class Icu {
public:
    explicit Icu(const char* name)
    {
        UErrorCode error = U_ZERO_ERROR;
        converter_ = ucnv_open(name, &error);
        EXPECT_TRUE(U_SUCCESS(error)) << name;
        ucnv_setToUCallBack(converter_, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
        ucnv_setFromUCallBack(converter_, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    }
    ~Icu() { ucnv_close(converter_); }
    Icu(const Icu&) = delete;
    Icu& operator=(const Icu&) = delete;

    // The text the bytes read as, nothing when they do not read.
    std::optional<std::u16string> read(const std::string& bytes) const
    {
        UChar units[16];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_reset(converter_);
        const int32_t count =
            ucnv_toUChars(converter_, units, 16, bytes.data(), static_cast<int32_t>(bytes.size()), &error);
        if (U_FAILURE(error)) {
            return std::nullopt;
        }
        return std::u16string(reinterpret_cast<const char16_t*>(units), static_cast<std::size_t>(count));
    }
    // The bytes the text writes as, nothing when ICU writes none that read back as it.
    std::optional<std::string> write(const std::u16string& text) const
    {
        char bytes[16];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_reset(converter_);
        const int32_t count = ucnv_fromUChars(converter_, bytes, 16, reinterpret_cast<const UChar*>(text.data()),
                                              static_cast<int32_t>(text.size()), &error);
        const std::string written(bytes, static_cast<std::size_t>(std::max(count, 0)));
        if (U_FAILURE(error) || count <= 0 || read(written) != text) {
            return std::nullopt;
        }
        return written;
    }

private:
    UConverter* converter_ = nullptr;
};

// ICU's UTF-8 of the units: the reference is none of ours.
std::string utf8(std::u16string_view units)
{
    std::string out(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, reinterpret_cast<const UChar*>(units.data()),
                static_cast<int32_t>(units.size()), &error);
    EXPECT_TRUE(U_SUCCESS(error));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

template <class Step> std::optional<std::string> attempt(Step step)
{
    try {
        return step();
    } catch (const Failure&) {
        return std::nullopt;
    }
}

} // namespace

TEST(CodePageTables, ReadAndWriteAsIcuDoes)
{
    for (std::size_t p = 0; p < codepages::kPageTableCount; ++p) {
        const codepages::PageTable& table = codepages::kPageTables[p];
        const Icu icu(table.name);
        const CodePage page = CodePage::named(table.name);
        std::size_t differences = 0;
        const auto expectSame = [&](const std::optional<std::string>& ours, const std::optional<std::string>& theirs,
                                    const std::string& what) {
            if (ours != theirs && ++differences <= 5) {
                ADD_FAILURE() << table.name << ": " << what;
            }
        };
        // Reading: every byte, every byte after each byte that starts a character.
        for (unsigned first = 0; first < 256; ++first) {
            const std::string one(1, static_cast<char>(first));
            const auto theirs = icu.read(one);
            const auto ours = attempt([&] { return page.toUtf8(Bytes{static_cast<std::uint8_t>(first)}); });
            // A single-byte page reads an undefined byte as U+F700 + byte.
            const bool standIn = !theirs && page.isSingleByte() &&
                                 ours == utf8(std::u16string(1, static_cast<char16_t>(0xF700 + first)));
            if (!standIn) {
                expectSame(ours, theirs ? std::optional(utf8(*theirs)) : std::nullopt, "byte " + std::to_string(first));
            }
            if (theirs || page.isSingleByte()) {
                continue;
            }
            for (unsigned second = 0; second < 256; ++second) {
                const std::string two{static_cast<char>(first), static_cast<char>(second)};
                const auto pair = icu.read(two);
                const auto ourPair = attempt([&] { return page.toUtf8(Bytes(two.begin(), two.end())); });
                expectSame(ourPair, pair ? std::optional(utf8(*pair)) : std::nullopt,
                           "bytes " + std::to_string(first) + " " + std::to_string(second));
            }
        }
        // Writing: every character of the first plane and some beyond it.
        for (std::uint32_t c = 0; c < 0x10000 + 0x400; ++c) {
            if (c >= 0xD800 && c < 0xE000) {
                continue;
            }
            const std::u16string text =
                c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                            : std::u16string{char16_t(0xD800 + (c - 0x10000) / 0x400), char16_t(0xDC00 + c % 0x400)};
            auto theirs = icu.write(text);
            const auto ours = attempt([&]() -> std::optional<std::string> {
                // A single-byte page says so without a failure: quicker over
                // the thousands of characters it has no byte for.
                const Bytes bytes =
                    page.isSingleByte() ? page.toSingleBytes(utf8(text)).bytes : page.fromUtf8(utf8(text));
                return bytes.empty() ? std::nullopt : std::optional(std::string(bytes.begin(), bytes.end()));
            });
            if (!theirs && page.isSingleByte() && c >= 0xF700 && c < 0xF800 &&
                ours == std::string(1, static_cast<char>(c - 0xF700))) {
                continue; // the stand-in of an undefined byte
            }
            expectSame(ours, theirs, "character " + std::to_string(c));
        }
        EXPECT_EQ(differences, 0u) << table.name;
    }
}
