#include "lif.h"

#include "checked.h"
#include "failure.h"
#include "file_io.h"
#include "hp_ascii.h"
#include "hp_ascii_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <utility>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A blank-padded field without its padding (some tools pad with NULs).
std::string unpadded(const std::uint8_t* p, std::size_t size)
{
    while (size > 0 && (p[size - 1] == ' ' || p[size - 1] == 0x00)) {
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

std::uint64_t entryOffset(const Volume& volume, std::size_t slot)
{
    return std::uint64_t{volume.directoryStart} * kBlockSize + slot * kEntrySize;
}

std::string blockSpan(const Entry& entry)
{
    return " (blocks " + std::to_string(entry.start) + " to " +
           std::to_string(std::uint64_t{entry.start} + entry.blocks) + ")";
}

// The live files by their first block.
std::vector<const Entry*> inStartOrder(const Volume& volume)
{
    std::vector<const Entry*> files;
    for (const auto& file : volume.files) {
        files.push_back(&file);
    }
    std::stable_sort(files.begin(), files.end(), [](const Entry* a, const Entry* b) { return a->start < b->start; });
    return files;
}

} // namespace

std::uint64_t Volume::freeBlocks() const
{
    std::uint64_t used = firstDataBlock();
    for (const auto& file : files) {
        used += file.blocks;
    }
    return blocks > used ? blocks - used : 0;
}

std::string Volume::damage() const
{
    for (const auto& file : files) {
        if (!file.damage.empty()) {
            return file.damage;
        }
    }
    return {};
}

const Entry* Volume::find(std::string_view name) const
{
    const auto found = std::find_if(files.begin(), files.end(), [&](const Entry& e) { return e.name == name; });
    return found == files.end() ? nullptr : &*found;
}

const Entry* Volume::findNamed(std::string_view name) const
{
    if (const Entry* exact = find(name)) {
        return exact;
    }
    const auto shown =
        std::find_if(files.begin(), files.end(), [&](const Entry& e) { return shownName(e.name) == name; });
    return shown == files.end() ? nullptr : &*shown;
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
    volume.blocks = wraps ? kMostBlocks : std::min(capacity == 0 ? imageBlocks : capacity, kMostBlocks);
    const std::uint64_t directoryEnd = volume.firstDataBlock();
    if (volume.directoryStart == 0 || volume.directoryBlocks == 0 || directoryEnd * kBlockSize > imageSize ||
        directoryEnd > volume.blocks || directory.size() < volume.entryCount() * kEntrySize) {
        problem(8, "the directory (block " + std::to_string(volume.directoryStart) + ", " +
                       std::to_string(volume.directoryBlocks) + " blocks) lies outside the image or the volume");
        return volume;
    }

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
        Entry entry{unpadded(e, 10), type, be32(e + 12), be32(e + 16), {}, slot, {}};
        std::copy(e + 20, e + 26, entry.date.begin());
        volume.files.push_back(std::move(entry));
    }
    // A damaged entry is marked, and recorded when findings are wanted; the
    // other files stay readable.
    const auto damaged = [&](Entry& entry, const std::string& text) {
        if (findings != nullptr) {
            findings->push_back({entryOffset(volume, entry.slot), text});
        }
        if (entry.damage.empty()) {
            entry.damage = text;
        }
    };
    std::vector<Entry*> byStart;
    for (auto& entry : volume.files) {
        const std::uint64_t end = std::uint64_t{entry.start} + entry.blocks;
        if (entry.start < directoryEnd || end > volume.blocks) {
            damaged(entry,
                    "file " + shownName(entry.name) + blockSpan(entry) + " lies outside the volume's data blocks");
        } else if (end * kBlockSize > imageSize) {
            damaged(entry, "file " + shownName(entry.name) + ": the image ends inside it (cut off)");
        }
        byStart.push_back(&entry);
    }
    // Entries may stand in any order (tools put files into gaps and their
    // entries at the end); only files that share blocks are wrong.
    std::stable_sort(byStart.begin(), byStart.end(),
                     [](const Entry* a, const Entry* b) { return a->start < b->start; });
    Entry* reaching = nullptr; // of the files so far, the one that ends last
    for (Entry* file : byStart) {
        if (file->blocks == 0) {
            continue;
        }
        if (reaching != nullptr && std::uint64_t{reaching->start} + reaching->blocks > file->start) {
            damaged(*file,
                    "file " + shownName(file->name) + blockSpan(*file) + " overlaps file " + shownName(reaching->name));
            if (reaching->damage.empty()) {
                reaching->damage = "file " + shownName(reaching->name) + blockSpan(*reaching) + " overlaps file " +
                                   shownName(file->name);
            }
        }
        if (reaching == nullptr ||
            file->start + std::uint64_t{file->blocks} > reaching->start + std::uint64_t{reaching->blocks}) {
            reaching = file;
        }
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
    std::uint8_t mark[4] = {};
    InputFile(path).readAt(0, mark, sizeof mark);
    return hasVolumeMark(mark) || containerOf(mark) != Container::None;
}

void markAbsentBlocks(Volume& volume, const DecodedImage& image)
{
    for (auto& file : volume.files) {
        const std::string missing = describeAbsent(image, file.start, std::uint64_t{file.start} + file.blocks);
        if (!missing.empty() && file.damage.empty()) {
            file.damage = "file " + shownName(file.name) + ": block " + missing + " missing from the " +
                          containerName(image.container) + " capture";
        }
    }
}

std::string shownName(std::string_view name)
{
    static const char* digits = "0123456789ABCDEF";
    std::string shown;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool dotName = c == '.' && name.find_first_not_of('.') == std::string_view::npos && name.size() <= 2;
        if (c <= 0x20 || c >= 0x7F || c == '/' || c == '\\' || c == '%' || dotName || (i == 0 && c == '-')) {
            shown += {'%', digits[c >> 4], digits[c & 0x0F]};
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown.empty() ? "%20" : shown;
}

namespace {

struct TypeName {
    std::uint16_t type;
    const char* name;
};
constexpr TypeName kTypeNames[] = {{kTypeAscii, "ASCII"}, {kTypeProg, "PROG"}, {0xE961, "BDAT"}, {0xE971, "BIN"},
                                   {0xE942, "SYSTM"},     {0xEA0A, "DATA"},    {0xEA32, "CODE"}, {0xEA3E, "TEXT"}};

} // namespace

std::string typeName(std::uint16_t type)
{
    for (const auto& known : kTypeNames) {
        if (known.type == type) {
            return known.name;
        }
    }
    char text[8];
    std::snprintf(text, sizeof text, "%04X", type);
    return text;
}

std::optional<std::uint16_t> typeNamed(std::string_view text)
{
    for (const auto& known : kTypeNames) {
        if (text == known.name) {
            return known.type;
        }
    }
    std::uint16_t type = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), type, 16);
    if (text.size() != 4 || error != std::errc() || end != text.data() + text.size() || type == kTypePurged ||
        type == kTypeEnd) {
        return std::nullopt;
    }
    return type;
}

