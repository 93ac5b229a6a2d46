#include "lif.h"

#include "checked.h"
#include "failure.h"
#include "file_io.h"
#include "hp_ascii.h"
#include "hp_ascii_format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>

namespace varnook::lif {
namespace {

std::uint16_t be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void put16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* p, std::uint32_t value)
{
    put16(p, value >> 16);
    put16(p + 2, value);
}

// A blank-padded field without its padding.
std::string unpadded(const std::uint8_t* p, std::size_t size)
{
    while (size > 0 && p[size - 1] == ' ') {
        --size;
    }
    return std::string(p, p + size);
}

std::uint8_t bcd(int value)
{
    return static_cast<std::uint8_t>((value / 10) << 4 | value % 10);
}

// Throws a Failure with the text, or records it when findings are wanted.
struct Problems {
    std::vector<Finding>* findings;
    void operator()(std::uint64_t offset, const std::string& text) const
    {
        if (findings == nullptr) {
            throw Failure(text);
        }
        findings->push_back({offset, text});
    }
};

constexpr const char* kNotAVolume = "not a LIF volume (it does not start with the LIF mark 80 00)";

} // namespace

std::uint64_t Volume::freeBlocks() const
{
    std::uint64_t used = firstDataBlock();
    for (const auto& file : files) {
        used += file.blocks;
    }
    return blocks > used ? blocks - used : 0;
}

const Entry* Volume::find(std::string_view name) const
{
    const auto found = std::find_if(files.begin(), files.end(), [&](const Entry& e) { return e.name == name; });
    return found == files.end() ? nullptr : &*found;
}

bool hasVolumeMark(ByteView start)
{
    return start.size() >= 2 && start[0] == 0x80 && start[1] == 0x00;
}

Volume parseVolume(ByteView label, ByteView directory, std::uint64_t imageSize, std::vector<Finding>* findings)
{
    const Problems problem{findings};
    Volume volume;
    if (label.size() < kBlockSize || !hasVolumeMark(label)) {
        problem(0, kNotAVolume);
        return volume;
    }
    volume.label = unpadded(label.data() + 2, 6);
    volume.directoryStart = be32(label.data() + 8);
    volume.directoryBlocks = be32(label.data() + 16);
    const std::uint64_t tracks = be32(label.data() + 24);
    const std::uint64_t surfaces = be32(label.data() + 28);
    const std::uint64_t perTrack = be32(label.data() + 32);
    const std::uint64_t imageBlocks = (imageSize + kBlockSize - 1) / kBlockSize;
    std::uint64_t capacity = 0;
    const bool wraps = __builtin_mul_overflow(tracks, surfaces, &capacity) ||
                       __builtin_mul_overflow(capacity, perTrack, &capacity); // 2^96 blocks would wrap
    volume.blocks = wraps ? std::numeric_limits<std::uint64_t>::max() : capacity == 0 ? imageBlocks : capacity;
    const std::uint64_t directoryEnd = volume.firstDataBlock();
    if (volume.directoryStart == 0 || volume.directoryBlocks == 0 || directoryEnd * kBlockSize > imageSize ||
        directoryEnd > volume.blocks || directory.size() < volume.entryCount() * kEntrySize) {
        problem(8, "the directory (block " + std::to_string(volume.directoryStart) + ", " +
                       std::to_string(volume.directoryBlocks) + " blocks) lies outside the image or the volume");
        return volume;
    }

    std::uint64_t taken = directoryEnd; // the first block after the files so far
    std::string previous = "the directory";
    for (std::size_t slot = 0; slot < volume.entryCount(); ++slot) {
        const std::uint8_t* e = directory.data() + slot * kEntrySize;
        const std::uint16_t type = be16(e + 10);
        if (type == kTypeEnd) {
            volume.endSlot = slot;
            break;
        }
        if (type == kTypePurged) {
            volume.purgedSlots.push_back(slot);
            continue;
        }
        Entry entry{unpadded(e, 10), type, be32(e + 12), be32(e + 16), {}, slot};
        std::copy(e + 20, e + 26, entry.date.begin());
        const std::uint64_t offset = std::uint64_t{volume.directoryStart} * kBlockSize + slot * kEntrySize;
        const std::uint64_t end = std::uint64_t{entry.start} + entry.blocks;
        const std::string span = " (blocks " + std::to_string(entry.start) + " to " + std::to_string(end) + ")";
        if (entry.start < directoryEnd || end > volume.blocks) {
            problem(offset, "file " + entry.name + span + " lies outside the volume's data blocks");
        } else if (entry.start < taken) {
            problem(offset, "file " + entry.name + span + " overlaps " + previous + " or stands before it");
        }
        taken = std::max(taken, end);
        previous = "file " + entry.name;
        volume.files.push_back(std::move(entry));
    }
    return volume;
}

