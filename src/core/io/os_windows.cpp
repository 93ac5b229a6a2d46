// The calls of os.h on Windows: files opened with CreateFileW (UTF-16
// names, every sharing mode, so that a temporary file can be removed while
// it is open) and used through the C library's descriptors.

#include "os.h"

#include <cerrno>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace varnook::os {
namespace {

// The C library's error number for the system's.
int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_DIRECTORY:
        return EISDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

template <class T> T failed(T value)
{
    errno = errnoOf(GetLastError());
    return value;
}

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

} // namespace

int open(const std::filesystem::path& path, Open mode)
{
    const bool create = mode == Open::CreateNew || mode == Open::CreatePrivate;
    const DWORD access = mode == Open::Read        ? GENERIC_READ
                         : mode == Open::ReadWrite ? GENERIC_READ | GENERIC_WRITE
                                                   : GENERIC_WRITE | DELETE;
    // Folders open too (they are refused by what info says of them).
    const HANDLE handle =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failed(-1);
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   _O_BINARY | _O_NOINHERIT | (mode == Open::Read ? _O_RDONLY : 0));
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

int close(int fd)
{
    return _close(fd);
}

bool info(int fd, Info& info)
{
    const HANDLE handle = handleOf(fd);
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        info = Info{};
        return type != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR ? true : failed(false);
    }
    BY_HANDLE_FILE_INFORMATION status{};
    if (!GetFileInformationByHandle(handle, &status)) {
        return failed(false);
    }
    info.folder = (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.folder;
    info.writableByNoOne = (status.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    info.size = std::uint64_t{status.nFileSizeHigh} << 32 | status.nFileSizeLow;
    return true;
}

long long read(int fd, void* into, std::size_t count)
{
    DWORD done = 0;
    if (!ReadFile(handleOf(fd), into, static_cast<DWORD>(std::min<std::size_t>(count, 1 << 30)), &done, nullptr)) {
        // The writer of a pipe closing it is its end.
        return GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF ? 0 : failed(-1LL);
    }
    return done;
}

long long write(int fd, const void* from, std::size_t count)
{
    DWORD done = 0;
    if (!WriteFile(handleOf(fd), from, static_cast<DWORD>(std::min<std::size_t>(count, 1 << 30)), &done, nullptr)) {
        return failed(-1LL);
    }
    return done;
}

long long readAt(int fd, void* into, std::size_t count, std::uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!ReadFile(handleOf(fd), into, static_cast<DWORD>(std::min<std::size_t>(count, 1 << 30)), &done, &at)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : failed(-1LL);
    }
    return done;
}

long long writeAt(int fd, const void* from, std::size_t count, std::uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!WriteFile(handleOf(fd), from, static_cast<DWORD>(std::min<std::size_t>(count, 1 << 30)), &done, &at)) {
        return failed(-1LL);
    }
    return done;
}

bool flush(int fd, bool)
{
    return FlushFileBuffers(handleOf(fd)) ? true : failed(false);
}

bool truncate(int fd, std::uint64_t size)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(handleOf(fd), FileEndOfFileInfo, &end, sizeof end) ? true : failed(false);
}

bool remove(const std::filesystem::path& path)
{
    return DeleteFileW(path.c_str()) ? true : failed(false);
}

bool exists(const std::filesystem::path& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int standardInput()
{
    _setmode(0, _O_BINARY);
    return 0;
}

int standardOutput()
{
    _setmode(1, _O_BINARY);
    return 1;
}

} // namespace varnook::os
