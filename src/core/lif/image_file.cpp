#include "image_file.h"

#include "core/base/byte_order.h"
#include "core/base/checked.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/io/os.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

namespace varnook::lif {
namespace {

std::function<void(const detail::StorageStep&)> watcher;

void tell(detail::StorageStep::Kind kind, detail::Store store, std::uint64_t offset = 0, ByteView bytes = {})
{
    if (watcher) {
        watcher({kind, store, offset, bytes});
    }
}

// A journal: this mark, the image's size before the change, the count of
// regions, each region (offset, length, bytes), then a checksum of all
// before it. One that is cut short or whose checksum fails was never
// complete, so the image was not yet touched: it is only removed.
constexpr std::array<std::uint8_t, 16> kJournalMark = {'V', 'A', 'R', 'N', 'O', 'O', 'K', ' ',
                                                       'J', 'O', 'U', 'R', 'N', 'A', 'L', '\n'};

std::uint32_t checksum(ByteView bytes)
{
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 16777619u;
    }
    return hash;
}

[[noreturn]] void failErrno(const std::string& what, int error)
{
    throw ImageFailure(what + ": " + std::strerror(error));
}

// A file descriptor closed when it goes.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int f) : fd(f) { }
    ~Descriptor()
    {
        if (fd >= 0) {
            os::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// transferAll, its failure one of the image's.
std::size_t transferImage(const char* what, std::size_t count, const std::function<long long(std::size_t)>& step)
{
    try {
        return transferAll(what, count, step);
    } catch (const Failure& e) {
        throw ImageFailure(e.what());
    }
}

void writeAt(int fd, std::uint64_t offset, ByteView bytes)
{
    if (transferImage("cannot write", bytes.size(), [&](std::size_t done) {
            return os::writeAt(fd, bytes.data() + done, bytes.size() - done, offset + done);
        }) < bytes.size()) {
        failErrno("cannot write", EIO);
    }
}

// Each storage step is told to the watcher as it is taken.
void syncFile(int fd, detail::Store store)
{
    tell(detail::StorageStep::Flush, store);
    if (!os::flush(fd, store == detail::Store::Image)) {
        failErrno("cannot write", errno);
    }
}

void writeTo(int fd, detail::Store store, std::uint64_t offset, ByteView bytes)
{
    tell(detail::StorageStep::Write, store, offset, bytes);
    writeAt(fd, offset, bytes);
}

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

void syncFolderOf(const std::filesystem::path& file)
{
    tell(detail::StorageStep::Flush, detail::Store::Folder);
    syncFolder(folderOf(file));
}

// The journal's regions, when it is complete; nothing when it is not.
std::optional<std::pair<std::uint64_t, std::vector<std::pair<std::uint64_t, ByteView>>>>
journalContent(ByteView journal)
{
    const std::size_t fixed = kJournalMark.size() + 12;
    if (journal.size() < fixed + 4 || !std::equal(kJournalMark.begin(), kJournalMark.end(), journal.begin()) ||
        checksum(journal.first(journal.size() - 4)) != be32(journal.data() + journal.size() - 4)) {
        return std::nullopt;
    }
    const std::uint64_t size = be64(journal.data() + kJournalMark.size());
    const std::uint32_t count = be32(journal.data() + kJournalMark.size() + 8);
    std::vector<std::pair<std::uint64_t, ByteView>> regions;
    std::size_t at = fixed;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (journal.size() - 4 - at < 16) {
            return std::nullopt;
        }
        const std::uint64_t offset = be64(journal.data() + at);
        const std::uint64_t length = be64(journal.data() + at + 8);
        at += 16;
        if (length > journal.size() - 4 - at) {
            return std::nullopt;
        }
        regions.emplace_back(offset, journal.subspan(at, static_cast<std::size_t>(length)));
        at += static_cast<std::size_t>(length);
    }
    return std::make_pair(size, std::move(regions));
}

} // namespace

std::filesystem::path journalOf(const std::filesystem::path& image)
{
    std::filesystem::path journal = image;
    journal += "-journal";
    return journal;
}

ImageFile::ImageFile(const std::filesystem::path& image, bool forChanges)
{
    std::error_code unknown;
    // The journal lies beside the file itself, whatever link names it.
    path_ = std::filesystem::canonical(image, unknown);
    if (unknown) {
        path_ = image;
    }
    journal_ = journalOf(path_);
    open(forChanges);
}

ImageFile::~ImageFile()
{
    os::close(fd_);
}

void ImageFile::open(bool forChanges)
{
    try {
        openLocked(forChanges);
    } catch (const Failure&) {
        if (fd_ >= 0) {
            os::close(std::exchange(fd_, -1));
        }
        throw;
    }
}

void ImageFile::openLocked(bool forChanges)
{
    for (;;) {
        fd_ = os::open(path_, forChanges ? os::Open::ReadWrite : os::Open::Read);
        if (fd_ < 0) {
            failErrno(forChanges ? "cannot write" : "cannot open", errno);
        }
        os::Info info;
        if (!os::info(fd_, info)) {
            failErrno("cannot read", errno);
        }
        if (info.folder) {
            throw Failure("is a folder, not a file");
        }
        if (!info.regular) {
            throw Failure("is not a regular file (a pipe, socket or device)");
        }
        if (forChanges && info.writableByNoOne) {
            throw Failure("cannot write: the image is write-protected (no one may write it)");
        }
        lockOpenFile(fd_, forChanges);
        // A journal left by a change that was cut off: roll it back, with
        // the exclusive lock, before anything is read.
        if (os::exists(journal_)) {
            if (!forChanges) {
                os::close(std::exchange(fd_, -1));
                try {
                    recovery_ = ImageFile(path_, true).recovery();
                } catch (const Failure& e) {
                    throw Failure(std::string("a change to the image was cut off, and only someone who may write "
                                              "it can roll it back from its journal: ") +
                                  e.what());
                }
                continue;
            }
            rollBack();
        }
        if (!os::info(fd_, info)) {
            failErrno("cannot read", errno);
        }
        if (info.size > static_cast<std::uint64_t>(kInt32Max)) {
            throw Failure("the file is 2 GiB or larger; the limit is 2147483647 bytes");
        }
        size_ = openedSize_ = info.size;
        return;
    }
}

void ImageFile::rollBack()
{
    Bytes journal;
    {
        const Descriptor file(os::open(journal_, os::Open::Read));
        if (file.fd < 0) {
            failErrno("cannot read the journal " + journal_.string(), errno);
        }
        journal = readStreamBytes(file.fd);
    }
    if (const auto content = journalContent(journal)) {
        for (const auto& [offset, bytes] : content->second) {
            writeAt(fd_, offset, bytes);
        }
        os::Info info;
        if (os::info(fd_, info) && info.size > content->first && !os::truncate(fd_, content->first)) {
            failErrno("cannot write", errno);
        }
        syncFile(fd_, detail::Store::Image);
        recovery_ = "a change that was cut off was rolled back (its journal " + journal_.filename().string() +
                    " restored the image as it was before)";
    } else {
        recovery_ = "a change that was cut off before it began left its journal " + journal_.filename().string() +
                    "; removed, the image was not touched";
    }
    if (!os::remove(journal_) && errno != ENOENT) {
        failErrno("cannot remove the journal " + journal_.string(), errno);
    }
    syncFolderOf(journal_);
}

void ImageFile::read(std::uint64_t offset, std::uint8_t* into, std::size_t count) const
{
    const std::size_t done = transferImage("cannot read", count, [&](std::size_t done) {
        return os::readAt(fd_, into + done, count - done, offset + done);
    });
    std::fill(into + done, into + count, std::uint8_t{0});
}

Bytes ImageFile::read(std::uint64_t offset, std::size_t count) const
{
    Bytes bytes(count, kUninitialised);
    read(offset, bytes.data(), count);
    return bytes;
}

Bytes ImageFile::readAll() const
{
    return read(0, static_cast<std::size_t>(size_));
}

void ImageFile::write(std::uint64_t offset, ByteView bytes)
{
    if (offset + bytes.size() > static_cast<std::uint64_t>(kInt32Max)) {
        throw Failure("the image would reach 2 GiB; the limit is 2147483647 bytes");
    }
    writeTo(fd_, detail::Store::Image, offset, bytes);
    size_ = std::max(size_, offset + bytes.size());
}

void ImageFile::flush()
{
    syncFile(fd_, detail::Store::Image);
}

void ImageFile::restoreSize()
{
    if (size_ > openedSize_ && os::truncate(fd_, openedSize_)) {
        tell(detail::StorageStep::Resize, detail::Store::Image, openedSize_);
        size_ = openedSize_;
        os::flush(fd_, true);
    }
}

void ImageFile::beginOverwrite(const std::vector<Region>& regions)
{
    Bytes journal(kJournalMark.begin(), kJournalMark.end());
    const auto append = [&](std::uint64_t value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) {
            journal.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    };
    append(size_, 8);
    append(regions.size(), 4);
    for (const auto& region : regions) {
        append(region.offset, 8);
        append(region.length, 8);
        const std::size_t at = journal.size();
        journal.resize(static_cast<std::size_t>(checkedSize(at + region.length, "the journal")));
        read(region.offset, journal.data() + at, static_cast<std::size_t>(region.length));
    }
    append(checksum(journal), 4);

    const Descriptor file(os::open(journal_, os::Open::CreatePrivate));
    if (file.fd < 0) {
        failErrno("this change overwrites blocks of a file in use, which is done only with a rollback journal "
                  "beside the image, and the journal " +
                      journal_.string() +
                      " cannot be made (copy the image to a folder you may write, change it there, and copy it "
                      "back)",
                  errno);
    }
    tell(detail::StorageStep::Resize, detail::Store::Journal, 0); // made
    try {
        writeTo(file.fd, detail::Store::Journal, 0, journal);
        syncFile(file.fd, detail::Store::Journal);
        syncFolderOf(journal_);
    } catch (const Failure&) {
        os::remove(journal_);
        throw;
    }
}

void ImageFile::endOverwrite()
{
    tell(detail::StorageStep::Remove, detail::Store::Journal);
    if (!os::remove(journal_)) {
        failErrno("cannot remove the journal " + journal_.string(), errno);
    }
    syncFolderOf(journal_);
}

namespace detail {

void watchStorage(std::function<void(const StorageStep&)> steps)
{
    watcher = std::move(steps);
}

} // namespace detail

} // namespace varnook::lif
