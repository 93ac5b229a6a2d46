// The replacement path, locks, folders and signals on Linux.

#include "file_io.h"

#include "core/base/failure.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnook {
namespace {

[[noreturn]] void failErrno(const std::string& what, int error)
{
    throw Failure(what + ": " + std::strerror(error), error);
}

// Interrupted writes. Temporary files are unnamed (O_TMPFILE) while they are
// written: a signal, a crash or a kill at that point leaves nothing behind,
// because the kernel frees an unnamed file with its last descriptor. Only at
// commit does the file get a short name, and signals stay blocked from then
// until the rename, so a signal never finds a named temporary file. Where the
// file system has no unnamed files, the named file's path waits in one of
// these slots for the signal handler to remove it.
constexpr int kSlots = 8;
constexpr std::size_t kSlotSize = 4096;
char temporarySlots[kSlots][kSlotSize];
std::atomic<bool> slotTaken[kSlots];
bool namedOnly = false;

int takeSlot(const std::string& path)
{
    if (path.size() >= kSlotSize) {
        return -1;
    }
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slotTaken[i].compare_exchange_strong(expected, true)) {
            std::memcpy(temporarySlots[i], path.c_str(), path.size() + 1);
            return i;
        }
    }
    return -1;
}

void releaseSlot(int slot)
{
    if (slot >= 0) {
        temporarySlots[slot][0] = '\0';
        slotTaken[slot].store(false);
    }
}

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void removeTemporaryFilesAndDie(int signal)
{
    for (int i = 0; i < kSlots; ++i) {
        if (slotTaken[i].load() && temporarySlots[i][0] != '\0') {
            ::unlink(temporarySlots[i]);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Blocks the cleanup signals for its lifetime.
class SignalsBlocked {
public:
    SignalsBlocked()
    {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : kCleanupSignals) {
            sigaddset(&set, signal);
        }
        ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t previous_;
};

// Short, so that a target name of any length the file system accepts still
// leaves room for it.
std::string temporaryName()
{
    static std::mt19937_64 generator{std::random_device{}()};
    static const char* letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".vnk";
    for (int i = 0; i < 8; ++i) {
        name += letters[generator() % 36];
    }
    return name + ".tmp";
}

// The file a path finally names, following symbolic links one by one, so
// that a dangling link gives the file it would name.
std::filesystem::path followLinks(std::filesystem::path path)
{
    namespace fs = std::filesystem;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) {
            return path;
        }
        const fs::path next = fs::read_symlink(path, error);
        if (error) {
            failErrno("cannot follow the link", error.value());
        }
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    failErrno("cannot follow the link", ELOOP);
}

} // namespace

void syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failErrno("cannot flush the folder " + folder.string() + " to disk", errno);
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL) {
        failErrno("the folder " + folder.string() + " could not be flushed to disk", error);
    }
}

void lockOpenFile(int fd, bool exclusive)
{
    struct flock lock { };
    lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd, F_OFD_SETLKW, &lock) != 0) {
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
            return;
        }
        if (errno != EINTR) {
            failErrno("cannot lock", errno);
        }
    }
}

ReplacementFile::ReplacementFile(const std::filesystem::path& requested)
{
    checkTarget(requested);
    openTemporary();
}

void ReplacementFile::checkTarget(const std::filesystem::path& requested)
{
    namespace fs = std::filesystem;
    target_ = followLinks(requested);
    if (target_.filename().empty()) {
        throw Failure("no file name given");
    }
    folder_ = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    struct stat folderInfo { };
    if (::stat(folder_.c_str(), &folderInfo) != 0) {
        if (errno == ENOENT) {
            throw Failure("the folder " + folder_.string() + " does not exist");
        }
        failErrno("cannot write to the folder " + folder_.string(), errno);
    }
    if (!S_ISDIR(folderInfo.st_mode)) {
        throw Failure("cannot write: " + folder_.string() + " is not a folder");
    }
    struct stat target { };
    const bool exists = ::stat(target_.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode)) {
        throw Failure("is a folder, not a file");
    }
    if (exists && !S_ISREG(target.st_mode)) {
        throw Failure("is not a regular file (a pipe, socket or device)");
    }
    // The rename needs only the folder's permission: without this check a
    // write-protected file would be replaced behind the user's back.
    if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        failErrno("cannot write", errno);
    }
    keepMode_ = exists;
    mode_ = target.st_mode & 07777;
}