std::string notTextReason(std::uint16_t type)
{
    if (type == kTypeProg) {
        return "a PROG file: a program stored with STORE in HP BASIC's internal form, which only HP BASIC turns "
               "back into text (LOAD it there or in an emulator, then SAVE it as ASCII)";
    }
    return "not an ASCII file (type " + typeName(type) + "): only ASCII files hold program text";
}

Volume readVolume(const std::filesystem::path& image)
{
    if (const auto decoded = readContainer(image)) {
        Volume volume = parseImage(decoded->blocks);
        volume.container = decoded->container;
        markAbsentBlocks(volume, *decoded);
        return volume;
    }
    InputFile file(image);
    file.lockShared();
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

void requireInsideImage(const Entry& entry, std::uint64_t imageSize)
{
    if ((std::uint64_t{entry.start} + entry.blocks) * kBlockSize > imageSize) {
        throw Failure("the image ends inside " + shownName(entry.name) + ": it was cut off");
    }
}

Bytes readFileBlocks(const std::filesystem::path& image, const Entry& entry)
{
    if (const auto decoded = readContainer(image)) {
        requireInsideImage(entry, decoded->blocks.size());
        const auto from =
            decoded->blocks.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{entry.start} * kBlockSize);
        return Bytes(from, from + static_cast<std::ptrdiff_t>(std::uint64_t{entry.blocks} * kBlockSize));
    }
    InputFile file(image);
    file.lockShared();
    requireInsideImage(entry, static_cast<std::uint64_t>(file.size()));
    Bytes bytes(static_cast<std::size_t>(checkedSize(std::uint64_t{entry.blocks} * kBlockSize, "the file")),
                kUninitialised);
    file.readAt(std::uint64_t{entry.start} * kBlockSize, bytes.data(), bytes.size());
    return bytes;
}

