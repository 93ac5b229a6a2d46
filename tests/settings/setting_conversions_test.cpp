#include "settings/setting_conversions.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnook::settings;

TEST(SettingConversions, Booleans)
{
    EXPECT_TRUE(readBooleanSetting("True", false));
    EXPECT_TRUE(readBooleanSetting("tRUE", false));
    EXPECT_FALSE(readBooleanSetting("FALSE", true));
    EXPECT_TRUE(readBooleanSetting("-1", false));
    EXPECT_TRUE(readBooleanSetting("2.5", false));
    EXPECT_FALSE(readBooleanSetting("0", true));
    EXPECT_FALSE(readBooleanSetting(" 0.0 ", true));
    for (const char* odd : {"", "yes", "12abc", "1e", "--1"}) {
        EXPECT_TRUE(readBooleanSetting(odd, true)) << odd;
        EXPECT_FALSE(readBooleanSetting(odd, false)) << odd;
    }
}

TEST(SettingConversions, WholeNumbersAndCheckBoxes)
{
    EXPECT_EQ(readWholeNumberSetting("2"), 2);
    EXPECT_EQ(readWholeNumberSetting("2.5"), 2);
    EXPECT_EQ(readWholeNumberSetting("3.5"), 4);
    EXPECT_EQ(readWholeNumberSetting("x"), 0);
    EXPECT_EQ(readWholeNumberSetting("99999999999"), 0);
    EXPECT_EQ(readCheckBoxSetting("1"), 1);
    EXPECT_EQ(readCheckBoxSetting("1.0"), 1);
    EXPECT_EQ(readCheckBoxSetting("0"), 0);
    EXPECT_EQ(readCheckBoxSetting("2"), 0);
    EXPECT_EQ(readCheckBoxSetting(""), 0);
}

TEST(SettingConversions, MeasuresUpToSevenSignificantDigits)
{
    EXPECT_EQ(formatMeasure(7935), "7935");
    EXPECT_EQ(formatMeasure(-120), "-120");
    EXPECT_EQ(formatMeasure(0), "0");
    EXPECT_EQ(formatMeasure(-0.0), "0");
    EXPECT_EQ(formatMeasure(1234.5), "1234.5");
    EXPECT_EQ(formatMeasure(100.0 / 3), "33.33333");
    EXPECT_EQ(formatMeasure(12345678), "1.234568E+07");
    for (const double twips : {15.0, 8055.0, -45.0, 1234.5, 28800.0, 12345678.0}) {
        EXPECT_NEAR(readNumberSetting(formatMeasure(twips)), twips, std::abs(twips) * 1e-6) << twips;
    }
}

TEST(SettingConversions, BooleanText)
{
    EXPECT_EQ(formatBoolean(true), "True");
    EXPECT_EQ(formatBoolean(false), "False");
}
