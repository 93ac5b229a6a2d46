#include "core/base/failure.h"
#include "core/text/line_numbers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace varnook;
using namespace varnook::test;

// Each row: text, Start, Step, then the numbered text, or "failure: " and
// what the reason must hold. Every line is numbered without being looked
// at; the running number is one step ahead of the last one written and must
// stay in the 32-bit range too. (The numbering fuzz target's property holds
// the arithmetic of any Start and Step over its seeds.)
TEST(LineNumbers, NumbersEveryLine)
{
    const std::tuple<std::string, std::int32_t, std::int32_t, std::string> cases[] = {
        {"PRINT 1\r\n\r\nEND", 10, 10, "10 PRINT 1\r\n20 \r\n30 END"},
        {"A\r\n", 10, 10, "10 A\r\n20 "},
        {"A", 10, 10, "10 A"},
        {"100 END", 10, 10, "10 100 END"},
        {"A\nB", 10, 10, "10 A\nB"}, // a lone LF is content
        {"A\rB", 10, 10, "10 A\r\n20 B"}, // a lone CR ends the line, B stays
        {"A\r", 10, 10, "10 A\r\n20 "},
        {"\r\n", 10, 10, "10 \r\n20 "},
        {"", 10, 10, "failure: the document is empty"},
        {"A", 2147483647, 1,
         "failure: line numbers leave the 32-bit range: the number after 2147483647 (line 1) would be 2147483648"},
        {"A\r\nB", 2147483646, 1, "failure: line numbers leave the 32-bit range: the number after 2147483647 (line 2)"},
        {"A\r\n", 2147483646, 1, "failure: line numbers leave the 32-bit range"}, // after the last break
        {"A", -2147483648, -1,
         "failure: line numbers leave the 32-bit range: the number after -2147483648 (line 1) would be -2147483649"},
    };
    for (const auto& [text, start, step, expected] : cases) {
        const std::string got = outcome([&, &text = text, start = start, step = step] {
            return insertLineNumberBytes(bytesOf(text), start, step);
        });
        EXPECT_EQ(got.substr(0, expected.starts_with("failure") ? expected.size() : std::string::npos), expected)
            << text << " " << start << " " << step;
    }
}

// Long and many lines, and the progress: the first line, then the first
// line start past every 64 KiB.
TEST(LineNumbers, LongAndManyLines)
{
    std::string text;
    std::string expected;
    for (int line = 0; line < 5000; ++line) {
        const std::string content(static_cast<std::size_t>(line % 300), static_cast<char>('a' + line % 26));
        text += content + "\r\n";
        expected += std::to_string(1000 + line * 3) + " " + content + "\r\n";
    }
    EXPECT_EQ(textOf(insertLineNumberBytes(bytesOf(text), 1000, 3)), expected + "16000 ");
    RecordedProgress progress;
    insertLineNumberBytes(bytesOf("AB\r\n" + std::string(200000, 'x') + "\r\nC\r\nD"), 10, 10, &progress);
    EXPECT_EQ(progress.positions, (std::vector<std::int32_t>{0, 200006}));
}

// The first line numbered outside 1 to 32766 is the one counting finds, for
// Starts and Steps at and around the edges and texts of 1 to 40 lines.
TEST(LineNumbers, FindsTheFirstLineHpBasicRefuses)
{
    const std::int32_t starts[] = {-5, 0, 1, 2, 10, 32000, 32765, 32766, 32767, 2147483647};
    const std::int32_t steps[] = {-40000, -1000, -1, 0, 1, 7, 10, 1000, 32766, 2147483647};
    for (int lines = 1; lines <= 40; lines += 3) {
        std::string text = "A";
        for (int line = 1; line < lines; ++line) {
            text += line % 2 ? "\r\nB" : "\rC";
        }
        for (const auto start : starts) {
            for (const auto step : steps) {
                std::optional<NumberedLine> expected;
                for (std::int64_t line = 1, number = start; line <= lines && !expected; ++line, number += step) {
                    if (number < 1 || number > 32766) {
                        expected = NumberedLine{line, number};
                    }
                }
                const auto found = firstLineOutside(bytesOf(text), start, step);
                ASSERT_EQ(found.has_value(), expected.has_value()) << lines << " " << start << " " << step;
                if (found) {
                    EXPECT_EQ(found->line, expected->line) << start << " " << step;
                    EXPECT_EQ(found->number, expected->number) << start << " " << step;
                }
            }
        }
    }
}
