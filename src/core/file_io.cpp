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

InputFile::InputFile(const std::filesystem::path& path)
{
    // Non-blocking, so that a named pipe cannot stall the open.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        failErrno("cannot open", errno);
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        failErrno("cannot read", error);
    }
    const char* refusal = nullptr;
    if (S_ISDIR(info.st_mode)) {
        refusal = "is a folder, not a file";
    } else if (!S_ISREG(info.st_mode)) {
        refusal = "is not a regular file (a pipe, socket or device)";
    } else if (static_cast<std::uint64_t>(info.st_size) > static_cast<std::uint64_t>(kInt32Max)) {
        refusal = "the file is 2 GiB or larger; the limit is 2147483647 bytes";
    }
    if (refusal != nullptr) {
        ::close(fd_);
        throw Failure(refusal);
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = static_cast<std::int32_t>(info.st_size);
}

InputFile::~InputFile()
{
    ::close(fd_);
}

void InputFile::read(std::uint8_t* into, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd_, into + done, count - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            failErrno("cannot read", errno);
        }
        if (got == 0) {
            throw Failure("the file became shorter while it was read");
        }
        done += static_cast<std::size_t>(got);
    }
}

ReplacementFile::ReplacementFile(const std::filesystem::path& requested)
{
    namespace fs = std::filesystem;
    std::error_code error;
    target_ = requested;
    if (fs::is_symlink(fs::symlink_status(target_, error))) {
        target_ = fs::weakly_canonical(target_, error);
        if (error) {
            failErrno("cannot follow the link", error.value());
        }
    }
    if (target_.filename().empty()) {
        throw Failure("no file name given");
    }
    struct stat target {};
    const bool exists = ::stat(target_.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode)) {
        throw Failure("is a folder, not a file");
    }
    if (exists && !S_ISREG(target.st_mode)) {
        throw Failure("is not a regular file (a pipe, socket or device)");
    }
    keepMode_ = exists;
    mode_ = target.st_mode & 07777;
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    struct stat folderInfo {};
    if (::stat(folder.c_str(), &folderInfo) != 0) {
        failErrno("cannot write to the folder " + folder.string(), errno);
    }
    if (!S_ISDIR(folderInfo.st_mode)) {
        throw Failure("cannot write: " + folder.string() + " is not a folder");
    }
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = folder / temporaryName(target_.filename().string());
        // 0666 so the umask applies as it would to a new file.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) {
            failErrno("cannot write", errno);
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
        ::unlink(temporary_.c_str());
    }
}

void ReplacementFile::write(ByteView bytes)
{
    writeAll(fd_, bytes);
}

void ReplacementFile::commit()
{
    if (keepMode_ && ::fchmod(fd_, mode_) != 0) {
        failErrno("cannot keep the file's permissions", errno);
    }
    const int fd = fd_;
    fd_ = -1;
    // close reports a delayed write error; either way the temporary file goes.
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        failErrno("cannot write", error);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        failErrno("cannot replace the file", error);
    }
}

Bytes readFileBytes(const std::filesystem::path& path)
{
    InputFile file(path);
    Bytes bytes(static_cast<std::size_t>(file.size()));
    file.read(bytes.data(), bytes.size());
    return bytes;
}

Bytes readStreamBytes(int fd)
{
    Bytes bytes;
    readToEnd(fd, bytes, 0);
    return bytes;
}

void writeStreamBytes(int fd, ByteView bytes)
{
    writeAll(fd, bytes);
}

void replaceFile(const std::filesystem::path& path, ByteView bytes)
{
    ReplacementFile file(path);
    file.write(bytes);
    file.commit();
}

} // namespace varnook
