// The tests' helpers that need Linux: another user, the window's settings.

#include "test_support.h"

#include "settings/module1.h"

#include <fstream>
#include <stdexcept>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnook::test {

namespace {

constexpr uid_t kNobody = 65534;

void giveToNobody(const TempDir& dir)
{
    if (::geteuid() != 0) {
        return;
    }
    bool given = ::lchown(dir.path().c_str(), kNobody, kNobody) == 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        given = ::lchown(entry.path().c_str(), kNobody, kNobody) == 0 && given;
    }
    if (!given) {
        throw std::runtime_error("cannot give the test folder to nobody");
    }
}

} // namespace

std::string asOrdinaryUser(const TempDir& dir, const std::function<std::string()>& check)
{
    if (::geteuid() != 0) {
        return check();
    }
    giveToNobody(dir);
    const std::filesystem::path answer = dir / ".answer"; // nobody may write there
    const pid_t child = ::fork();
    if (child == 0) {
        const bool nobody = ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
        std::ofstream(answer, std::ios::binary) << (nobody ? check() : "cannot become nobody");
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string result = textOf(dir.read(answer.filename()));
    std::filesystem::remove(answer);
    return result;
}

std::string ordinaryUserPrefix(const TempDir& dir)
{
    if (::geteuid() != 0) {
        return "";
    }
    giveToNobody(dir);
    return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}

SettingsFolder::SettingsFolder()
{
    Module1::useFolder(dir.path());
}

SettingsFolder::~SettingsFolder()
{
    Module1::useFolder(std::nullopt);
}

} // namespace varnook::test
