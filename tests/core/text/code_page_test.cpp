#include "core/text/code_page.h"
#include "core/base/failure.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

TEST(CodePageChoice, FollowsTheLocaleLikeWindows)
{
    // One row for each rule: no locale, a modifier, each language group.
    const std::pair<const char*, const char*> cases[] = {
        {"", "windows-1252"},           {"C", "windows-1252"},           {"de_DE@euro", "windows-1252"},
        {"ja_JP.eucJP", "windows-932"}, {"zh_CN.UTF-8", "windows-936"},  {"zh_HK", "windows-950"},
        {"ko_KR.UTF-8", "windows-949"}, {"th_TH", "windows-874"},        {"pl_PL.UTF-8", "windows-1250"},
        {"sr_RS", "windows-1251"},      {"sr_RS@latin", "windows-1250"}, {"el_GR", "windows-1253"},
        {"az_AZ", "windows-1254"},      {"he_IL", "windows-1255"},       {"fa_IR", "windows-1256"},
        {"et_EE", "windows-1257"},      {"vi_VN", "windows-1258"},
    };
    for (const auto& [locale, name] : cases) {
        EXPECT_EQ(CodePage::nameForLocale(locale), name) << locale;
        EXPECT_NO_THROW(CodePage::named(name)) << name;
    }
#ifndef _WIN32 // Windows takes its ANSI code page instead
    // LC_ALL, then LC_CTYPE, then LANG, each set over the ones before; an
    // empty value does not count.
    const std::tuple<const char*, const char*, const char*> precedence[] = {
        {"LANG", "ru_RU.UTF-8", "windows-1251"},
        {"LC_CTYPE", "ja_JP.UTF-8", "windows-932"},
        {"LC_ALL", "el_GR.UTF-8", "windows-1253"},
    };
    for (const auto& [variable, value, name] : precedence) {
        ::unsetenv(variable);
    }
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-1252");
    for (const auto& [variable, value, name] : precedence) {
        ::setenv(variable, value, 1);
        EXPECT_EQ(CodePage::fromEnvironment().name(), name) << variable;
    }
    ::setenv("LC_ALL", "", 1);
    EXPECT_EQ(CodePage::fromEnvironment().name(), "windows-932");
    for (const auto& [variable, value, name] : precedence) {
        ::unsetenv(variable);
    }
#endif
    EXPECT_THAT(failureOf([] { CodePage::named("no-such-page"); }), HasSubstr("\"no-such-page\""));
    EXPECT_THAT(failureOf([] { CodePage::named(""); }), HasSubstr("unknown code page"));
    // Only the pages there are tables for, by any name ICU gives them.
    EXPECT_THAT(failureOf([] { CodePage::named("ibm-37"); }),
                HasSubstr("unknown code page \"ibm-37\"; the code pages are windows-1252, windows-1250,"));
    EXPECT_EQ(CodePage::named("CP1252").toUtf8(hex("80")), "\u20AC");
    EXPECT_EQ(CodePage::named("shift_jis").toUtf8(hex("93 FA")), "\u65E5");
    EXPECT_EQ(CodePage::named("latin1").toUtf8(hex("80")), "\u0080");
}

// Every byte comes back as itself; one the code page leaves undefined reads
// as U+F700 + byte, the same in every page.
TEST(SingleByteCodePage, EveryByteRoundTripsInEveryWindowsPage)
{
    const Bytes all = everyByte();
    for (const char* name : kSingleByteWindowsPages) {
        const CodePage page = CodePage::named(name);
        const std::string text = page.toUtf8(all);
        EXPECT_TRUE(page.isSingleByte()) << name;
        EXPECT_EQ(page.fromUtf8(text), all) << name;
        EXPECT_EQ(page.toSingleBytes(text).bytes, all) << name;
        EXPECT_TRUE(page.carriesUnchanged(all)) << name;
    }
    const std::tuple<const char*, const char*, const char*> characters[] = {
        {"windows-1253", "D2", "\uF7D2"},
        {"windows-1255", "FC", "\uF7FC"},
        {"windows-1257", "A1", "\uF7A1"},
        {"windows-1252", "80 81 A0 E9 FF", "\u20AC\u0081\u00A0\u00E9\u00FF"}, // ICU's own mapping stays
    };
    for (const auto& [name, bytes, text] : characters) {
        EXPECT_EQ(CodePage::named(name).toUtf8(hex(bytes)), text) << name;
    }
}

