// Single files as LIF tools exchange them: the 32-byte entry form and the
// HFSLIF form.

#include "lif.h"
#include "volume_parts.h"

#include "core/base/byte_order.h"
#include "core/base/failure.h"

#include <algorithm>

namespace varnook::lif {

EntryBytes newEntry(std::string_view name, std::uint16_t type, const Date& date)
{
    detail::refuseInvalidName(name);
    EntryBytes e{};
    std::fill(e.begin(), e.begin() + 10, ' ');
    std::copy(name.begin(), name.end(), e.begin());
    put16(e.data() + 10, type);
    std::copy(date.begin(), date.end(), e.begin() + 20);
    put16(e.data() + 26, 0x8001); // volume 1, the last one
    return e;
}

namespace {

constexpr const char* kNotExchanged = "is not a LIF file as LIF tools exchange them";

// The blocks the entry names, out of what follows it; a short last block
// is filled with zeros.
Bytes entryBlocks(const EntryBytes& e, ByteView content, const char* form)
{
    const std::uint16_t type = be16(e.data() + 10);
    const std::uint64_t size = std::uint64_t{be32(e.data() + 16)} * kBlockSize;
    if (type == kTypePurged || type == kTypeEnd || content.size() > size ||
        (size > 0 && content.size() <= size - kBlockSize)) {
        throw Failure(std::string(kNotExchanged) + ": its " + form + " says " +
                          (type == kTypePurged || type == kTypeEnd ? "type " + typeName(type)
                                                                   : std::to_string(size / kBlockSize) + " blocks") +
                          ", and " + std::to_string(content.size()) + " bytes follow it",
                      " (give --bare for the bare blocks)", "");
    }
    Bytes blocks(content.begin(), content.end());
    blocks.resize(static_cast<std::size_t>(size), 0x00);
    return blocks;
}

constexpr std::uint8_t kHfslifLabel[6] = {'H', 'F', 'S', 'L', 'I', 'F'};

} // namespace

std::pair<EntryBytes, Bytes> splitSingleFile(ByteView file)
{
    EntryBytes e{};
    if (file.size() >= kBlockSize && hasVolumeMark(file) &&
        std::equal(file.begin() + 2, file.begin() + 8, kHfslifLabel)) {
        // A one-file volume: its one live entry, and the blocks it names.
        const Volume volume = parseImage(file);
        if (volume.files.size() != 1) {
            throw Failure(std::string(kNotExchanged) + ": an HFSLIF volume of " + std::to_string(volume.files.size()) +
                          " files, not one");
        }
        const Entry& entry = volume.files.front();
        const std::uint64_t at = std::uint64_t{volume.directoryStart} * kBlockSize + entry.slot * kEntrySize;
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), kEntrySize, e.begin());
        // From the block the entry names (a BDAT file's is 3): what the
        // file holds, and nothing after it.
        const std::size_t start =
            static_cast<std::size_t>(std::min<std::uint64_t>(entry.start * kBlockSize, file.size()));
        const std::size_t size = static_cast<std::size_t>(
            std::min<std::uint64_t>(std::uint64_t{entry.blocks} * kBlockSize, file.size() - start));
        return {e, entryBlocks(e, file.subspan(start, size), "HFSLIF entry")};
    }
    if (file.size() < kEntrySize) {
        throw Failure(std::string(kNotExchanged) + ": shorter than a directory entry",
                      " (give --bare for the bare blocks)", "");
    }
    std::copy_n(file.begin(), kEntrySize, e.begin());
    return {e, entryBlocks(e, file.subspan(kEntrySize), "entry")};
}

Bytes hfslifForm(const EntryBytes& entry, ByteView blocks)
{
    Bytes file(2 * kBlockSize, 0x00);
    // The size as tracks of one block on one surface; the file's date.
    const std::uint32_t total = static_cast<std::uint32_t>(2 + blocks.size() / kBlockSize);
    Date date{};
    std::copy(entry.begin() + 20, entry.begin() + 26, date.begin());
    detail::writeLabel(file.data(), "HFSLIF", 1, 1, {total, 1, 1}, date);
    std::copy(entry.begin(), entry.end(), file.begin() + kBlockSize);
    put32(file.data() + kBlockSize + 12, 2);
    put16(file.data() + kBlockSize + kEntrySize + 10, kTypeEnd);
    file.insert(file.end(), blocks.begin(), blocks.end());
    return file;
}

} // namespace varnook::lif