Volume parseImage(ByteView image, std::vector<Finding>* findings)
{
    const ByteView label = image.first(std::min(image.size(), kBlockSize));
    const std::uint64_t directoryAt =
        label.size() == kBlockSize ? std::uint64_t{be32(label.data() + 8)} * kBlockSize : image.size();
    const ByteView directory = directoryAt < image.size() ? image.subspan(directoryAt) : ByteView();
    return parseVolume(label, directory, image.size(), findings);
}

bool isVolumeFile(const std::filesystem::path& path)
{
    std::uint8_t mark[2] = {};
    InputFile(path).readAt(0, mark, sizeof mark);
    return hasVolumeMark(mark);
}

std::string typeName(std::uint16_t type)
{
    if (type == kTypeAscii) {
        return "ASCII";
    }
    char text[8];
    std::snprintf(text, sizeof text, "%04X", type);
    return text;
}

Volume readVolume(const std::filesystem::path& image)
{
    InputFile file(image);
    Bytes label(kBlockSize);
    if (static_cast<std::size_t>(file.size()) < kBlockSize) {
        throw Failure(kNotAVolume);
    }
    file.readAt(0, label.data(), kBlockSize);
    Bytes directory;
    if (hasVolumeMark(label)) {
        const std::uint64_t start = be32(label.data() + 8);
        const std::uint64_t bytes = std::uint64_t{be32(label.data() + 16)} * kBlockSize;
        if ((start + bytes / kBlockSize) * kBlockSize <= static_cast<std::uint64_t>(file.size())) {
            directory.resize(bytes);
            file.readAt(start * kBlockSize, directory.data(), directory.size());
        }
    }
    return parseVolume(label, directory, static_cast<std::uint64_t>(file.size()));
}

Bytes readFileBlocks(const std::filesystem::path& image, const Entry& entry)
{
    InputFile file(image);
    Bytes bytes(static_cast<std::size_t>(checkedSize(std::uint64_t{entry.blocks} * kBlockSize, "the file")));
    file.readAt(std::uint64_t{entry.start} * kBlockSize, bytes.data(), bytes.size());
    return bytes;
}

std::vector<ByteView> readRecords(ByteView stream, bool programFile)
{
    std::vector<ByteView> lines;
    const std::uint8_t* s = stream.data();
    const std::size_t n = stream.size();
    for (std::size_t p = 0;;) {
        if (programFile && p + 3 <= n && s[p] == 0x00 && s[p + 1] == 0xFF && s[p + 2] == 0xFF) {
            return lines;
        }
        if (p + 2 > n) {
            throw Failure("offset " + std::to_string(p) + ": the records end without an end mark (" +
                          (programFile ? "00 FF FF)" : "FFFF)"));
        }
        const std::size_t length = be16(s + p);
        if (length == 0xFFFF && !programFile) {
            return lines;
        }
        if (length == 0xFFFE) { // a null record
            lines.emplace_back();
            p += 2;
            continue;
        }
        if (p + 2 + length > n) {
            throw Failure("offset " + std::to_string(p) + ": a record of " + std::to_string(length) +
                          " bytes runs past the end");
        }
        lines.push_back(stream.subspan(p + 2, length));
        p += 2 + length + (length & 1);
    }
}

Bytes asciiFileFromLines(const std::vector<ByteView>& lines)
{
    Bytes file;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ByteView line = lines[i];
        if (line.size() > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(static_cast<std::int64_t>(i) + 1, line.size()));
        }
        file.push_back(0x00);
        file.push_back(static_cast<std::uint8_t>(line.size()));
        file.insert(file.end(), line.begin(), line.end());
        if (line.size() % 2 == 1) {
            file.push_back(0x00);
        }
    }
    checkedSize(file.size(), "the file");
    file.push_back(0xFF);
    file.push_back(0xFF);
    file.resize((file.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0x00);
    return file;
}

