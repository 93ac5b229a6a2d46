// The replacement path, locks, folders and Ctrl+C on Windows.

#include "file_io.h"

#include "core/base/failure.h"
#include "os.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include <io.h>
#include <windows.h>

namespace varnook {
namespace {

[[noreturn]] void failErrno(const std::string& what, int error)
{
    throw Failure(what + ": " + std::strerror(error), error);
}

[[noreturn]] void failSystem(const std::string& what)
{
    const DWORD error = GetLastError();
    failErrno(what, error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
                    : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                    : error == ERROR_DISK_FULL                                       ? ENOSPC
                                                                                     : EIO);
}

// The temporary files being written, for the console's Ctrl+C and close to
// remove: they are opened so that they can be removed while open.
constexpr int kSlots = 8;
std::wstring temporarySlots[kSlots];
std::atomic<bool> slotTaken[kSlots];

int takeSlot(const std::filesystem::path& path)
{
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slotTaken[i].compare_exchange_strong(expected, true)) {
            temporarySlots[i] = path.wstring();
            return i;
        }
    }
    return -1;
}

void releaseSlot(int slot)
{
    if (slot >= 0) {
        temporarySlots[slot].clear();
        slotTaken[slot].store(false);
    }
}

BOOL WINAPI removeTemporaryFiles(DWORD)
{
    for (int i = 0; i < kSlots; ++i) {
        if (slotTaken[i].load() && !temporarySlots[i].empty()) {
            DeleteFileW(temporarySlots[i].c_str());
        }
    }
    // Ended as Windows ends a program on Ctrl+C, so that a script sees it
    // failed (Wine's default handler would say 0).
    ExitProcess(0xC000013A); // STATUS_CONTROL_C_EXIT
}

std::wstring temporaryName()
{
    static std::mt19937_64 generator{std::random_device{}()};
    static const wchar_t* letters = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring name = L".vnk";
    for (int i = 0; i < 8; ++i) {
        name += letters[generator() % 36];
    }
    return name + L".tmp";
}

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

} // namespace

void lockOpenFile(int fd, bool exclusive)
{
    OVERLAPPED whole{};
    if (!LockFileEx(handleOf(fd), exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD, &whole)) {
        if (GetLastError() == ERROR_NOT_SUPPORTED || GetLastError() == ERROR_INVALID_FUNCTION) {
            return; // a file system without locks
        }
        failSystem("cannot lock");
    }
}

void syncFolder(const std::filesystem::path&)
{
    // Renames are written through (MOVEFILE_WRITE_THROUGH) and files are
    // flushed by handle: Windows has no folder to flush.
}

ReplacementFile::ReplacementFile(const std::filesystem::path& requested)
{
    checkTarget(requested);
    openTemporary();
}

void ReplacementFile::checkTarget(const std::filesystem::path& requested)
{
    namespace fs = std::filesystem;
    target_ = requested;
    if (target_.filename().empty()) {
        throw Failure("no file name given");
    }
    folder_ = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    std::error_code error;
    const fs::file_status folder = fs::status(folder_, error);
    if (!fs::exists(folder)) {
        throw Failure("the folder " + folder_.string() + " does not exist");
    }
    if (!fs::is_directory(folder)) {
        throw Failure("cannot write: " + folder_.string() + " is not a folder");
    }
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw Failure("is a folder, not a file");
    }
    // The move needs only the folder's permission: a read-only file would
    // be replaced behind the user's back.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        failErrno("cannot write", EACCES);
    }
    keepMode_ = true;
    mode_ = attributes;
}

void ReplacementFile::openTemporary()
{
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        named_ = folder_ / temporaryName();
        fd_ = os::open(named_, os::Open::CreateNew);
        if (fd_ < 0 && errno != EEXIST) {
            failErrno("cannot write", errno);
        }
    }
    if (fd_ < 0) {
        failErrno("cannot write", EEXIST);
    }
    slot_ = takeSlot(named_);
}

ReplacementFile::~ReplacementFile()
{
    if (fd_ >= 0) {
        os::close(fd_);
        os::remove(named_);
    }
    releaseSlot(slot_);
}

void ReplacementFile::write(ByteView bytes)
{
    writeAll(fd_, bytes);
}

void ReplacementFile::extendTo(std::uint64_t size)
{
    if (!os::truncate(fd_, size)) {
        failErrno("cannot write", errno);
    }
}

void ReplacementFile::commit(Existing existing)
{
    if (!os::flush(fd_, false)) {
        failErrno("cannot write", errno);
    }
    const int fd = std::exchange(fd_, -1);
    const auto removeNamed = [&] {
        os::remove(named_);
        releaseSlot(std::exchange(slot_, -1));
    };
    if (os::close(fd) != 0) {
        const int error = errno;
        removeNamed();
        failErrno("cannot write", error);
    }
    if (keepMode_) {
        SetFileAttributesW(named_.c_str(), mode_ & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (existing == Existing::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(named_.c_str(), target_.c_str(), flags)) {
        const DWORD error = GetLastError();
        removeNamed();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            throw Failure("already exists; it is not replaced");
        }
        SetLastError(error);
        failSystem("cannot replace the file");
    }
    releaseSlot(std::exchange(slot_, -1));
}

void removeTemporaryFilesOnSignals()
{
    SetConsoleCtrlHandler(removeTemporaryFiles, TRUE);
}

namespace detail {
void useNamedTemporaryFiles(bool)
{
}
} // namespace detail

} // namespace varnook
