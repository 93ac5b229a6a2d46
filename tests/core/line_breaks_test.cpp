#include "core/line_breaks.h"

#include <gtest/gtest.h>

#include <random>

using namespace varnook;

namespace {

// The rule, one character at a time.
std::string reference(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

TEST(LineBreaks, EveryKindBecomesCrLf)
{
    EXPECT_EQ(normalizeLineBreaks(""), "");
    EXPECT_EQ(normalizeLineBreaks("abc"), "abc");
    EXPECT_EQ(normalizeLineBreaks("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(normalizeLineBreaks("a\rb"), "a\r\nb");
    EXPECT_EQ(normalizeLineBreaks("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(normalizeLineBreaks("\r"), "\r\n");
    EXPECT_EQ(normalizeLineBreaks("\n"), "\r\n");
    EXPECT_EQ(normalizeLineBreaks("\r\r\n"), "\r\n\r\n");
    EXPECT_EQ(normalizeLineBreaks("\n\r"), "\r\n\r\n");
    EXPECT_EQ(normalizeLineBreaks("\r\n\n"), "\r\n\r\n");
    EXPECT_EQ(normalizeLineBreaks(std::string("a\0b\n", 4)), std::string("a\0b\r\n", 5));
}

// Breaks at every position relative to the 16-byte blocks of the fast scan.
TEST(LineBreaks, AgreesWithTheRuleOnRandomText)
{
    std::mt19937 random(42);
    const char alphabet[] = {'a', 'b', '\r', '\n', ' ', '\xC3', '\xA9'};
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 100, 'x');
        const auto density = 2 + random() % 30;
        for (auto& c : text) {
            c = random() % density == 0 ? alphabet[2 + random() % 2] : alphabet[random() % 7];
        }
        ASSERT_EQ(normalizeLineBreaks(text), reference(text)) << "round " << round;
    }
}
