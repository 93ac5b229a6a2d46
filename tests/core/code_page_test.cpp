#include "core/code_page.h"
#include "core/failure.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

namespace {


class ScopedEnvironment {
public:
    ScopedEnvironment()
    {
        for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST(CodePageChoice, FollowsTheLocaleLikeWindows)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "windows-1252"},          {"C", "windows-1252"},          {"POSIX", "windows-1252"},
        {"en_US.UTF-8", "windows-1252"}, {"de_DE@euro", "windows-1252"}, {"ja_JP.UTF-8", "windows-932"},
        {"ja_JP.eucJP", "windows-932"},  {"zh_CN.UTF-8", "windows-936"}, {"zh_SG", "windows-936"},
        {"zh_TW.UTF-8", "windows-950"},  {"zh_HK", "windows-950"},       {"ko_KR.UTF-8", "windows-949"},
        {"th_TH", "windows-874"},        {"pl_PL.UTF-8", "windows-1250"}, {"cs_CZ", "windows-1250"},
        {"ru_RU.UTF-8", "windows-1251"}, {"uk_UA", "windows-1251"},      {"sr_RS@latin", "windows-1250"},
        {"el_GR", "windows-1253"},       {"tr_TR", "windows-1254"},      {"az_AZ", "windows-1254"},
        {"he_IL", "windows-1255"},       {"ar_EG", "windows-1256"},      {"fa_IR", "windows-1256"},
        {"ur_PK", "windows-1256"},       {"lt_LT", "windows-1257"},      {"et_EE", "windows-1257"},
        {"vi_VN", "windows-1258"},
    };
    for (const auto& [locale, name] : cases) {
        EXPECT_EQ(CodePage::nameForLocale(locale), name) << locale;
        EXPECT_NO_THROW(CodePage::named(name)) << name;
    }
}

TEST(CodePageChoice, LcAllThenLcCtypeThenLang)
{
    ScopedEnvironment environment;
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-1252");
    ::setenv("LANG", "ru_RU.UTF-8", 1);
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-1251");
    ::setenv("LC_CTYPE", "ja_JP.UTF-8", 1);
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-932");
    ::setenv("LC_ALL", "el_GR.UTF-8", 1);
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-1253");
    ::setenv("LC_ALL", "", 1);
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-932") << "an empty value does not count";
}

TEST(CodePageChoice, UnknownNamesFail)
{
    EXPECT_THAT(failureOf([] { CodePage::named("no-such-page"); }), HasSubstr("\"no-such-page\""));
    EXPECT_THROW(CodePage::named(""), Failure);
}

TEST(SingleByteCodePage, EveryByteSurvivesTheRoundTrip)
{
    for (const char* name : {"windows-1252", "windows-1250", "windows-1251", "windows-1254"}) {
        const CodePage page = CodePage::named(name);
        ASSERT_TRUE(page.isSingleByte());
        Bytes all;
        for (int b = 0x01; b <= 0xFE; ++b) {
            all.push_back(static_cast<std::uint8_t>(b));
        }
        EXPECT_EQ(page.fromUtf8(page.toUtf8(all)), all) << name;
    }
}

TEST(SingleByteCodePage, Windows1252Characters)
{
    const CodePage page = CodePage::named("windows-1252");
    EXPECT_EQ(page.toUtf8(hex("80 81 A0 E9 FF")), "\u20AC\u0081\u00A0\u00E9\u00FF");
    EXPECT_EQ(page.fromUtf8("\u00A0"), hex("A0")) << "a no-break space stays one";
    const SingleByteText single = page.toSingleBytes("10 PRINT \"\u00C4\u20AC\"");
    EXPECT_FALSE(single.offending);
    EXPECT_EQ(single.bytes, bytesOf("10 PRINT \"\xC4\x80\""));
}

// Long texts with non-ASCII characters at every place around the 16-byte blocks.
TEST(SingleByteCodePage, RandomTextsRoundTrip)
{
    const CodePage page = CodePage::named("windows-1252");
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes(random() % 200);
        for (auto& byte : bytes) {
            byte = random() % 8 == 0 ? static_cast<std::uint8_t>(0x80 + random() % 0x80)
                                     : static_cast<std::uint8_t>(0x20 + random() % 0x5F);
        }
        const std::string text = page.toUtf8(bytes);
        ASSERT_EQ(page.fromUtf8(text), bytes);
        ASSERT_EQ(page.toSingleBytes(text).bytes, bytes);
    }
}