void ReplacementFile::openTemporary()
{
    // 0666 so the umask applies as it would to a new file.
    if (!namedOnly) {
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            failErrno("cannot write", errno);
        }
    }
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        named_ = folder_ / temporaryName();
        SignalsBlocked blocked; // the slot is filled before a signal can see the file
        fd_ = ::open(named_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) {
            failErrno("cannot write", errno);
        }
        if (fd_ >= 0) {
            slot_ = takeSlot(named_.string());
        }
    }
    if (fd_ < 0) {
        failErrno("cannot write", EEXIST);
    }
}

ReplacementFile::~ReplacementFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
        if (!named_.empty()) {
            ::unlink(named_.c_str());
        }
    }
    releaseSlot(slot_);
}

void ReplacementFile::write(ByteView bytes)
{
    writeAll(fd_, bytes);
}

void ReplacementFile::extendTo(std::uint64_t size)
{
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        failErrno("cannot write", errno);
    }
}

void ReplacementFile::commit(Existing existing)
{
    if (keepMode_ && ::fchmod(fd_, mode_) != 0) {
        failErrno("cannot keep the file's permissions", errno);
    }
    // fsync reports the write errors that write() could not (a full disk on
    // some file systems, an I/O error).
    if (::fsync(fd_) != 0) {
        failErrno("cannot write", errno);
    }
    SignalsBlocked blocked;
    if (named_.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < 100 && named_.empty(); ++attempt) {
            const std::filesystem::path name = folder_ / temporaryName();
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT && ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
                named_ = name;
            } else if (errno != EEXIST) {
                failErrno("cannot write", errno);
            }
        }
        if (named_.empty()) {
            failErrno("cannot write", EEXIST);
        }
    }
    const int fd = std::exchange(fd_, -1);
    const auto removeNamed = [&] {
        ::unlink(named_.c_str());
        releaseSlot(std::exchange(slot_, -1));
    };
    if (::close(fd) != 0) {
        const int error = errno;
        removeNamed();
        failErrno("cannot write", error);
    }
    // A new file takes a name that is free at that very moment, or none.
    const bool replace = existing == Existing::Replace;
#ifdef __EMSCRIPTEN__
    // The browser page's memory file system: no other program names files
    // in it, so a free name stays free until the rename.
    errno = 0;
    if (!replace && ::access(target_.c_str(), F_OK) == 0) {
        errno = EEXIST;
    }
    bool renamed = errno != EEXIST && ::rename(named_.c_str(), target_.c_str()) == 0;
#else
    bool renamed = replace ? ::rename(named_.c_str(), target_.c_str()) == 0
                           : ::renameat2(AT_FDCWD, named_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0;
#endif
    if (!renamed && !replace && errno == EINVAL && ::link(named_.c_str(), target_.c_str()) == 0) {
        ::unlink(named_.c_str()); // a file system without the flag: a link takes only a free name
        renamed = true;
    }
    if (!renamed) {
        const int error = errno;
        removeNamed();
        if (error == EEXIST) {
            throw Failure("already exists; it is not replaced");
        }
        failErrno("cannot replace the file", error);
    }
    releaseSlot(std::exchange(slot_, -1));
    syncFolder(folder_);
}

void removeTemporaryFilesOnSignals()
{
    for (const int signal : kCleanupSignals) {
        struct sigaction action { };
        action.sa_handler = removeTemporaryFilesAndDie;
        sigemptyset(&action.sa_mask);
        for (const int other : kCleanupSignals) {
            sigaddset(&action.sa_mask, other);
        }
        struct sigaction previous { };
        ::sigaction(signal, nullptr, &previous);
        // A signal the caller ignores (nohup) stays ignored.
        if (previous.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

namespace detail {
void useNamedTemporaryFiles(bool named)
{
    namedOnly = named;
}
} // namespace detail

} // namespace varnook
