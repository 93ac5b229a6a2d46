#pragma once

#include "core/base/bytes.h"
#include "core/base/failure.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace varnook {

// A file name given as UTF-8 text (the command line's, the settings'): its
// bytes on Linux; on Windows the UTF-16 name the text spells, where a path
// made from a narrow string would take it in the ANSI code page. A path's
// string() gives the UTF-8 back on both.
inline std::filesystem::path pathOf(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// Repeats the step (a read or write of the bytes from done on) until count
// bytes are done or it moves none, again when a signal interrupts it; the
// bytes done. Throws Failure "what: reason" when it fails.
std::size_t transferAll(const char* what, std::size_t count, const std::function<long long(std::size_t done)>& step);

// Writes all bytes to the descriptor (see transferAll).
void writeAll(int fd, ByteView bytes);

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

    // Reads count bytes from offset on; what lies past the end of the file
    // reads as zeros (disk images may stop before their volume does).
    void readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count);

    // Waits until no writer holds the file (see lockOpenFile).
    void lockShared();

private:
    int fd_ = -1;
    std::int32_t size_ = 0;
};

// A file that replaces path when it is committed. The bytes go to a new file
// in the target's folder; commit() flushes it to disk, renames it over the
// target and flushes the folder, so that after a power cut the name holds
// either the old content or the complete new one. Until then, and on any
// failure or interruption, the old file stays exactly as it was and nothing
// is left behind. A target that exists must be a regular file the user may
// write (a protected file is refused, never replaced); it keeps its
// permission bits. A symbolic link is followed: the file it names is
// replaced (or created, when the link dangles) and the link stays.
class ReplacementFile {
public:
    explicit ReplacementFile(const std::filesystem::path& path);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    void write(ByteView bytes);
    // Zeros from the end of what was written to size (a sparse file where the
    // file system has them).
    void extendTo(std::uint64_t size);
    // What commit does when a file already has the name.
    enum class Existing { Replace, Refuse };
    // Refuse: the name must still be free, else it fails and nothing changes.
    void commit(Existing existing = Existing::Replace);

private:
    // The file a write may replace: links followed, its folder there, itself
    // a writable regular file or none. Keeps its permission bits.
    void checkTarget(const std::filesystem::path& requested);
    // Unnamed in the target's folder where the file system allows, else named.
    void openTemporary();

    std::filesystem::path target_;
    std::filesystem::path folder_;
    std::filesystem::path named_; // the temporary file's name, when it has one
    int fd_ = -1;
    int slot_ = -1;
    bool keepMode_ = false;
    unsigned mode_ = 0;
};

// Removes the named temporary file of a write in progress when SIGINT,
// SIGTERM, SIGHUP or SIGQUIT ends the program, then lets the signal end it
// as it would have. Only needed where unnamed temporary files are not
// supported by the file system; programs call it once at start.
void removeTemporaryFilesOnSignals();

namespace detail {
// Makes ReplacementFile use named temporary files only (tests of the
// fallback for file systems without unnamed ones).
void useNamedTemporaryFiles(bool named);
} // namespace detail

// Waits for, then takes, a lock of the whole open file: shared for readers,
// exclusive for a writer. It is the open file description's (not the
// process's), so every open holds its own, and it goes with the last close.
// Where the file system has no locks, nothing is locked.
void lockOpenFile(int fd, bool exclusive);

// Flushes a folder's entries (files made, renamed, removed) to disk. File
// systems that cannot sync a folder (EINVAL) keep their entries by other means.
void syncFolder(const std::filesystem::path& folder);

// Reads a whole regular file (see InputFile).
Bytes readFileBytes(const std::filesystem::path& path);

// Whether the two names are one file (links followed), or would be.
bool samePlace(const std::filesystem::path& a, const std::filesystem::path& b);

// Reads a stream (standard input) to its end, at most 2 GiB - 1 bytes.
Bytes readStreamBytes(int fd);

// The reader of a pipe went away (`| head`): no more output is wanted.
class BrokenPipe : public Failure {
public:
    using Failure::Failure;
};

// Writes all bytes to a stream (standard output). Throws BrokenPipe when the
// reader of a pipe has gone, Failure for any other error.
void writeStreamBytes(int fd, ByteView bytes);

// Replaces the file at path by the bytes (see ReplacementFile).
void replaceFile(const std::filesystem::path& path, ByteView bytes);

} // namespace varnook