TEST(SingleByteCodePage, NothingIsSubstituted)
{
    const CodePage western = CodePage::named("windows-1252");
    EXPECT_THAT(failureOf([&] { western.fromUtf8("10 A\r\n20 B\u65E5"); }),
                HasSubstr("character at line 2, column 5 has no form in code page windows-1252"));
    EXPECT_THAT(failureOf([&] { western.fromUtf8("\u2264"); }), HasSubstr("line 1, column 1"))
        << "no best-fit stand-in for a character the page lacks";
    EXPECT_THAT(failureOf([&] { western.fromUtf8("ok\xC3"); }), HasSubstr("not valid UTF-8"));

    const SingleByteText single = western.toSingleBytes("AB\r\nC\u65E5");
    ASSERT_TRUE(single.offending);
    EXPECT_EQ(single.offending->line, 2);
    EXPECT_EQ(single.offending->column, 2);
    EXPECT_TRUE(single.bytes.empty());
}

// Every byte comes back as itself; one the code page leaves undefined reads
// as U+F700 + byte, the same in every page.
TEST(SingleByteCodePage, EveryByteRoundTripsInEveryWindowsPage)
{
    Bytes all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<std::uint8_t>(b));
    }
    for (const char* name : kSingleByteWindowsPages) {
        const CodePage page = CodePage::named(name);
        const std::string text = page.toUtf8(all);
        EXPECT_EQ(page.fromUtf8(text), all) << name;
        EXPECT_EQ(page.toSingleBytes(text).bytes, all) << name;
        EXPECT_TRUE(page.carriesUnchanged(all)) << name;
    }
    const struct {
        const char* page;
        std::uint8_t byte;
        const char* text;
    } undefined[] = {{"windows-1253", 0xD2, "\uF7D2"}, {"windows-1255", 0xFC, "\uF7FC"}, {"windows-1257", 0xA1, "\uF7A1"}};
    for (const auto& u : undefined) {
        EXPECT_EQ(CodePage::named(u.page).toUtf8(Bytes{u.byte}), u.text) << u.page;
    }
    EXPECT_EQ(CodePage::named("windows-1252").toUtf8(hex("81")), "\u0081") << "ICU's own mapping stays";
}

TEST(DoubleByteCodePage, ConvertsAndFindsDoubleByteCharacters)
{
    const CodePage japanese = CodePage::named("windows-932");
    EXPECT_FALSE(japanese.isSingleByte());
    const Bytes bytes = hex("31 30 20 93 FA 96 7B 0D 0A B1");
    const std::string text = japanese.toUtf8(bytes);
    EXPECT_EQ(text, "10 \u65E5\u672C\r\n\uFF71");
    EXPECT_EQ(japanese.fromUtf8(text), bytes);

    const SingleByteText check = japanese.toSingleBytes(text);
    ASSERT_TRUE(check.offending);
    EXPECT_EQ(check.offending->line, 1);
    EXPECT_EQ(check.offending->column, 4);

    const SingleByteText halfWidth = japanese.toSingleBytes("A\uFF71B");
    EXPECT_FALSE(halfWidth.offending) << "half-width katakana are single bytes";
    EXPECT_EQ(halfWidth.bytes, hex("41 B1 42"));

    EXPECT_THAT(failureOf([&] { japanese.toUtf8(hex("41 0D 0A 42 81")); }), HasSubstr("line 2: byte 0x81"));
    EXPECT_THAT(failureOf([&] { japanese.fromUtf8("A\u00E9"); }), HasSubstr("line 1, column 2"));
    // ICU drops some format controls it cannot map without saying so.
    EXPECT_THAT(failureOf([&] { japanese.fromUtf8("e3 \u202C"); }), HasSubstr("line 1, column 4"));
    EXPECT_TRUE(japanese.toSingleBytes("AB\u202C").offending);
}
