#include "settings/setting_conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace varnook::settings;

// Each row: the stored text, then what it reads as: a Boolean with either
// fallback ("fallback" when it is not a Boolean), a whole number, a check box.
TEST(SettingConversions, StoredTextsRead)
{
    const std::tuple<const char*, const char*, int, int> cases[] = {
        {"True", "true", 0, 0},    {"tRUE", "true", 0, 0},        {"FALSE", "false", 0, 0}, {"-1", "true", -1, 0},
        {"2.5", "true", 2, 0},     {"3.5", "true", 4, 0},         {"0", "false", 0, 0},     {" 0.0 ", "false", 0, 0},
        {"1", "true", 1, 1},       {"1.0", "true", 1, 1},         {"2", "true", 2, 0},      {"", "fallback", 0, 0},
        {"yes", "fallback", 0, 0}, {"12abc", "fallback", 12, 0},  {"1e", "fallback", 1, 1}, {"--1", "fallback", 0, 0},
        {"x", "fallback", 0, 0},   {"99999999999", "true", 0, 0},
    };
    for (const auto& [text, boolean, whole, checkBox] : cases) {
        const bool withTrue = readBooleanSetting(text, true);
        const bool withFalse = readBooleanSetting(text, false);
        EXPECT_EQ(withTrue != withFalse ? "fallback" : withTrue ? "true" : "false", std::string(boolean)) << text;
        EXPECT_EQ(readWholeNumberSetting(text), whole) << text;
        EXPECT_EQ(readCheckBoxSetting(text), checkBox) << text;
    }
}

TEST(SettingConversions, WrittenForms)
{
    const std::pair<double, const char*> measures[] = {
        {7935, "7935"},
        {-120, "-120"},
        {0, "0"},
        {-0.0, "0"},
        {1234.5, "1234.5"},
        {100.0 / 3, "33.33333"},
        {12345678, "1.234568E+07"},
    };
    for (const auto& [twips, text] : measures) {
        EXPECT_EQ(formatMeasure(twips), text);
        EXPECT_NEAR(readNumberSetting(formatMeasure(twips)), twips, std::abs(twips) * 1e-6) << twips;
    }
    EXPECT_EQ(formatBoolean(true) + formatBoolean(false), "TrueFalse");
}
