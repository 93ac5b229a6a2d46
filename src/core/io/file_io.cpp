// What reading and writing files does the same on every platform, through
// the calls of os.h; the replacement path, locks and folders are each
// platform's own (file_io_posix.cpp, file_io_windows.cpp).

#include "file_io.h"

#include "core/base/checked.h"
#include "core/base/failure.h"
#include "os.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace varnook {
namespace {

[[noreturn]] void failErrno(const std::string& what, int error)
{
    throw Failure(what + ": " + std::strerror(error), error);
}

} // namespace

std::size_t transferAll(const char* what, std::size_t count, const std::function<long long(std::size_t)>& step)
{
    std::size_t done = 0;
    while (done < count) {
        const long long moved = step(done);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0) {
            failErrno(what, errno);
        }
        if (moved == 0) {
            break;
        }
        done += static_cast<std::size_t>(moved);
    }
    return done;
}

void writeAll(int fd, ByteView bytes)
{
    const std::size_t n = bytes.size();
    if (transferAll("cannot write", n, [&](std::size_t done) {
            return os::write(fd, bytes.data() + done, std::min<std::size_t>(n - done, 1 << 30));
        }) < n) {
        failErrno("cannot write", EIO);
    }
}

InputFile::InputFile(const std::filesystem::path& path)
{
    // Non-blocking, so that a named pipe cannot stall the open.
    fd_ = os::open(path, os::Open::Read);
    if (fd_ < 0) {
        failErrno("cannot open", errno);
    }
    os::Info info;
    if (!os::info(fd_, info)) {
        const int error = errno;
        os::close(fd_);
        failErrno("cannot read", error);
    }
    const char* refusal = nullptr;
    if (info.folder) {
        refusal = "is a folder, not a file";
    } else if (!info.regular) {
        refusal = "is not a regular file (a pipe, socket or device)";
    } else if (info.size > static_cast<std::uint64_t>(kInt32Max)) {
        refusal = "the file is 2 GiB or larger; the limit is 2147483647 bytes";
    }
    if (refusal != nullptr) {
        os::close(fd_);
        throw Failure(refusal);
    }
    size_ = static_cast<std::int32_t>(info.size);
}

InputFile::~InputFile()
{
    os::close(fd_);
}

void InputFile::read(std::uint8_t* into, std::size_t count)
{
    if (transferAll("cannot read", count, [&](std::size_t done) { return os::read(fd_, into + done, count - done); }) <
        count) {
        throw Failure("the file became shorter while it was read");
    }
}

void InputFile::readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count)
{
    const std::size_t done = transferAll("cannot read", count, [&](std::size_t done) {
        return os::readAt(fd_, into + done, count - done, offset + done);
    });
    std::fill(into + done, into + count, std::uint8_t{0});
}

void InputFile::lockShared()
{
    lockOpenFile(fd_, false);
}

Bytes readFileBytes(const std::filesystem::path& path)
{
    InputFile file(path);
    Bytes bytes(static_cast<std::size_t>(file.size()), kUninitialised);
    file.read(bytes.data(), bytes.size());
    return bytes;
}

Bytes readStreamBytes(int fd)
{
    Bytes bytes(64 * 1024, kUninitialised);
    std::size_t size = 0;
    for (;;) {
        if (size == bytes.size()) {
            if (size >= static_cast<std::size_t>(kInt32Max)) {
                throw Failure("the file is 2 GiB or larger; the limit is 2147483647 bytes");
            }
            bytes.resize(std::min<std::size_t>(size * 2, static_cast<std::size_t>(kInt32Max) + 1));
        }
        const std::size_t room = bytes.size() - size;
        const std::size_t got = transferAll("cannot read", room, [&](std::size_t done) {
            return os::read(fd, bytes.data() + size + done, room - done);
        });
        size += got;
        if (got < room) {
            break; // the end of the stream
        }
    }
    if (size > static_cast<std::size_t>(kInt32Max)) {
        throw Failure("the file is 2 GiB or larger; the limit is 2147483647 bytes");
    }
    bytes.resize(size);
    return bytes;
}

void writeStreamBytes(int fd, ByteView bytes)
{
    try {
        writeAll(fd, bytes);
    } catch (const Failure& e) {
        if (e.systemError == EPIPE) { // on Windows too: the C library's number
            throw BrokenPipe("the reader of the output has gone");
        }
        throw;
    }
}

void replaceFile(const std::filesystem::path& path, ByteView bytes)
{
    ReplacementFile file(path);
    file.write(bytes);
    file.commit();
}

bool samePlace(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error)) {
        return std::filesystem::equivalent(a, b, error);
    }
    return std::filesystem::weakly_canonical(std::filesystem::absolute(a, error), error) ==
           std::filesystem::weakly_canonical(std::filesystem::absolute(b, error), error);
}

} // namespace varnook