Bytes singleFileForm(const std::filesystem::path& image, const Volume& volume, const Entry& entry)
{
    const Bytes blocks = readFileBlocks(image, entry);
    Bytes file(kEntrySize);
    if (const auto decoded = readContainer(image)) {
        std::copy_n(decoded->blocks.begin() + static_cast<std::ptrdiff_t>(entryOffset(volume, entry.slot)), kEntrySize,
                    file.begin());
    } else {
        InputFile(image).readAt(entryOffset(volume, entry.slot), file.data(), kEntrySize);
    }
    file.insert(file.end(), blocks.begin(), blocks.end());
    return file;
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
        ByteView line = stream.subspan(p + 2, length);
        // A CR that ends a record ends the line anyway (some tools store one
        // in every record); one inside it cannot stand in a text line.
        if (!line.empty() && line.back() == 0x0D) {
            line = line.first(line.size() - 1);
        }
        if (std::find(line.begin(), line.end(), 0x0D) != line.end()) {
            throw Failure("line " + std::to_string(lines.size() + 1) + " (offset " + std::to_string(p) +
                          ") holds a CR inside it, which a text line cannot hold");
        }
        lines.push_back(line);
        p += 2 + length + (length & 1);
    }
}

namespace {

// Appends each line as a record: its length word, its bytes, a pad byte
// after an odd length. A line the format cannot carry is refused.
void appendRecords(Bytes& file, const std::vector<ByteView>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ByteView line = lines[i];
        if (line.size() > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(static_cast<std::int64_t>(i) + 1, line.size()));
        }
        if (const auto at = findUncarriableByte(line)) {
            throw Failure(uncarriableByteMessage({static_cast<std::int32_t>(i + 1), at->column}));
        }
        file.push_back(0x00);
        file.push_back(static_cast<std::uint8_t>(line.size()));
        file.insert(file.end(), line.begin(), line.end());
        if (line.size() % 2 == 1) {
            file.push_back(0x00);
        }
    }
}

} // namespace

