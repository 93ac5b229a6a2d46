#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

TEST(ReadFile, ReadsEveryByteAndRefusesWhatIsNoFile)
{
    TempDir dir;
    const Bytes all = everyByte();
    dir.write("all.bin", all);
    EXPECT_EQ(readFileBytes(dir / "all.bin"), all);
    dir.write("empty", Bytes{});
    EXPECT_TRUE(readFileBytes(dir / "empty").empty());
    dir.write("big.asc", Bytes{});
    fs::resize_file(dir / "big.asc", std::uintmax_t{1} << 31); // sparse: no disk space used
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
#endif
    const std::pair<fs::path, const char*> refused[] = {
        {dir / "missing.asc", "cannot open: No such file"},
        {dir.path(), "is a folder"},
#ifndef _WIN32
        {dir / "pipe", "not a regular file"}, // and no waiting for a writer
        {"/dev/zero", "not a regular file"},
#endif
        {dir / "big.asc", "2 GiB"}, // before anything is allocated
    };
    for (const auto& [path, message] : refused) {
        EXPECT_THAT(failureOf([&path = path] { readFileBytes(path); }), HasSubstr(message)) << path;
    }
}

// Both ways of making the temporary file: unnamed, and the named fallback.
class ReplaceFile : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { detail::useNamedTemporaryFiles(GetParam()); }
    void TearDown() override { detail::useNamedTemporaryFiles(false); }
    TempDir dir;
};

INSTANTIATE_TEST_SUITE_P(TemporaryFiles, ReplaceFile, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST_P(ReplaceFile, CreatesAndReplaces)
{
    const fs::path target = dir / "out.asc";
    replaceFile(target, bytesOf("first, longer content"));
    EXPECT_EQ(textOf(dir.read("out.asc")), "first, longer content");
#ifndef _WIN32
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<unsigned>(fs::status(target).permissions()), 0666u & ~mask);
    fs::permissions(target, fs::perms(0640));
#endif
    replaceFile(target, bytesOf("short"));
    EXPECT_EQ(textOf(dir.read("out.asc")), "short") << "no tail of the old content";
#ifndef _WIN32
    EXPECT_EQ(static_cast<unsigned>(fs::status(target).permissions()), 0640u) << "permission bits kept";
#endif

    // Every name the file system takes, however long.
    const std::string longest(255, 'n');
    replaceFile(dir / longest, bytesOf("long"));
    EXPECT_EQ(textOf(dir.read(longest)), "long");
    EXPECT_EQ(dir.listing(), longest + " out.asc") << "no temporary file left";
}