Bytes asciiFileFromProgramFile(ByteView file)
{
    if (file.size() < hp::kHeaderSize) {
        throw Failure("the file is shorter than the 256-byte header of an HP BASIC ASCII file");
    }
    return asciiFileFromLines(readRecords(file.subspan(hp::kHeaderSize), true));
}

Bytes textFromLines(const std::vector<ByteView>& lines)
{
    Bytes text;
    for (const auto line : lines) {
        text.insert(text.end(), line.begin(), line.end());
        text.push_back(0x0D);
        text.push_back(0x0A);
    }
    return text;
}

Bytes programFileFromLines(const std::vector<ByteView>& lines)
{
    Bytes file(hp::kHeaderSize, 0x00);
    std::copy(hp::kHeaderStart.begin(), hp::kHeaderStart.end(), file.begin());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ByteView line = lines[i];
        const auto lineNumber = static_cast<std::int32_t>(i + 1);
        if (line.size() > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(static_cast<std::int64_t>(i) + 1, line.size()));
        }
        if (const auto at = findUncarriableByte(line)) {
            throw Failure(uncarriableByteMessage({lineNumber, at->column}));
        }
        file.push_back(0x00);
        file.push_back(static_cast<std::uint8_t>(line.size()));
        file.insert(file.end(), line.begin(), line.end());
        if (line.size() % 2 == 1) {
            file.push_back(0x00);
        }
    }
    file.insert(file.end(), hp::kEndMark.begin(), hp::kEndMark.end());
    return file;
}

bool isValidName(std::string_view name)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const auto other = [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '_'; };
    return !name.empty() && name.size() <= 10 && letter(name[0]) && std::all_of(name.begin(), name.end(), other);
}

std::string formatDate(const Date& date)
{
    if (std::all_of(date.begin(), date.end(), [](std::uint8_t b) { return b == 0; })) {
        return "-";
    }
    int value[6];
    for (std::size_t i = 0; i < 6; ++i) {
        if ((date[i] >> 4) > 9 || (date[i] & 0x0F) > 9) {
            return "unknown";
        }
        value[i] = (date[i] >> 4) * 10 + (date[i] & 0x0F);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", value[0] + (value[0] >= 70 ? 1900 : 2000),
                  value[1], value[2], value[3], value[4], value[5]);
    return text;
}

Date dateNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {bcd(local.tm_year % 100), bcd(local.tm_mon + 1), bcd(local.tm_mday),
            bcd(local.tm_hour),       bcd(local.tm_min),     bcd(std::min(local.tm_sec, 59))};
}

Bytes newVolumeImage(std::string_view label, std::uint32_t blocks, std::uint32_t directoryBlocks, const Date& date)
{
    if (label.size() > 6 || (!label.empty() && !isValidName(label))) {
        throw Failure(
            "\"" + std::string(label) +
            "\" is not a valid volume label: up to 6 letters, digits and underscores, starting with a letter");
    }
    if (directoryBlocks == 0 || std::uint64_t{directoryBlocks} + 3 > blocks) {
        throw Failure("a volume of " + std::to_string(blocks) + " blocks cannot hold a directory of " +
                      std::to_string(directoryBlocks) + " blocks and a file");
    }
    checkedSize((std::uint64_t{directoryBlocks} + 2) * kBlockSize, "the directory");
    Bytes image((std::size_t{directoryBlocks} + 2) * kBlockSize, 0x00);
    std::uint8_t* l = image.data();
    put16(l, 0x8000);
    std::fill(l + 2, l + 8, ' ');
    std::copy(label.begin(), label.end(), l + 2);
    put32(l + 8, 2);
    put16(l + 12, 0x1000);
    put32(l + 16, directoryBlocks);
    put16(l + 20, 1);
    const bool disk = blocks == kDefaultBlocks;
    put32(l + 24, disk ? 77 : blocks);
    put32(l + 28, disk ? 2 : 1);
    put32(l + 32, disk ? 16 : 1);
    std::copy(date.begin(), date.end(), l + 36);
    put16(l + 2 * kBlockSize + 10, kTypeEnd);
    return image;
}

