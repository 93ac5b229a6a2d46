#include "core/failure.h"
#include "core/file_io.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {


unsigned modeOf(const fs::path& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST(ReadFile, ReadsEveryByte)
{
    TempDir dir;
    Bytes all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<std::uint8_t>(b));
    }
    dir.write("all.bin", all);
    EXPECT_EQ(readFileBytes(dir / "all.bin"), all);
    dir.write("empty", Bytes{});
    EXPECT_TRUE(readFileBytes(dir / "empty").empty());
}

TEST(ReadFile, BadSourcesFailClearly)
{
    TempDir dir;
    EXPECT_THAT(failureOf([&] { readFileBytes(dir / "missing.asc"); }), HasSubstr("No such file"));
    EXPECT_THAT(failureOf([&] { readFileBytes(dir.path()); }), HasSubstr("is a folder"));
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_THAT(failureOf([&] { readFileBytes(dir / "pipe"); }), HasSubstr("not a regular file"))
        << "and does not wait for a writer";
    EXPECT_THAT(failureOf([&] { readFileBytes("/dev/zero"); }), HasSubstr("not a regular file"));
}

TEST(ReadFile, RefusesTwoGibibytesBeforeAllocating)
{
    TempDir dir;
    const fs::path big = dir / "big.asc";
    dir.write("big.asc", Bytes{});
    fs::resize_file(big, (std::uintmax_t{1} << 31)); // sparse: no disk space used
    EXPECT_THAT(failureOf([&] { readFileBytes(big); }), HasSubstr("2 GiB"));
}

TEST(ReplaceFile, CreatesAndReplaces)
{
    TempDir dir;
    const fs::path target = dir / "out.asc";
    replaceFile(target, bytesOf("first, longer content"));
    EXPECT_EQ(textOf(dir.read("out.asc")), "first, longer content");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(target), 0666u & ~mask);

    fs::permissions(target, fs::perms(0640));
    replaceFile(target, bytesOf("short"));
    EXPECT_EQ(textOf(dir.read("out.asc")), "short") << "no tail of the old content";
    EXPECT_EQ(modeOf(target), 0640u) << "permission bits kept";
    EXPECT_EQ(dir.listing(), "out.asc") << "no temporary file left";
}

TEST(ReplaceFile, FollowsSymbolicLinks)
{
    TempDir dir;
    dir.write("real.txt", "old");
    fs::create_symlink(dir / "real.txt", dir / "link.txt");
    replaceFile(dir / "link.txt", bytesOf("new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(textOf(dir.read("real.txt")), "new");
}

TEST(ReplaceFile, FailuresLeaveEverythingAsItWas)
{
    TempDir dir;
    fs::create_directory(dir / "folder");
    EXPECT_THAT(failureOf([&] { replaceFile(dir / "folder", bytesOf("x")); }), HasSubstr("is a folder"));
    EXPECT_THAT(failureOf([&] { replaceFile(dir / "gone" / "out.txt", bytesOf("x")); }), HasSubstr("gone"));
    EXPECT_THAT(failureOf([&] { replaceFile(dir.path() / "", bytesOf("x")); }), HasSubstr("no file name"));
    EXPECT_EQ(dir.listing(), "folder");
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}
