#include "os.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnook::os {

int open(const std::filesystem::path& path, Open mode)
{
    switch (mode) {
    case Open::Read:
        return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    case Open::ReadWrite:
        return ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    case Open::CreateNew:
        // 0666 so the umask applies as it would to a new file.
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    case Open::CreatePrivate:
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    errno = EINVAL;
    return -1;
}

int close(int fd)
{
    return ::close(fd);
}

bool info(int fd, Info& info)
{
    struct stat status { };
    if (::fstat(fd, &status) != 0) {
        return false;
    }
    info.folder = S_ISDIR(status.st_mode);
    info.regular = S_ISREG(status.st_mode);
    info.writableByNoOne = (status.st_mode & 0222) == 0;
    info.size = static_cast<std::uint64_t>(status.st_size);
    if (info.regular) {
        // Reads wait for data from here on; only the open was not to block.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return true;
}

long long read(int fd, void* into, std::size_t count)
{
    return ::read(fd, into, count);
}

long long write(int fd, const void* from, std::size_t count)
{
    return ::write(fd, from, count);
}

long long readAt(int fd, void* into, std::size_t count, std::uint64_t offset)
{
    return ::pread(fd, into, count, static_cast<off_t>(offset));
}

long long writeAt(int fd, const void* from, std::size_t count, std::uint64_t offset)
{
    return ::pwrite(fd, from, count, static_cast<off_t>(offset));
}

bool flush(int fd, bool dataOnly)
{
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0;
}

bool truncate(int fd, std::uint64_t size)
{
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool remove(const std::filesystem::path& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool exists(const std::filesystem::path& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

int standardInput()
{
    return STDIN_FILENO;
}

int standardOutput()
{
    return STDOUT_FILENO;
}

} // namespace varnook::os
