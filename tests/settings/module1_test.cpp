#include "settings/module1.h"
#include "settings/setting_conversions.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace varnook;
using namespace varnook::settings;
using namespace varnook::test;
namespace fs = std::filesystem;

namespace {

class Settings : public ::testing::Test {
protected:
    SettingsFolder settings;
    const TempDir& dir = settings.dir;
};

} // namespace

// Defaults for what is missing or empty; a first write creates the file;
// later writes keep comments and other keys, and leave no temporary file.
// (That any value reads back whole, or leaves the old one when the file
// cannot hold it, is the settings fuzz target's property over its seeds.)
TEST_F(Settings, DefaultsAndTheFileLayout)
{
    EXPECT_EQ(Module1::ReadSetting("Option", "Start", "10"), "10");
    EXPECT_FALSE(fs::exists(dir / "config.ini"));
    Module1::WriteSetting("Window", "State", "2");
    EXPECT_EQ(textOf(dir.read("config.ini")), "[Window]\nState=2\n");
    dir.write("config.ini", "; kept comment\r\n[Window]\r\nTop = 15\r\n\r\n[Option]\r\nReadHP=True\r\n");
    Module1::WriteSetting("Option", "ReadHP", "False");
    Module1::WriteSetting("Option", "Start", "");
    Module1::WriteSetting("Load", "Dir", "/a.asc");
    EXPECT_EQ(textOf(dir.read("config.ini")), "; kept comment\r\n[Window]\r\nTop = 15\r\n\r\n[Option]\r\n"
                                              "ReadHP=False\r\nStart=\r\n\r\n[Load]\r\nDir=/a.asc\r\n");
    const std::tuple<const char*, const char*, const char*> reads[] = {
        {"Window", "Top", "15"},        {"Option", "ReadHP", "False"}, {"Option", "Start", "default"},
        {"Window", "State", "default"}, {"Other", "Top", "default"},   {"load", "DIR", "/a.asc"},
    };
    for (const auto& [section, key, value] : reads) {
        EXPECT_EQ(Module1::ReadSetting(section, key, "default"), value) << section << "/" << key;
    }
    EXPECT_EQ(dir.listing(), "config.ini");
}

TEST_F(Settings, ProtectedFileIsNotRewritten)
{
    dir.write("config.ini", "[Option]\nStep=5\n");
    fs::permissions(dir / "config.ini", fs::perms(0444));
    const std::string outcome = asOrdinaryUser(dir, [&] {
        Module1::WriteSetting("Option", "Step", "7");
        return Module1::ReadSetting("Option", "Step", "10");
    });
    EXPECT_EQ(outcome, "5");
    EXPECT_EQ(dir.listing(), "config.ini");
}

// Broken files give defaults and are written over; a folder in the way
// fails quietly; a file in the locale's code page is read through it.
TEST_F(Settings, OddFilesNeverStopTheProgram)
{
    Bytes garbage(10 * 1024 * 1024);
    std::generate(garbage.begin(), garbage.end(), std::mt19937(5));
    dir.write("config.ini", garbage);
    EXPECT_EQ(Module1::ReadSetting("Option", "Step", "10"), "10");
    Module1::WriteSetting("Load", "Dir", "/a.asc");
    EXPECT_EQ(Module1::ReadSetting("Load", "Dir", ""), "/a.asc");
    dir.write("config.ini", "[Load]\r\nDir=C:\\Gr\xF6\xDF.asc\r\n");
    EXPECT_EQ(Module1::ReadSetting("Load", "Dir", ""), "C:\\Gr\u00F6\u00DF.asc");
    fs::remove(dir / "config.ini");
    fs::create_directory(dir / "config.ini");
    EXPECT_EQ(Module1::ReadSetting("Option", "Step", "10"), "10");
    Module1::WriteSetting("Option", "Step", "5");
    EXPECT_TRUE(fs::is_directory(dir / "config.ini"));
}

// One separator at the end; the program's own folder only where nothing but
// the user's copy lives.
TEST(SettingsFolder, ProgramFolderOnlyWhenWritableAndNotTheSystems)
{
    EXPECT_EQ(Module1::withSeparator("/") + Module1::withSeparator("/opt/v") + Module1::withSeparator("/opt/v/"),
              "//opt/v//opt/v/");
    TempDir portable;
    fs::create_directory(portable / "closed");
    fs::permissions(portable / "closed", fs::perms(0555));
    ::setenv("XDG_CONFIG_HOME", "/home/user/.config", 1);
    const std::string user = "/home/user/.config/varnook/";
    EXPECT_EQ(Module1::folderForProgramIn(portable.path()), portable.path().string() + "/");
    for (const char* system : {"/usr/bin", "/usr/local/bin", "/opt/varnook/bin", "/usr"}) {
        EXPECT_EQ(Module1::folderForProgramIn(system), user) << system << ", even for root";
    }
    EXPECT_EQ(asOrdinaryUser(portable, [&] { return Module1::folderForProgramIn(portable / "closed"); }), user);
    ::unsetenv("XDG_CONFIG_HOME");
}

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
