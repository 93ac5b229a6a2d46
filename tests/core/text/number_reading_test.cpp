#include "core/text/number_reading.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnook;
using namespace varnook::test;

// The longest leading decimal number; no number is 0. (Blanks anywhere are
// ignored: the fuzz target's property.)
TEST(NumberReading, TakesTheLongestLeadingNumber)
{
    const std::string tiny = "0.000" + std::string(400, '0') + "1";
    const std::pair<std::string, double> cases[] = {
        {"10", 10},      {"+7", 7},      {"12abc", 12}, {"3.25x", 3.25}, {".5", 0.5}, {"5.", 5},
        {"1.5e3", 1500}, {"2E-2", 0.02}, {"2e", 2},     {"2e+", 2},      {"1-2", 1},  {"12.5.6", 12.5},
        {"", 0},         {" ", 0},       {"abc", 0},    {"-", 0},        {"+", 0},    {".", 0},
        {"-.", 0},       {"e5", 0},      {"x10", 0},    {"1e-400", 0},   {tiny, 0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_DOUBLE_EQ(readNumber(text), value) << '"' << text << '"';
    }
    for (const std::string& text : {std::string("1e400"), std::string(400, '9'), std::string("-1e400")}) {
        EXPECT_TRUE(std::isinf(readNumber(text))) << text;
    }
}

// Rounded half to even, and only inside the 32-bit range (the fuzz target's
// property holds the range's edges over its seeds).
TEST(WholeNumberReading, RoundsHalfToEvenInThe32BitRange)
{
    const std::pair<std::string, std::string> cases[] = {
        {"0.5", "0"},
        {"1.5", "2"},
        {"2.5", "2"},
        {"2.51", "3"},
        {"-2.5", "-2"},
        {"-3.5", "-4"},
        {"1e3", "1000"},
        {"2147483646.5", "2147483646"},
        {"2147483647.5", "failure"},
    };
    for (const auto& [text, value] : cases) {
        const std::string got = outcome([&text = text] { return bytesOf(std::to_string(readWholeNumber(text))); });
        EXPECT_EQ(value == "failure" ? got.substr(0, 7) : got, value) << text;
    }
}