// Nothing is ever substituted: what has no counterpart fails, saying where;
// the single-byte check gives the bytes, or where the first character is
// that is not one byte.
TEST(CodePages, NothingIsSubstituted)
{
    const CodePage western = CodePage::named("windows-1252");
    const CodePage japanese = CodePage::named("windows-932");
    const std::tuple<const CodePage*, std::string, std::string, std::string> texts[] = {
        // page, text, its bytes (or the failure), its single bytes (or the first that is not one)
        {&western, "10 A\r\n20 B\u65E5", "character at line 2, column 5 has no form in code page windows-1252",
         "line 2, column 5"},
        {&western, "\u2264", "line 1, column 1", "line 1, column 1"}, // no best-fit stand-in
        {&western, "ok\xC3", "not valid UTF-8", "not valid UTF-8"},
        {&western, "10 PRINT \"\u00C4\u20AC\u00A0\"", "31 30 20 50 52 49 4E 54 20 22 C4 80 A0 22",
         "31 30 20 50 52 49 4E 54 20 22 C4 80 A0 22"},
        {&japanese, "A\u00E9", "line 1, column 2", "line 1, column 2"},
        {&japanese, "e3 \u202C", "line 1, column 4", "line 1, column 4"}, // ICU drops such controls silently
        {&japanese, "A\uFF71B", "41 B1 42", "41 B1 42"}, // half-width katakana are single bytes
        {&japanese, "10 \u65E5\u672C", "31 30 20 93 FA 96 7B", "line 1, column 4"},
    };
    // A message to find in the outcome, or the bytes (in hex) it must be.
    const auto expect = [](const std::string& got, const std::string& wanted, const std::string& text) {
        const bool message = wanted.find_first_not_of("0123456789ABCDEF ") != std::string::npos;
        EXPECT_TRUE(message ? got.find(wanted) != std::string::npos : got == textOf(hex(wanted)))
            << text << ": " << got;
    };
    for (const auto& [page, text, bytes, single] : texts) {
        expect(outcome([&, page = page, &text = text] { return page->fromUtf8(text); }), bytes, text);
        expect(outcome([&, page = page, &text = text] {
                   const SingleByteText check = page->toSingleBytes(text);
                   EXPECT_TRUE(!check.offending || check.bytes.empty());
                   return check.offending ? bytesOf(describe(*check.offending)) : check.bytes;
               }),
               single, text);
    }
    EXPECT_EQ(japanese.toUtf8(hex("31 30 20 93 FA 96 7B 0D 0A B1")), "10 \u65E5\u672C\r\n\uFF71");
    EXPECT_THAT(failureOf([&] { japanese.toUtf8(hex("41 0D 0A 42 81")); }), HasSubstr("line 2: byte 0x81"));
}

// UTF-8 is recognised by a byte order mark, or by characters beyond ASCII
// that are all well-formed UTF-8; ASCII alone and anything ill-formed is not.
TEST(CodePages, RecogniseUtf8Text)
{
    const std::pair<std::string, std::string> cases[] = {
        {"\xEF\xBB\xBF", "begins with a UTF-8 byte order mark"},
        {"\xEF\xBB\xBF\xFF", "begins with a UTF-8 byte order mark"},
        {"PRINT \"\u00B5V\"", "holds 1 character beyond ASCII, all written as UTF-8"},
        {"\u2126 \U0001F600", "holds 2 characters beyond ASCII, all written as UTF-8"},
        {"PRINT 1\r\n", ""},
        {"", ""},
        {"PRINT \"\xB5V\"", ""}, // windows-1252
        {"\u00B5\xC3", ""}, // cut off
        {"\xED\xA0\x80", ""}, // a surrogate
        {"\xC0\xAF", ""}, // overlong
    };
    for (const auto& [text, evidence] : cases) {
        EXPECT_EQ(utf8Evidence(bytesOf(text)).value_or(""), evidence) << text;
    }
}
