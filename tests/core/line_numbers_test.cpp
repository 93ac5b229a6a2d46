#include "core/failure.h"
#include "core/line_numbers.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

namespace {

std::string number(std::string_view text, std::int32_t start = 10, std::int32_t step = 10)
{
    return textOf(insertLineNumberBytes(bytesOf(text), start, step));
}

std::string failureOf(std::string_view text, std::int32_t start, std::int32_t step)
{
    try {
        number(text, start, step);
    } catch (const Failure& e) {
        return e.what();
    }
    return "no failure";
}

} // namespace

TEST(LineNumbers, WorkedExamples)
{
    EXPECT_EQ(insertLineNumberBytes(hex("50 52 49 4E 54 20 31 0D 0A 0D 0A 45 4E 44"), 10, 10),
              hex("31 30 20 50 52 49 4E 54 20 31 0D 0A 32 30 20 0D 0A 33 30 20 45 4E 44"));
    EXPECT_EQ(insertLineNumberBytes(hex("41 0D 0A"), 10, 10), hex("31 30 20 41 0D 0A 32 30 20"));
    EXPECT_EQ(insertLineNumberBytes(hex("41"), 10, 10), hex("31 30 20 41"));
    EXPECT_EQ(insertLineNumberBytes(hex("41 0D 0A 42"), 10, 10), hex("31 30 20 41 0D 0A 32 30 20 42"));
}

TEST(LineNumbers, NumbersEveryLineWithoutLookingAtIt)
{
    EXPECT_EQ(number("100 END"), "10 100 END");
    EXPECT_EQ(number("A\r\nB\r\nC", 5, 0), "5 A\r\n5 B\r\n5 C") << "step 0";
    EXPECT_EQ(number("A\r\nB", -20, 15), "-20 A\r\n-5 B") << "negative numbers";
    EXPECT_EQ(number("A\r\nB", 100, -30), "100 A\r\n70 B");
    EXPECT_EQ(number("A\nB"), "10 A\nB") << "a lone LF is content";
    EXPECT_EQ(number("\r\n"), "10 \r\n20 ");
}

TEST(LineNumbers, LoneCrEndsTheLineAndKeepsTheNextCharacter)
{
    EXPECT_EQ(number("A\rB"), "10 A\r\n20 B");
    EXPECT_EQ(number("A\r"), "10 A\r\n20 ");
}

TEST(LineNumbers, EmptyTextFails)
{
    EXPECT_THAT(failureOf("", 10, 10), HasSubstr("empty"));
}

// The running number is one step ahead of the last one written, and must
// stay in the 32-bit range too.
TEST(LineNumbers, OverflowFailsOneStepBeyondTheLastNumber)
{
    EXPECT_EQ(number("A", 2147483646, 1), "2147483646 A");
    EXPECT_THAT(failureOf("A", 2147483647, 1), HasSubstr("2147483648"));
    EXPECT_THAT(failureOf("A\r\nB", 2147483646, 1), HasSubstr("line 2"));
    EXPECT_THAT(failureOf("A\r\n", 2147483646, 1), HasSubstr("32-bit"))
        << "the number after the final line break counts";
    EXPECT_EQ(number("A", -2147483647, -1), "-2147483647 A");
    EXPECT_THAT(failureOf("A", -2147483648, -1), HasSubstr("-2147483649"));
    EXPECT_EQ(number("A", -2147483648, 0), "-2147483648 A") << "widest number text";
}

TEST(LineNumbers, LongAndManyLines)
{
    std::string text;
    std::string expected;
    for (int line = 0; line < 5000; ++line) {
        const std::string content(static_cast<std::size_t>(line % 300), static_cast<char>('a' + line % 26));
        text += content + "\r\n";
        expected += std::to_string(1000 + line * 3) + " " + content + "\r\n";
    }
    expected += std::to_string(1000 + 5000 * 3) + " ";
    EXPECT_EQ(number(text, 1000, 3), expected);
}

TEST(LineNumbers, ReportsTheStartOfLines)
{
    class Recording : public Progress {
    public:
        void reached(std::int32_t index) override { positions.push_back(index); }
        std::vector<std::int32_t> positions;
    } progress;
    const std::string text(200000, 'x');
    insertLineNumberBytes(bytesOf("AB\r\n" + text + "\r\nC\r\nD"), 10, 10, &progress);
    EXPECT_EQ(progress.positions, (std::vector<std::int32_t>{0, 200006})) << "first line, then the first past 64 KiB";
}
