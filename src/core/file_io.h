#pragma once

#include "bytes.h"

#include <cstdint>
#include <filesystem>

namespace varnook {

// A regular file open for reading, closed when it goes. Refuses folders,
// pipes and devices (without waiting on a pipe) and files of 2 GiB or more,
// before anything is allocated.
class InputFile {
public:
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The size when the file was opened.
    std::int32_t size() const { return size_; }

    // Reads exactly count bytes; a file that ends sooner is a Failure.
    void read(std::uint8_t* into, std::size_t count);

private:
    int fd_ = -1;
    std::int32_t size_ = 0;
};

// A file that replaces path when it is committed: the bytes go to a
// temporary file in the same folder, which commit() renames over the target.
// Until then, and on any failure, the old file stays exactly as it was; an
// uncommitted temporary file is removed. An existing target keeps its
// permission bits; a symbolic link is followed.
class ReplacementFile {
public:
    explicit ReplacementFile(const std::filesystem::path& path);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    void write(ByteView bytes);
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool keepMode_ = false;
    unsigned mode_ = 0;
};

// Reads a whole regular file (see InputFile).
Bytes readFileBytes(const std::filesystem::path& path);

// Reads a stream (standard input) to its end, at most 2 GiB - 1 bytes.
Bytes readStreamBytes(int fd);

// Writes all bytes to a stream (standard output).
void writeStreamBytes(int fd, ByteView bytes);

// Replaces the file at path by the bytes (see ReplacementFile).
void replaceFile(const std::filesystem::path& path, ByteView bytes);

} // namespace varnook
