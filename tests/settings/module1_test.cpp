#include "settings/module1.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

using namespace varnook;
using namespace varnook::test;
namespace fs = std::filesystem;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override { Module1::useFolder(dir.path()); }
    void TearDown() override { Module1::useFolder(std::nullopt); }
    TempDir dir;
};

} // namespace

TEST_F(Settings, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt)
{
    EXPECT_EQ(Module1::ReadSetting("Option", "Start", "10"), "10");
    EXPECT_FALSE(fs::exists(dir / "config.ini"));
    Module1::WriteSetting("Window", "State", "2");
    EXPECT_EQ(textOf(dir.read("config.ini")), "[Window]\nState = 2\n");
    EXPECT_EQ(Module1::ReadSetting("Window", "State", ""), "2");
    EXPECT_EQ(Module1::ReadSetting("Window", "Top", "default"), "default") << "missing key";
    EXPECT_EQ(Module1::ReadSetting("Other", "State", "default"), "default") << "missing section";
}

TEST_F(Settings, EmptyValueReadsAsTheDefault)
{
    Module1::WriteSetting("Option", "Start", "");
    EXPECT_NE(textOf(dir.read("config.ini")).find("Start"), std::string::npos) << "the key is stored";
    EXPECT_EQ(Module1::ReadSetting("Option", "Start", "10"), "10");
}

TEST_F(Settings, ValuesComeBackWhole)
{
    const std::string path = "/home/user/" + std::string(300, 'p') + "/Gr\u00F6\u00DFe \u65E5\u672C/PROG.asc";
    Module1::WriteSetting("Load", "Dir", path);
    EXPECT_EQ(Module1::ReadSetting("Load", "Dir", ""), path);
    Module1::WriteSetting("Load", "Dir", "/odd\nname=with [brackets]; and # marks");
    EXPECT_EQ(Module1::ReadSetting("Load", "Dir", ""), "/odd\nname=with [brackets]; and # marks");
}

TEST_F(Settings, WritesKeepOtherKeysAndReplaceTheFileWhole)
{
    dir.write("config.ini", "; kept comment\n[Window]\nTop=15\n\n[Option]\nReadHP=True\n");
    Module1::WriteSetting("Option", "ReadHP", "False");
    Module1::WriteSetting("Load", "Dir", "/a.asc");
    EXPECT_EQ(Module1::ReadSetting("Window", "Top", ""), "15");
    EXPECT_EQ(Module1::ReadSetting("Option", "ReadHP", ""), "False");
    EXPECT_NE(textOf(dir.read("config.ini")).find("; kept comment"), std::string::npos);
    EXPECT_EQ(dir.listing(), "config.ini") << "no temporary file left";
}

TEST_F(Settings, UnusableFilesGiveDefaultsAndNeverStopTheProgram)
{
    dir.write("config.ini", randomBytes(10 * 1024 * 1024, 5));
    EXPECT_EQ(Module1::ReadSetting("Option", "Step", "10"), "10");

    fs::remove(dir / "config.ini");
    fs::create_directory(dir / "config.ini");
    EXPECT_EQ(Module1::ReadSetting("Option", "Step", "10"), "10");
    Module1::WriteSetting("Option", "Step", "5"); // fails quietly
    EXPECT_TRUE(fs::is_directory(dir / "config.ini"));
}

TEST_F(Settings, FileInTheLocaleCodePageIsReadThroughIt)
{
    dir.write("config.ini", "[Load]\r\nDir=C:\\Programme\\Gr\xF6\xDF" "e.asc\r\n");
    EXPECT_EQ(Module1::ReadSetting("Load", "Dir", ""), "C:\\Programme\\Gr\u00F6\u00DF" "e.asc");
}

TEST(SettingsFolder, EndsInExactlyOneSeparator)
{
    EXPECT_EQ(Module1::withSeparator("/"), "/");
    EXPECT_EQ(Module1::withSeparator("/opt/varnook"), "/opt/varnook/");
    EXPECT_EQ(Module1::withSeparator("/opt/varnook/"), "/opt/varnook/");
    Module1::useFolder("/");
    EXPECT_EQ(Module1::AppFolder() + "config.ini", "/config.ini");
    Module1::useFolder(std::nullopt);
}

TEST(SettingsFolder, ProgramFolderWhenWritable)
{
    // The tests run from the build tree, which is writable.
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(Module1::AppFolder(), program.string() + "/");
}
