#include "core/failure.h"
#include "core/number_reading.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnook;

TEST(NumberReading, TakesTheLongestLeadingNumber)
{
    EXPECT_DOUBLE_EQ(readNumber("10"), 10.0);
    EXPECT_DOUBLE_EQ(readNumber(" 1 2 "), 12.0) << "blanks anywhere are ignored";
    EXPECT_DOUBLE_EQ(readNumber("\t-7"), -7.0);
    EXPECT_DOUBLE_EQ(readNumber("+7"), 7.0);
    EXPECT_DOUBLE_EQ(readNumber("12abc"), 12.0);
    EXPECT_DOUBLE_EQ(readNumber("3.25x"), 3.25);
    EXPECT_DOUBLE_EQ(readNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(readNumber("5."), 5.0);
    EXPECT_DOUBLE_EQ(readNumber("1.5e3"), 1500.0);
    EXPECT_DOUBLE_EQ(readNumber("2E-2"), 0.02);
    EXPECT_DOUBLE_EQ(readNumber("2e"), 2.0) << "an exponent needs digits";
    EXPECT_DOUBLE_EQ(readNumber("2e+"), 2.0);
    EXPECT_DOUBLE_EQ(readNumber("1-2"), 1.0);
    EXPECT_DOUBLE_EQ(readNumber("12.5.6"), 12.5);
}

TEST(NumberReading, NoNumberReadsAsZero)
{
    for (const char* text : {"", " ", "abc", "-", "+", ".", "-.", "e5", "x10"}) {
        EXPECT_EQ(readNumber(text), 0.0) << '"' << text << '"';
    }
}

TEST(NumberReading, HugeAndTinyValues)
{
    EXPECT_TRUE(std::isinf(readNumber("1e400")));
    EXPECT_TRUE(std::isinf(readNumber(std::string(400, '9'))));
    EXPECT_TRUE(std::isinf(readNumber("-1e400")));
    EXPECT_EQ(readNumber("1e-400"), 0.0);
    EXPECT_EQ(readNumber("0.000" + std::string(400, '0') + "1"), 0.0);
}

TEST(WholeNumberReading, RoundsHalfToEven)
{
    EXPECT_EQ(readWholeNumber("0.5"), 0);
    EXPECT_EQ(readWholeNumber("1.5"), 2);
    EXPECT_EQ(readWholeNumber("2.5"), 2);
    EXPECT_EQ(readWholeNumber("2.51"), 3);
    EXPECT_EQ(readWholeNumber("-2.5"), -2);
    EXPECT_EQ(readWholeNumber("-3.5"), -4);
    EXPECT_EQ(readWholeNumber("1e3"), 1000);
}

TEST(WholeNumberReading, MustLieInThe32BitRange)
{
    EXPECT_EQ(readWholeNumber("2147483647"), 2147483647);
    EXPECT_EQ(readWholeNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(readWholeNumber("2147483646.5"), 2147483646);
    EXPECT_EQ(readWholeNumber("2147483647.4"), 2147483647);
    for (const char* text : {"2147483648", "2147483647.5", "-2147483649", "1e10", "1e400", "-1e400"}) {
        EXPECT_THROW(readWholeNumber(text), Failure) << text;
    }
}