#ifndef _WIN32 // links, other users and signals are Linux's
TEST_P(ReplaceFile, LinksAreFollowedAndStay)
{
    fs::create_directory(dir / "sub");
    dir.write("sub/real.txt", "old");
    struct Case {
        const char* link;
        const char* pointsTo;
        const char* replaced; // the file that gets the new content
    };
    const Case cases[] = {
        {"absolute", "", "sub/real.txt"},
        {"relative", "sub/real.txt", "sub/real.txt"},
        {"chain", "relative", "sub/real.txt"},
        {"dangling", "sub/new.txt", "sub/new.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const fs::path pointsTo = *c.pointsTo ? fs::path(c.pointsTo) : dir / "sub" / "real.txt";
        fs::create_symlink(pointsTo, dir / c.link);
        replaceFile(dir / c.link, bytesOf(c.link));
        EXPECT_TRUE(fs::is_symlink(dir / c.link));
        EXPECT_EQ(fs::read_symlink(dir / c.link), pointsTo);
        EXPECT_EQ(textOf(dir.read(c.replaced)), c.link);
    }
    fs::create_symlink("loop", dir / "loop");
    EXPECT_THAT(failureOf([&] { replaceFile(dir / "loop", bytesOf("x")); }), HasSubstr("cannot follow the link"));
    EXPECT_EQ(dir.listing(), "absolute chain dangling loop relative sub");
    EXPECT_EQ(textOf(dir.read("sub/new.txt")), "dangling");
}

// Write-protected files and folders: refused and left alone, even though the
// rename alone would have been allowed.
TEST_P(ReplaceFile, ProtectedTargetsAreRefused)
{
    dir.write("ro.txt", "old");
    fs::permissions(dir / "ro.txt", fs::perms(0444));
    fs::create_directory(dir / "closed");
    dir.write("closed/in.txt", "old");
    fs::permissions(dir / "closed", fs::perms(0555));
    const bool named = GetParam();
    const std::string outcome = asOrdinaryUser(dir, [&] {
        detail::useNamedTemporaryFiles(named);
        return failureOf([&] { replaceFile(dir / "ro.txt", bytesOf("new")); }) + " | " +
               failureOf([&] { replaceFile(dir / "closed" / "in.txt", bytesOf("new")); });
    });
    EXPECT_EQ(outcome, "cannot write: Permission denied | cannot write: Permission denied");
    EXPECT_EQ(textOf(dir.read("ro.txt")), "old");
    EXPECT_EQ(textOf(dir.read("closed/in.txt")), "old");
    EXPECT_EQ(dir.listing(), "closed ro.txt");
    EXPECT_EQ(fs::directory_iterator(dir / "closed")->path().filename(), "in.txt");
}

// A signal in the middle of a write: the program ends as the signal says,
// the old file is intact and no temporary file is left.
TEST_P(ReplaceFile, InterruptedWritesLeaveNothing)
{
    std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP};
    if (!GetParam()) {
        signals.push_back(SIGKILL); // an unnamed file needs no one to remove it
    }
    for (const int signal : signals) {
        SCOPED_TRACE(signal);
        dir.write("out.asc", "old");
        const pid_t child = ::fork();
        if (child == 0) {
            removeTemporaryFilesOnSignals();
            ReplacementFile file(dir / "out.asc");
            file.write(bytesOf("partly written"));
            ::raise(signal);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_EQ(textOf(dir.read("out.asc")), "old");
        EXPECT_EQ(dir.listing(), "out.asc");
    }
}

#endif

#ifdef _WIN32
// A read-only file is refused and left alone, though the move alone would
// have been allowed; Ctrl+C has nothing to find in the folder either.
TEST_P(ReplaceFile, ReadOnlyFilesAreRefused)
{
    dir.write("ro.txt", "old");
    fs::permissions(dir / "ro.txt", fs::perms(0444));
    EXPECT_EQ(failureOf([&] { replaceFile(dir / "ro.txt", bytesOf("new")); }), "cannot write: Permission denied");
    EXPECT_EQ(textOf(dir.read("ro.txt")), "old");
    EXPECT_EQ(dir.listing(), "ro.txt");
    fs::permissions(dir / "ro.txt", fs::perms(0666));
}
#endif

TEST_P(ReplaceFile, FailuresLeaveEverythingAsItWas)
{
    fs::create_directory(dir / "folder");
    EXPECT_THAT(failureOf([&] { replaceFile(dir / "folder", bytesOf("x")); }), HasSubstr("is a folder"));
    EXPECT_THAT(failureOf([&] { replaceFile(dir / "gone" / "out.txt", bytesOf("x")); }),
                HasSubstr("the folder " + (dir / "gone").string() + " does not exist"));
    EXPECT_THAT(failureOf([&] { replaceFile(dir.path() / "", bytesOf("x")); }), HasSubstr("no file name"));
    dir.write("plain", "not a folder");
    EXPECT_THAT(failureOf([&] { replaceFile(dir / "plain" / "new", bytesOf("x")); }), HasSubstr("is not a folder"));
#ifndef _WIN32
    EXPECT_THAT(failureOf([] { replaceFile("/dev/null", bytesOf("x")); }), HasSubstr("not a regular file"));
#endif
    EXPECT_EQ(dir.listing(), "folder plain");
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}
