#pragma once

// A disk image opened as a disk is: changed in place under an exclusive lock
// (readers hold a shared one), never replaced, so that it keeps its inode,
// owner, mode and links and another program holding it open sees every
// change. Where live blocks must be overwritten, their old bytes first go
// into a rollback journal beside the image; an image found with a journal
// is rolled back before anything else is done with it.

#include "core/base/bytes.h"
#include "core/base/failure.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace varnook::lif {

// A failure to read or write the image itself (not a refusal of what is
// asked of it): said about the image.
class ImageFailure : public Failure {
public:
    using Failure::Failure;
};

// The journal of the image: its name with "-journal" added.
std::filesystem::path journalOf(const std::filesystem::path& image);

class ImageFile {
public:
    // Opens the image for reading (a shared lock) or for changes (an
    // exclusive one), after rolling back any journal beside it. Refuses
    // what is not a regular file, a file of 2 GiB or more, and for changes
    // an image nobody may write (root included).
    ImageFile(const std::filesystem::path& image, bool forChanges);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    std::uint64_t size() const { return size_; }
    // What was said on opening: that an unfinished change was rolled back.
    const std::string& recovery() const { return recovery_; }

    // Reads count bytes at offset; what lies past the end reads as zeros
    // (an image may stop before its volume does).
    void read(std::uint64_t offset, std::uint8_t* into, std::size_t count) const;
    Bytes read(std::uint64_t offset, std::size_t count) const;
    // The whole file.
    Bytes readAll() const;

    void write(std::uint64_t offset, ByteView bytes);
    // Makes every write so far durable.
    void flush();
    // Back to the size the image had when it was opened (a failed change).
    void restoreSize();

    // A region about to be overwritten: its first byte and its length.
    struct Region {
        std::uint64_t offset;
        std::uint64_t length;
    };
    // Saves the regions' bytes in the journal and makes it durable, folder
    // included: from then on a kill or power loss anywhere leaves an image
    // that the next open rolls back. Refuses, saying what to do, where the
    // folder cannot hold a journal.
    void beginOverwrite(const std::vector<Region>& regions);
    // The overwriting is complete and flushed: the journal goes, durably.
    void endOverwrite();

private:
    void open(bool forChanges);
    void openLocked(bool forChanges);
    void rollBack();

    std::filesystem::path path_;
    std::filesystem::path journal_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t openedSize_ = 0;
    std::string recovery_;
};

namespace detail {

// Where an image change's storage steps are told, in order: a test records
// them to rebuild what a power loss at any flush would leave. Resize sets
// the file's size to offset (the journal made: Resize to 0); Flush of the
// folder makes a journal made or removed durable.
enum class Store { Image, Journal, Folder };
struct StorageStep {
    enum Kind { Write, Resize, Flush, Remove } kind;
    Store store;
    std::uint64_t offset = 0;
    ByteView bytes;
};
void watchStorage(std::function<void(const StorageStep&)> watcher);

} // namespace detail

} // namespace varnook::lif