Bytes asciiFileFromLines(const std::vector<ByteView>& lines)
{
    Bytes file;
    appendRecords(file, lines);
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
    appendRecords(file, lines);
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
    // BCD, yet no date (month 99): as unknown as bytes that are not BCD.
    if (value[1] < 1 || value[1] > 12 || value[2] < 1 || value[2] > 31 || value[3] > 23 || value[4] > 59 ||
        value[5] > 59) {
        return "unknown";
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

Bytes newVolumeImage(std::string_view label, std::uint32_t blocks, std::uint32_t directoryBlocks, const Date& date)
{
    refuseInvalidLabel(label);
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
    const bool disk = blocks == kDefaultBlocks || blocks == 2 * kDefaultBlocks;
    put32(l + 24, disk ? 77 : blocks);
    put32(l + 28, disk ? 2 : 1);
    put32(l + 32, disk ? blocks / 154 : 1);
    std::copy(date.begin(), date.end(), l + 36);
    put16(l + 2 * kBlockSize + 10, kTypeEnd);
    return image;
}

namespace {

// Where a new file goes: its first block, the directory entry it takes (a
// new end entry after it when it takes the end entry), and the entry of the
// version it replaces, purged once the new one is in place. overOld: it fits
// nowhere but in the old version's blocks.
struct Placement {
    std::uint64_t start = 0;
    std::size_t slot = 0;
    bool newEnd = false;
    std::optional<std::size_t> purge;
    bool overOld = false;
};

void refuseInvalidName(std::string_view name)
{
    if (!isValidName(name)) {
        throw Failure(
            "\"" + shownName(name) +
            "\" is not a valid LIF file name: 1 to 10 letters, digits and underscores, starting with a letter");
    }
}

// The first gap of free blocks large enough, among all files sorted by
// their first block; the old version of the file counts as live.
Placement plan(const Volume& volume, std::string_view name, std::uint16_t type, std::uint64_t need, bool replace)
{
    refuseInvalidName(name);
    if (const std::string damage = volume.damage(); !damage.empty()) {
        throw Failure(damage + "; nothing is written into a damaged volume");
    }
    const Entry* old = volume.find(name);
    if (old != nullptr && old->type != type) {
        throw Failure("the volume holds " + std::string(name) + " as a file of type " + typeName(old->type) + ", not " +
                      (type == kTypeAscii ? "an ASCII file" : "a " + typeName(type) + " file") +
                      "; it is not replaced");
    }
    if (old != nullptr && !replace) {
        throw Failure("the volume already holds " + std::string(name) + "; give --replace to replace it");
    }
    Placement placement;
    if (old != nullptr) {
        placement.purge = old->slot;
    }
    // A free entry: a purged one, else the end entry.
    const bool freeEntry = !volume.purgedSlots.empty() || volume.endSlot.has_value();
    placement.slot = !volume.purgedSlots.empty() ? volume.purgedSlots.front() : volume.endSlot.value_or(0);
    placement.newEnd = volume.purgedSlots.empty() && volume.endSlot && *volume.endSlot + 1 < volume.entryCount();

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
        placement.slot = old->slot;
        placement.newEnd = false;
        placement.purge.reset();
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
    put16(e.data() + 26, 0x8001);
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

EntryBytes newEntry(std::string_view name, std::uint16_t type, const Date& date)
{
    refuseInvalidName(name);
    EntryBytes e{};
    std::fill(e.begin(), e.begin() + 10, ' ');
    std::copy(name.begin(), name.end(), e.begin());
    put16(e.data() + 10, type);
    std::copy(date.begin(), date.end(), e.begin() + 20);
    return e;
}

std::pair<EntryBytes, ByteView> splitSingleFile(ByteView file)
{
    if (file.size() < kEntrySize) {
        throw Failure("is not a LIF file as LIF tools exchange them: shorter than a directory entry (give --bare "
                      "for the bare blocks)");
    }
    EntryBytes e{};
    std::copy_n(file.begin(), kEntrySize, e.begin());
    const std::uint16_t type = be16(e.data() + 10);
    const std::uint64_t blocks = be32(e.data() + 16);
    const ByteView content = file.subspan(kEntrySize);
    if (type == kTypePurged || type == kTypeEnd || blocks * kBlockSize != content.size()) {
        throw Failure(
            "is not a LIF file as LIF tools exchange them: its entry says " +
            (type == kTypePurged || type == kTypeEnd ? "type " + typeName(type) : std::to_string(blocks) + " blocks") +
            ", and " + std::to_string(content.size()) + " bytes follow it (give --bare for the bare blocks)");
    }
    return {e, content};
}

void putFile(Bytes& image, std::string_view name, ByteView content, const Date& date)
{
    putFile(image, newEntry(name, kTypeAscii, date), content, true);
}

void putFile(Bytes& image, const EntryBytes& entry, ByteView content, bool replace)
{
    const std::string name = nameOf(entry);
    const Volume volume = parseImage(image);
    const std::uint64_t need = content.size() / kBlockSize;
    const Placement p = plan(volume, name, be16(entry.data() + 10), need, replace);
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
    if (p.purge) {
        put16(&*entryAt(*p.purge) + 10, kTypePurged);
    }
}

namespace {

// The first bytes of a file, as many as there are of 16.
Bytes readFileStart(const std::filesystem::path& path)
{
    InputFile file(path);
    Bytes start(std::min<std::size_t>(16, static_cast<std::size_t>(file.size())));
    file.readAt(0, start.data(), start.size());
    return start;
}

} // namespace

VolumeUpdate::VolumeUpdate(const std::filesystem::path& image) : path_(image)
{
    open();
}

VolumeUpdate::~VolumeUpdate()
{
    ::close(fd_);
}

void VolumeUpdate::open()
{
    // The lock belongs to the open file: a writer that replaced the image
    // meanwhile leaves this one a file that no longer has the name.
    if (const auto container = containerOf(readFileStart(path_)); container != Container::None) {
        throw Failure(std::string("an ") + containerName(container) +
                      " image is read here, never written: make a plain image of it with --export-image first");
    }
    for (;;) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) {
            throw Failure(std::string("cannot write: ") + std::strerror(errno));
        }
        lockOpenFile(fd_, true);
        struct stat opened { };
        struct stat named { };
        if (::fstat(fd_, &opened) == 0 && ::stat(path_.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev) {
            break;
        }
        ::close(std::exchange(fd_, -1));
    }
    if (!S_ISREG(fileStatus().st_mode)) {
        throw Failure("is not a regular file");
    }
    readDirectory();
}

struct stat VolumeUpdate::fileStatus() const
{
    struct stat info { };
    if (::fstat(fd_, &info) != 0) {
        throw Failure(std::string("cannot read: ") + std::strerror(errno));
    }
    return info;
}

void VolumeUpdate::readDirectory()
{
    size_ = static_cast<std::uint64_t>(fileStatus().st_size);
    label_.assign(kBlockSize, 0x00);
    if (size_ < kBlockSize) {
        throw Failure(kNotAVolume);
    }
    readAll(0, label_.data(), kBlockSize);
    directory_.clear();
    if (hasVolumeMark(label_)) {
        const std::uint64_t start = be32(label_.data() + 8);
        const std::uint64_t blocks = be32(label_.data() + 16);
        if ((start + blocks) * kBlockSize <= size_) {
            directory_.resize(static_cast<std::size_t>(checkedSize(blocks * kBlockSize, "the directory")));
            readAll(start * kBlockSize, directory_.data(), directory_.size());
        }
    }
    volume_ = parseVolume(label_, directory_, size_);
    if (const std::string damage = volume_.damage(); !damage.empty()) {
        throw Failure(damage + "; nothing is written into a damaged volume");
    }
}

void VolumeUpdate::readAll(std::uint64_t offset, std::uint8_t* into, std::size_t count) const
{
    if (transferAll("cannot read", count, [&](std::size_t done) {
            return ::pread(fd_, into + done, count - done, static_cast<off_t>(offset + done));
        }) < count) {
        throw Failure("cannot read: the image ended");
    }
}

void VolumeUpdate::writeAll(std::uint64_t offset, ByteView bytes)
{
    if (transferAll("cannot write", bytes.size(), [&](std::size_t done) {
            return ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        }) < bytes.size()) {
        throw Failure(std::string("cannot write: ") + std::strerror(EIO));
    }
}

void VolumeUpdate::flush()
{
    if (::fdatasync(fd_) != 0) {
        throw Failure(std::string("cannot write: ") + std::strerror(errno));
    }
}

void VolumeUpdate::put(std::string_view name, ByteView content, const Date& date)
{
    insert(newEntry(name, kTypeAscii, date), content, true);
}

void VolumeUpdate::replaceWhole(const std::function<void(Bytes&)>& change)
{
    Bytes image(static_cast<std::size_t>(checkedSize(size_, "the image")), kUninitialised);
    readAll(0, image.data(), image.size());
    change(image);
    replaceFile(path_, image);
    ::close(std::exchange(fd_, -1));
    open();
}

void VolumeUpdate::insert(const EntryBytes& entry, ByteView content, bool replace)
{
    const std::uint64_t need = content.size() / kBlockSize;
    const Placement p = plan(volume_, nameOf(entry), be16(entry.data() + 10), need, replace);
    if (p.overOld) {
        // Only the old version's blocks can hold it: the whole image is
        // replaced, so that a failure leaves the old one as it was.
        replaceWhole([&](Bytes& image) { putFile(image, entry, content, replace); });
        return;
    }
    // The blocks first, into free space only, then the directory: the new
    // entry (after a new end entry, which is invisible until then), then the
    // old version purged. At any moment every earlier file is intact.
    writeAll(p.start * kBlockSize, content);
    flush();
    const std::uint64_t directoryAt = std::uint64_t{volume_.directoryStart} * kBlockSize;
    const auto putEntry = [&](std::size_t slot, const std::array<std::uint8_t, kEntrySize>& e) {
        writeAll(directoryAt + slot * kEntrySize, e);
        std::copy(e.begin(), e.end(), directory_.begin() + static_cast<std::ptrdiff_t>(slot * kEntrySize));
    };
    if (p.newEnd) {
        putEntry(p.slot + 1, endEntry());
    }
    putEntry(p.slot, placed(entry, p.start, need));
    flush();
    if (p.purge) {
        changeEntry(*p.purge, [](EntryBytes& e) { put16(e.data() + 10, kTypePurged); });
    }
    size_ = std::max(size_, (p.start + need) * kBlockSize);
    volume_ = parseVolume(label_, directory_, size_);
}

void VolumeUpdate::changeEntry(std::size_t slot, const std::function<void(EntryBytes&)>& change)
{
    EntryBytes e{};
    const auto at = directory_.begin() + static_cast<std::ptrdiff_t>(slot * kEntrySize);
    std::copy_n(at, kEntrySize, e.begin());
    change(e);
    // One entry never crosses a sector: it is written whole or not at all.
    writeAll(std::uint64_t{volume_.directoryStart} * kBlockSize + slot * kEntrySize, e);
    flush();
    std::copy(e.begin(), e.end(), at);
    volume_ = parseVolume(label_, directory_, size_);
}

const Entry& VolumeUpdate::fileNamed(std::string_view name) const
{
    const Entry* entry = volume_.findNamed(name);
    if (entry == nullptr) {
        throw Failure("no such file in the volume");
    }
    return *entry;
}

void VolumeUpdate::rename(std::string_view from, std::string_view to)
{
    const Entry& entry = fileNamed(from);
    refuseInvalidName(to);
    if (volume_.find(to) != nullptr) {
        throw Failure("the volume already holds " + std::string(to));
    }
    changeEntry(entry.slot, [&](EntryBytes& e) {
        std::fill_n(e.begin(), 10, ' ');
        std::copy(to.begin(), to.end(), e.begin());
    });
}

void VolumeUpdate::purge(std::string_view name)
{
    changeEntry(fileNamed(name).slot, [](EntryBytes& e) { put16(e.data() + 10, kTypePurged); });
}

void VolumeUpdate::setLabel(std::string_view label)
{
    refuseInvalidLabel(label);
    std::fill_n(label_.begin() + 2, 6, ' ');
    std::copy(label.begin(), label.end(), label_.begin() + 2);
    writeAll(2, ByteView(label_).subspan(2, 6));
    flush();
    volume_ = parseVolume(label_, directory_, size_);
}

void VolumeUpdate::pack()
{
    // Files move over each other's old blocks: the image is replaced whole,
    // so that a kill leaves it as it was or packed, never half.
    replaceWhole(packImage);
}

void packImage(Bytes& image)
{
    const Volume volume = parseImage(image);
    if (const std::string damage = volume.damage(); !damage.empty()) {
        throw Failure(damage + "; a damaged volume is not packed");
    }
    const std::uint64_t directoryAt = std::uint64_t{volume.directoryStart} * kBlockSize;
    std::vector<EntryBytes> entries;
    std::uint64_t to = volume.firstDataBlock();
    const std::uint64_t used = image.size() / kBlockSize;
    for (const Entry* file : inStartOrder(volume)) {
        EntryBytes e{};
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(directoryAt + file->slot * kEntrySize), kEntrySize,
                    e.begin());
        // Towards the start only: the blocks of files not yet moved stay
        // untouched. Blocks past the image's end are zeros.
        const std::uint64_t have = file->start < used ? std::min<std::uint64_t>(file->blocks, used - file->start) : 0;
        std::memmove(image.data() + to * kBlockSize, image.data() + std::uint64_t{file->start} * kBlockSize,
                     have * kBlockSize);
        std::memset(image.data() + (to + have) * kBlockSize, 0, (file->blocks - have) * kBlockSize);
        put32(e.data() + 12, static_cast<std::uint32_t>(to));
        entries.push_back(e);
        to += file->blocks;
    }
    if (to < used) {
        std::memset(image.data() + to * kBlockSize, 0, (used - to) * kBlockSize);
    }
    // The directory in the files' order, purged entries gone.
    std::uint8_t* directory = image.data() + directoryAt;
    std::memset(directory, 0, volume.entryCount() * kEntrySize);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::copy(entries[i].begin(), entries[i].end(), directory + i * kEntrySize);
    }
    if (entries.size() < volume.entryCount()) {
        put16(directory + entries.size() * kEntrySize + 10, kTypeEnd);
    }
}

} // namespace varnook::lif
