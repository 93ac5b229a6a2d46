#include "file_io.h"

#include "checked.h"
#include "failure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnook {
namespace {

[[noreturn]] void failErrno(const std::string& what, int error)
{
    throw Failure(what + ": " + std::strerror(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now and reports what close says: a delayed write error shows here.
    int close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Reads into bytes from its current size on until the end or the limit.
void readToEnd(int fd, Bytes& bytes, std::size_t expected)
{
    std::size_t size = bytes.size();
    bytes.resize(std::max<std::size_t>(expected, 64 * 1024));
    for (;;) {
        if (size == bytes.size()) {
            if (size >= static_cast<std::size_t>(kInt32Max)) {
                throw Failure("the file is 2 GiB or larger; the limit is 2147483647 bytes");
            }
            bytes.resize(std::min<std::size_t>(size * 2, static_cast<std::size_t>(kInt32Max) + 1));
        }
        const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            failErrno("cannot read", errno);
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    if (size > static_cast<std::size_t>(kInt32Max)) {
        throw Failure("the file is 2 GiB or larger; the limit is 2147483647 bytes");
    }
    bytes.resize(size);
}

void writeAll(int fd, ByteView bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 1 << 30));
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            failErrno("cannot write", errno);
        }
        done += static_cast<std::size_t>(wrote);
    }
}

std::string temporaryName(const std::string& base)
{
    static std::mt19937_64 generator{std::random_device{}()};
    static const char* letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = "." + base + ".";
    for (int i = 0; i < 8; ++i) {
        name += letters[generator() % 36];
    }
    return name + ".tmp";
}

} // namespace

Bytes readFileBytes(const std::filesystem::path& path)
{
    // Non-blocking, so that a named pipe cannot stall the open.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        failErrno("cannot open", errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        failErrno("cannot read", errno);
    }
    if (S_ISDIR(info.st_mode)) {
        throw Failure("is a folder, not a file");
    }
    if (!S_ISREG(info.st_mode)) {
        throw Failure("is not a regular file (a pipe, socket or device)");
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > static_cast<std::uint64_t>(kInt32Max)) {
        throw Failure("the file is 2 GiB or larger; the limit is 2147483647 bytes");
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    Bytes bytes;
    // One byte more than the size, so the end is seen without another resize.
    readToEnd(fd.get(), bytes, static_cast<std::size_t>(size) + 1);
    return bytes;
}

void writeStreamBytes(int fd, ByteView bytes)
{
    writeAll(fd, bytes);
}

Bytes readStreamBytes(int fd)
{
    Bytes bytes;
    readToEnd(fd, bytes, 0);
    return bytes;
}

void replaceFile(const std::filesystem::path& requested, ByteView bytes)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path path = requested;
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        path = fs::weakly_canonical(path, error);
        if (error) {
            failErrno("cannot follow the link", error.value());
        }
    }
    if (path.filename().empty()) {
        throw Failure("no file name given");
    }
    struct stat target {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode)) {
        throw Failure("is a folder, not a file");
    }
    if (exists && !S_ISREG(target.st_mode)) {
        throw Failure("is not a regular file (a pipe, socket or device)");
    }
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    struct stat folderInfo {};
    if (::stat(folder.c_str(), &folderInfo) != 0) {
        failErrno("cannot write to the folder " + folder.string(), errno);
    }
    if (!S_ISDIR(folderInfo.st_mode)) {
        throw Failure("cannot write: " + folder.string() + " is not a folder");
    }

    fs::path temporary;
    int fdValue = -1;
    for (int attempt = 0; attempt < 100 && fdValue < 0; ++attempt) {
        temporary = folder / temporaryName(path.filename().string());
        // 0666 so the umask applies as it would to a new file.
        fdValue = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fdValue < 0 && errno != EEXIST) {
            failErrno("cannot write", errno);
        }
    }
    if (fdValue < 0) {
        failErrno("cannot write", EEXIST);
    }
    FileDescriptor fd(fdValue);
    // Whatever happens next, no temporary file is left behind.
    struct Remover {
        const fs::path& path;
        bool armed = true;
        ~Remover()
        {
            if (armed) {
                ::unlink(path.c_str());
            }
        }
    } remover{temporary};

    writeAll(fd.get(), bytes);
    if (exists && ::fchmod(fd.get(), target.st_mode & 07777) != 0) {
        failErrno("cannot keep the file's permissions", errno);
    }
    if (fd.close() != 0) {
        failErrno("cannot write", errno);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        failErrno("cannot replace the file", errno);
    }
    remover.armed = false;
}

} // namespace varnook