void putFile(Bytes& image, std::string_view name, ByteView content, const Date& date)
{
    if (!isValidName(name)) {
        throw Failure(
            "\"" + std::string(name) +
            "\" is not a valid LIF file name: 1 to 10 letters, digits and underscores, starting with a letter");
    }
    Volume volume = parseImage(image);
    const std::uint64_t directoryAt = std::uint64_t{volume.directoryStart} * kBlockSize;
    const std::uint64_t need = content.size() / kBlockSize;
    const auto entryAt = [&](std::size_t slot) { return image.data() + directoryAt + slot * kEntrySize; };
    std::optional<std::size_t> purge; // the old file's entry, freed once the new one has its place
    const auto place = [&](std::size_t slot, std::uint64_t start) {
        if (purge && *purge != slot) {
            put16(entryAt(*purge) + 10, kTypePurged);
        }
        const std::size_t end = static_cast<std::size_t>((start + need) * kBlockSize);
        checkedSize(end, "the image");
        image.resize(std::max(image.size(), end), 0x00);
        std::copy(content.begin(), content.end(), image.begin() + static_cast<std::ptrdiff_t>(start * kBlockSize));
        std::uint8_t* e = entryAt(slot);
        std::fill(e, e + kEntrySize, 0x00);
        std::fill(e, e + 10, ' ');
        std::copy(name.begin(), name.end(), e);
        put16(e + 10, kTypeAscii);
        put32(e + 12, static_cast<std::uint32_t>(start));
        put32(e + 16, static_cast<std::uint32_t>(need));
        std::copy(date.begin(), date.end(), e + 20);
        put16(e + 26, 0x8001);
    };

    if (const Entry* old = volume.find(name)) {
        if (old->type != kTypeAscii) {
            throw Failure("the volume holds " + std::string(name) + " as a file of type " + typeName(old->type) +
                          ", not an ASCII file; it is not replaced");
        }
        if (need <= old->blocks) {
            place(old->slot, old->start);
            return;
        }
        purge = old->slot;
        volume.purgedSlots.push_back(old->slot);
        std::sort(volume.purgedSlots.begin(), volume.purgedSlots.end());
        volume.files.erase(volume.files.begin() + (old - volume.files.data()));
    }

    // The first gap large enough that has a free directory entry between
    // its neighbours' entries, so that start blocks stay in order.
    std::uint64_t from = volume.firstDataBlock();
    std::uint64_t largest = 0;
    std::size_t afterSlot = 0; // free entries must stand at or after this slot
    bool roomWithoutEntry = false;
    for (std::size_t i = 0; i <= volume.files.size(); ++i) {
        const bool last = i == volume.files.size();
        const std::uint64_t to = last ? volume.blocks : volume.files[i].start;
        const std::size_t beforeSlot = last ? volume.entryCount() : volume.files[i].slot;
        const std::uint64_t gap = to > from ? to - from : 0;
        largest = std::max(largest, gap);
        if (gap >= need) {
            const auto free = std::lower_bound(volume.purgedSlots.begin(), volume.purgedSlots.end(), afterSlot);
            if (free != volume.purgedSlots.end() && *free < beforeSlot) {
                place(*free, from);
                return;
            }
            if (last && volume.endSlot) {
                const std::size_t slot = *volume.endSlot;
                place(slot, from);
                if (slot + 1 < volume.entryCount()) {
                    std::uint8_t* e = entryAt(slot + 1);
                    std::fill(e, e + kEntrySize, 0x00);
                    put16(e + 10, kTypeEnd);
                }
                return;
            }
            roomWithoutEntry = true;
        }
        if (!last) {
            from = std::max(from, std::uint64_t{volume.files[i].start} + volume.files[i].blocks);
            afterSlot = volume.files[i].slot + 1;
        }
    }
    if (roomWithoutEntry) {
        throw Failure("the volume's directory is full (" + std::to_string(volume.entryCount()) +
                      " entries); purge a file or pack the volume first");
    }
    throw Failure("the volume is full: " + std::string(name) + " needs " + std::to_string(need) +
                  " blocks, and the largest free space holds " + std::to_string(largest));
}

void putFileIntoImage(const std::filesystem::path& image, std::string_view name, ByteView content)
{
    Bytes bytes = readFileBytes(image);
    putFile(bytes, name, content, dateNow());
    replaceFile(image, bytes);
}

} // namespace varnook::lif
