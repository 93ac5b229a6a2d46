// Changing a volume: a new image, where a file goes, and the in-place
// update under the lock and the journal.

#include "lif.h"
#include "volume_parts.h"

#include "core/base/byte_order.h"
#include "core/base/checked.h"
#include "core/base/failure.h"

#include <algorithm>

namespace varnook::lif {

using namespace detail;

void detail::refuseInvalidName(std::string_view name)
{
    if (!isValidName(name)) {
        throw Failure("\"" + shownName(name) + "\" is not a valid LIF file name: " + kNameRule);
    }
}

namespace {

void refuseInvalidLabel(std::string_view label)
{
    if (label.size() > 6 || (!label.empty() && !isValidName(label))) {
        throw Failure(
            "\"" + shownName(label) +
            "\" is not a valid volume label: up to 6 letters, digits and underscores, starting with a letter");
    }
}

} // namespace

void detail::writeLabel(std::uint8_t* l, std::string_view label, std::uint32_t directoryStart,
                        std::uint32_t directoryBlocks, const Geometry& geometry, const Date& date)
{
    put16(l, 0x8000);
    std::fill(l + 2, l + 8, ' ');
    std::copy(label.begin(), label.end(), l + 2);
    put32(l + 8, directoryStart);
    put16(l + 12, 0x1000);
    put32(l + 16, directoryBlocks);
    put16(l + 20, 1);
    put32(l + 24, geometry.tracks);
    put32(l + 28, geometry.surfaces);
    put32(l + 32, geometry.blocksPerTrack);
    std::copy(date.begin(), date.end(), l + 36);
}

Bytes newVolumeImage(std::string_view label, std::uint32_t blocks, std::uint32_t directoryBlocks, const Date& date)
{
    refuseInvalidLabel(label);
    if (directoryBlocks == 0 || std::uint64_t{directoryBlocks} + 3 > blocks) {
        throw Failure("a volume of " + std::to_string(blocks) + " blocks cannot hold a directory of " +
                      std::to_string(directoryBlocks) + " blocks and a file");
    }
    if (std::uint64_t{blocks} * kBlockSize > static_cast<std::uint64_t>(kInt32Max)) {
        throw Failure("a volume of " + std::to_string(blocks) +
                      " blocks is 2 GiB or larger; the limit is 8388607 blocks (2147483647 bytes)");
    }
    Bytes image((std::size_t{directoryBlocks} + 2) * kBlockSize, 0x00);
    const bool disk = blocks == kDefaultBlocks || blocks == 2 * kDefaultBlocks;
    writeLabel(image.data(), label, 2, directoryBlocks, disk ? Geometry{77, 2, blocks / 154} : Geometry{blocks, 1, 1},
               date);
    put16(image.data() + 2 * kBlockSize + 10, kTypeEnd);
    return image;
}

namespace {

// Where a new file goes: its first block, the directory entry it takes (a
// new end entry after it when it takes the end entry; the old version's when
// it replaces one). overOld: it fits nowhere but in the old version's blocks.
struct Placement {
    std::uint64_t start = 0;
    std::size_t slot = 0;
    bool newEnd = false;
    bool overOld = false;
};

void refuseDamage(const Volume& volume)
{
    if (const std::string damage = volume.damage(); !damage.empty()) {
        throw Failure(damage + "; nothing is written into a damaged volume");
    }
}

// The first gap of free blocks large enough, among all files sorted by
// their first block; the old version of the file counts as live.
Placement placeFile(const Volume& volume, std::string_view name, std::uint16_t type, std::uint64_t need, bool replace)
{
    // A typed name was held to the writing rule when its entry was made; a
    // name that came from a volume goes back as it was.
    if (!isVolumeName(name)) {
        throw Failure("\"" + shownName(name) + "\" is no LIF file name: 1 to 10 printable characters");
    }
    refuseDamage(volume);
    const Entry* old = volume.find(name);
    if (old != nullptr && old->type != type) {
        throw Failure("the volume holds " + std::string(name) + " as a file of type " + typeName(old->type) + ", not " +
                      (type == kTypeAscii ? "an ASCII file" : "a " + typeName(type) + " file") +
                      "; it is not replaced");
    }
    if (old != nullptr && !replace) {
        throw Failure("the volume already holds " + std::string(name), "; give --replace to replace it",
                      "; it is not replaced");
    }
    Placement placement;
    // The old version's entry, else a purged one, else the end entry (with
    // a new end entry after it while the directory has room for one).
    const bool freeEntry = old != nullptr || !volume.purgedSlots.empty() || volume.endSlot.has_value();
    placement.slot = old != nullptr                ? old->slot
                     : !volume.purgedSlots.empty() ? volume.purgedSlots.front()
                                                   : volume.endSlot.value_or(0);
    placement.newEnd =
        old == nullptr && volume.purgedSlots.empty() && volume.endSlot && *volume.endSlot + 1 < volume.entryCount();

    std::uint64_t from = volume.firstDataBlock();
    std::uint64_t largest = 0;
    const auto files = inStartOrder(volume);
    for (std::size_t i = 0; i <= files.size(); ++i) {
        const std::uint64_t to = i == files.size() ? volume.blocks : files[i]->start;
        const std::uint64_t gap = to > from ? to - from : 0;
        largest = std::max(largest, gap);
        if (gap >= need) {
            if (!freeEntry) {
                break;
            }
            placement.start = from;
            return placement;
        }
        if (i < files.size()) {
            from = std::max(from, std::uint64_t{files[i]->start} + files[i]->blocks);
        }
    }
    if (old != nullptr && need <= old->blocks) {
        placement.start = old->start;
        placement.overOld = true;
        return placement;
    }
    if (largest >= need) {
        throw Failure("the volume's directory is full (" + std::to_string(volume.entryCount()) +
                      " entries); purge a file or pack the volume first");
    }
    throw Failure("the volume is full: " + std::string(name) + " needs " + std::to_string(need) +
                  " blocks, and the largest free space holds " + std::to_string(largest));
}

// The entry as it goes into the directory: at its start block, on one volume.
EntryBytes placed(EntryBytes e, std::uint64_t start, std::uint64_t blocks)
{
    put32(e.data() + 12, static_cast<std::uint32_t>(start));
    put32(e.data() + 16, static_cast<std::uint32_t>(blocks));
    return e;
}

std::string nameOf(const EntryBytes& e)
{
    std::string name(e.begin(), e.begin() + 10);
    return name.substr(0, name.find_last_not_of(' ') + 1);
}

std::array<std::uint8_t, kEntrySize> endEntry()
{
    std::array<std::uint8_t, kEntrySize> e{};
    put16(e.data() + 10, kTypeEnd);
    return e;
}

} // namespace

void putFile(Bytes& image, std::string_view name, ByteView content, const Date& date)
{
    putFile(image, newEntry(name, kTypeAscii, date), content, true);
}

void putFile(Bytes& image, const EntryBytes& entry, ByteView content, bool replace)
{
    const std::string name = nameOf(entry);
    const Volume volume = parseImage(image);
    const std::uint64_t need = content.size() / kBlockSize;
    const Placement p = placeFile(volume, name, be16(entry.data() + 10), need, replace);
    const std::size_t end = static_cast<std::size_t>(checkedSize((p.start + need) * kBlockSize, "the image"));
    image.resize(std::max(image.size(), end), 0x00);
    std::copy(content.begin(), content.end(), image.begin() + static_cast<std::ptrdiff_t>(p.start * kBlockSize));
    const auto entryAt = [&](std::size_t slot) {
        return image.begin() + static_cast<std::ptrdiff_t>(entryOffset(volume, slot));
    };
    if (p.newEnd) {
        const auto e = endEntry();
        std::copy(e.begin(), e.end(), entryAt(p.slot + 1));
    }
    const auto e = placed(entry, p.start, need);
    std::copy(e.begin(), e.end(), entryAt(p.slot));
}

VolumeUpdate::VolumeUpdate(const std::filesystem::path& image) : file_(image, true)
{
    if (const Container container = containerOfImage(file_); container != Container::None) {
        throw Failure(std::string(container == Container::ImageDisk ? "an " : "a ") + containerName(container) +
                          " image is read here, never written: make a plain image of it with ",
                      "--export-image first", "Save As Plain Image in its disk view first");
    }
    std::tie(label_, directory_) = labelAndDirectory(file_);
    volume_ = parseVolume(label_, directory_, file_.size());
}

std::uint64_t VolumeUpdate::directoryAt() const
{
    return std::uint64_t{volume_.directoryStart} * kBlockSize;
}

EntryBytes VolumeUpdate::entryAt(std::size_t slot) const
{
    EntryBytes e{};
    std::copy_n(directory_.begin() + static_cast<std::ptrdiff_t>(slot * kEntrySize), kEntrySize, e.begin());
    return e;
}

void VolumeUpdate::writeEntry(std::size_t slot, const EntryBytes& entry)
{
    // One entry never crosses a sector: it is written whole or not at all.
    file_.write(directoryAt() + slot * kEntrySize, entry);
    file_.flush();
    std::copy(entry.begin(), entry.end(), directory_.begin() + static_cast<std::ptrdiff_t>(slot * kEntrySize));
    volume_ = parseVolume(label_, directory_, file_.size());
}

void VolumeUpdate::put(std::string_view name, ByteView content, const Date& date)
{
    insert(newEntry(name, kTypeAscii, date), content, true);
}

void VolumeUpdate::insert(const EntryBytes& entry, ByteView content, bool replace)
{
    const std::uint64_t need = content.size() / kBlockSize;
    const Placement p = placeFile(volume_, nameOf(entry), be16(entry.data() + 10), need, replace);
    const std::uint64_t at = p.start * kBlockSize;
    try {
        if (p.overOld) {
            // Only the old version's blocks can hold it: they, and the
            // directory block of its entry, are journaled first.
            const std::uint64_t entryBlock = directoryAt() + p.slot * kEntrySize / kBlockSize * kBlockSize;
            file_.beginOverwrite({{at, content.size()}, {entryBlock, kBlockSize}});
            file_.write(at, content);
            file_.flush();
            writeEntry(p.slot, placed(entry, p.start, need));
            file_.endOverwrite();
            return;
        }
        // The blocks into free space, flushed, before any entry names them;
        // a new end entry before the entry that moves the end past it.
        file_.write(at, content);
        file_.flush();
        if (p.newEnd) {
            writeEntry(p.slot + 1, endEntry());
        }
        writeEntry(p.slot, placed(entry, p.start, need));
    } catch (const Failure&) {
        file_.restoreSize();
        throw;
    }
}

const Entry& VolumeUpdate::fileNamed(std::string_view name) const
{
    // A damaged volume may only be mended: a file named by its entry (@N)
    // renamed or purged.
    if (name.empty() || name[0] != '@') {
        refuseDamage(volume_);
    }
    return volume_.named(name);
}

void VolumeUpdate::rename(std::string_view from, std::string_view to)
{
    const Entry& entry = fileNamed(from);
    refuseInvalidName(to);
    if (volume_.find(to) != nullptr) {
        throw Failure("the volume already holds " + std::string(to));
    }
    EntryBytes e = entryAt(entry.slot);
    std::fill_n(e.begin(), 10, ' ');
    std::copy(to.begin(), to.end(), e.begin());
    writeEntry(entry.slot, e);
}

void VolumeUpdate::purge(std::string_view name)
{
    const Entry& entry = fileNamed(name);
    EntryBytes e = entryAt(entry.slot);
    put16(e.data() + 10, kTypePurged);
    writeEntry(entry.slot, e);
}

void VolumeUpdate::setLabel(std::string_view label)
{
    refuseInvalidLabel(label);
    refuseDamage(volume_);
    std::fill_n(label_.begin() + 2, 6, ' ');
    std::copy(label.begin(), label.end(), label_.begin() + 2);
    file_.write(2, ByteView(label_).subspan(2, 6));
    file_.flush();
    volume_ = parseVolume(label_, directory_, file_.size());
}

void VolumeUpdate::moveFile(const Entry& file, std::uint64_t to)
{
    const std::uint64_t from = std::uint64_t{file.start} * kBlockSize;
    const std::uint64_t length = std::uint64_t{file.blocks} * kBlockSize;
    const Bytes blocks = file_.read(from, static_cast<std::size_t>(checkedSize(length, "the file")));
    EntryBytes e = entryAt(file.slot);
    put32(e.data() + 12, static_cast<std::uint32_t>(to));
    // Where the new place reaches into the file's own blocks, those are
    // live until the entry is switched: journaled, with the entry's block.
    const bool overItself = to * kBlockSize + length > from;
    if (overItself) {
        const std::uint64_t entryBlock = directoryAt() + file.slot * kEntrySize / kBlockSize * kBlockSize;
        file_.beginOverwrite({{from, to * kBlockSize + length - from}, {entryBlock, kBlockSize}});
    }
    file_.write(to * kBlockSize, blocks);
    file_.flush();
    writeEntry(file.slot, e);
    if (overItself) {
        file_.endOverwrite();
    }
}

void VolumeUpdate::pack()
{
    if (const std::string damage = volume_.damage(); !damage.empty()) {
        throw Failure(damage + "; a damaged volume is not packed");
    }
    // Each file towards the start, through the free space its predecessors
    // left: before a file moves, every block below it up to the new place
    // is free.
    std::uint64_t to = volume_.firstDataBlock();
    std::vector<Entry> files; // copies: each move reads the directory anew
    for (const Entry* file : inStartOrder(volume_)) {
        files.push_back(*file);
    }
    std::vector<std::size_t> order;
    for (const Entry& file : files) {
        order.push_back(file.slot);
        if (file.blocks != 0 && file.start != to) {
            moveFile(file, to);
        }
        to += file.blocks;
    }
    // The directory in the files' order, purged entries gone: rewritten
    // whole under the journal.
    Bytes directory(directory_.size(), 0x00);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const EntryBytes e = entryAt(order[i]);
        std::copy(e.begin(), e.end(), directory.begin() + static_cast<std::ptrdiff_t>(i * kEntrySize));
    }
    if (order.size() < volume_.entryCount()) {
        put16(directory.data() + order.size() * kEntrySize + 10, kTypeEnd);
    }
    // Past the end entry the old bytes may stay: nothing reads them.
    const std::size_t used = std::min(directory.size(), (order.size() + 1) * kEntrySize);
    if (std::equal(directory.begin(), directory.begin() + static_cast<std::ptrdiff_t>(used), directory_.begin())) {
        return;
    }
    file_.beginOverwrite({{directoryAt(), used}});
    file_.write(directoryAt(), ByteView(directory).first(used));
    file_.flush();
    file_.endOverwrite();
    std::copy_n(directory.begin(), used, directory_.begin());
    volume_ = parseVolume(label_, directory_, file_.size());
}

} // namespace varnook::lif
