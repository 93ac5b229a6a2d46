#include "lif.h"

#include "core/base/byte_order.h"
#include "core/base/checked.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/program/hp_ascii_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnook::lif {
namespace {

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

// The text of an entry's damage, made here only; detail: the other file of
// an overlap, the missing blocks and the container of absent ones.
std::string damageText(const Entry& entry, Damage kind, const std::string& detail)
{
    const std::string file = "file " + shownName(entry.name);
    switch (kind) {
    case Damage::OutsideVolume:
        return file + blockSpan(entry) + " lies outside the volume's data blocks";
    case Damage::CutOff:
        return file + ": the image ends inside it (cut off)";
    case Damage::Overlap:
        return file + blockSpan(entry) + " overlaps file " + detail;
    case Damage::AbsentBlocks:
        return file + ": block " + detail + " capture";
    case Damage::None:
        break;
    }
    return {};
}

// Marks the entry damaged (its first damage is the one it keeps).
void markDamaged(Entry& entry, Damage kind, const std::string& detail = {})
{
    if (entry.damageKind == Damage::None) {
        entry.damageKind = kind;
        entry.damage = damageText(entry, kind, detail);
    }
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
    if (!defect.empty()) {
        return defect;
    }
    for (const auto& file : files) {
        if (file.sharesName) {
            return "file " + shownName(file.name) + " stands twice in the directory (" + entriesNamed(file.name) +
                   "); rename or purge one of them by its entry";
        }
    }
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

std::string Volume::entriesNamed(std::string_view name) const
{
    std::string text;
    for (const auto& file : files) {
        if (file.name == name) {
            text += (text.empty() ? "" : " and ") + ("@" + std::to_string(file.slot + 1));
        }
    }
    return text;
}

const Entry& Volume::named(std::string_view name) const
{
    // @N: the file of the Nth entry, for names two entries share.
    if (name.size() > 1 && name[0] == '@' && name.find_first_not_of("0123456789", 1) == std::string_view::npos) {
        const std::size_t slot = std::strtoull(std::string(name.substr(1)).c_str(), nullptr, 10);
        const auto at = std::find_if(files.begin(), files.end(), [&](const Entry& e) { return e.slot + 1 == slot; });
        if (at == files.end()) {
            throw Failure("entry " + std::string(name) + " of the volume holds no file");
        }
        return *at;
    }
    const Entry* entry = findNamed(name);
    if (entry == nullptr) {
        throw Failure("no such file in the volume");
    }
    if (entry->sharesName) {
        throw Failure("two entries of the volume are named " + std::string(name) + " (" + entriesNamed(entry->name) +
                      "); name the one you mean by its entry");
    }
    return *entry;
}

const Entry* Volume::findNamed(std::string_view name) const
{
    // Only the shown form: the escape is one-to-one, the raw name is not
    // (a file named "A%2FB" would shadow the one shown so).
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
    if (wraps || capacity > kMostBlocks) {
        volume.defect = "impossible geometry: tracks x surfaces x blocks per track is beyond the 2^32 blocks a "
                        "directory entry can address (set it right with another LIF tool, or copy the files to a new "
                        "volume)";
    }
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
        Entry entry;
        entry.name = unpadded(e, 10);
        entry.type = type;
        entry.start = be32(e + 12);
        entry.blocks = be32(e + 16);
        entry.slot = slot;
        std::copy(e + 20, e + 26, entry.date.begin());
        volume.files.push_back(std::move(entry));
    }
    // A damaged entry is marked, and recorded when findings are wanted; the
    // other files stay readable.
    const auto damaged = [&](Entry& entry, Damage kind, const std::string& detail = {}) {
        if (findings != nullptr) {
            findings->push_back({entryOffset(volume, entry.slot), damageText(entry, kind, detail)});
        }
        markDamaged(entry, kind, detail);
    };
    // Names two entries share: each of them is named only by its entry.
    std::vector<Entry*> byName;
    for (auto& entry : volume.files) {
        byName.push_back(&entry);
    }
    std::stable_sort(byName.begin(), byName.end(), [](const Entry* a, const Entry* b) { return a->name < b->name; });
    for (std::size_t i = 1; i < byName.size(); ++i) {
        if (byName[i]->name == byName[i - 1]->name) {
            byName[i]->sharesName = byName[i - 1]->sharesName = true;
        }
    }
    std::vector<Entry*> byStart;
    for (auto& entry : volume.files) {
        const std::uint64_t end = std::uint64_t{entry.start} + entry.blocks;
        if (entry.start < directoryEnd || end > volume.blocks) {
            damaged(entry, Damage::OutsideVolume);
        } else if (end * kBlockSize > imageSize) {
            damaged(entry, Damage::CutOff);
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
            damaged(*file, Damage::Overlap, shownName(reaching->name));
            markDamaged(*reaching, Damage::Overlap, shownName(file->name));
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

std::optional<std::string> volumeSummary(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) || !isVolumeFile(path)) {
        return std::nullopt;
    }
    std::string summary = "a disk image";
    try {
        const Volume volume = readVolume(path);
        if (volume.container != Container::None) {
            summary = std::string("a ") + containerName(volume.container) + " capture of a disk";
        }
        const auto programs = std::count_if(volume.files.begin(), volume.files.end(),
                                            [](const Entry& e) { return e.type == kTypeAscii || e.type == kTypeProg; });
        const auto others = static_cast<std::ptrdiff_t>(volume.files.size()) - programs;
        summary += " holding " + std::to_string(programs) + (programs == 1 ? " program" : " programs");
        if (others > 0) {
            summary += " and " + std::to_string(others) + (others == 1 ? " other file" : " other files");
        }
    } catch (const Failure&) {
        // Damaged: still a disk image.
    }
    return summary;
}

void markAbsentBlocks(Volume& volume, const DecodedImage& image)
{
    for (auto& file : volume.files) {
        const std::string missing = describeAbsent(image, file.start, std::uint64_t{file.start} + file.blocks);
        if (!missing.empty()) {
            markDamaged(file, Damage::AbsentBlocks, missing + " missing from the " + containerName(image.container));
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
        if (c <= 0x20 || c >= 0x7F || c == '/' || c == '\\' || c == '%' || dotName ||
            (i == 0 && (c == '-' || c == '@'))) {
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
// HP BASIC's and Pascal's types, then other HP machines' as their LIF
// tools name them (E010 to E013 all DTA8x; the name reads as E010).
constexpr TypeName kTypeNames[] = {
    {kTypeAscii, "ASCII"}, {kTypeProg, "PROG"}, {0xE961, "BDAT"},    {0xE971, "BIN"},     {0xE942, "SYSTM"},
    {0xEA0A, "DATA"},      {0xEA32, "CODE"},    {0xEA3E, "TEXT"},    {0xE010, "DTA8x"},   {0xE011, "DTA8x"},
    {0xE012, "DTA8x"},     {0xE013, "DTA8x"},   {0xE020, "PROG8x"},  {0xE0D0, "SDATA"},   {0xE0F0, "DATA71"},
    {0xE204, "BIN71"},     {0xE208, "LEX71"},   {0xE20C, "KEY71"},   {0xE214, "BASIC71"}, {0xE218, "FORTH71"},
    {0xE040, "WALL41"},    {0xE050, "KEY41"},   {0xE060, "STAT41"},  {0xE070, "ROM41"},   {0xE080, "PROG41"},
    {0xE052, "TEXT75"},    {0xE053, "APPT75"},  {0xE088, "BASIC75"}, {0xE089, "LEX75"},   {0xE08B, "ROM75"}};

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

namespace {

// What the image file is: plain, or a capture.
Container containerOfImage(const ImageFile& file)
{
    std::uint8_t start[4] = {};
    file.read(0, start, sizeof start);
    return containerOf(ByteView(start, static_cast<std::size_t>(std::min<std::uint64_t>(4, file.size()))));
}

// The label block and the directory blocks of a plain image (none when they
// do not lie inside it; parseVolume says why).
std::pair<Bytes, Bytes> labelAndDirectory(const ImageFile& file)
{
    if (file.size() < kBlockSize) {
        throw Failure(kNotAVolume);
    }
    Bytes label = file.read(0, kBlockSize);
    Bytes directory;
    if (hasVolumeMark(label)) {
        const std::uint64_t first = be32(label.data() + 8);
        const std::uint64_t blocks = be32(label.data() + 16);
        if ((first + blocks) * kBlockSize <= file.size()) {
            directory = file.read(first * kBlockSize, static_cast<std::size_t>(blocks * kBlockSize));
        }
    }
    return {std::move(label), std::move(directory)};
}

} // namespace

VolumeReader::VolumeReader(const std::filesystem::path& image) : file_(image, false)
{
    if (const Container container = containerOfImage(file_); container != Container::None) {
        const Bytes bytes = file_.readAll();
        capture_ = container == Container::ImageDisk ? decodeImageDisk(bytes) : decodeTeleDisk(bytes);
        volume_ = parseImage(capture_->blocks);
        volume_.container = container;
        markAbsentBlocks(volume_, *capture_);
        return;
    }
    const auto [label, directory] = labelAndDirectory(file_);
    volume_ = parseVolume(label, directory, file_.size());
}

Bytes VolumeReader::fileBlocks(const Entry& entry) const
{
    const std::uint64_t from = std::uint64_t{entry.start} * kBlockSize;
    const std::size_t count =
        static_cast<std::size_t>(checkedSize(std::uint64_t{entry.blocks} * kBlockSize, "the file"));
    if (capture_) {
        requireInsideImage(entry, capture_->blocks.size());
        const auto at = capture_->blocks.begin() + static_cast<std::ptrdiff_t>(from);
        return Bytes(at, at + static_cast<std::ptrdiff_t>(count));
    }
    requireInsideImage(entry, file_.size());
    return file_.read(from, count);
}

EntryBytes VolumeReader::entryBytes(const Entry& entry) const
{
    const std::uint64_t at = entryOffset(volume_, entry.slot);
    EntryBytes e{};
    if (capture_) {
        std::copy_n(capture_->blocks.begin() + static_cast<std::ptrdiff_t>(at), kEntrySize, e.begin());
    } else {
        file_.read(at, e.data(), kEntrySize);
    }
    return e;
}

Bytes VolumeReader::singleFileForm(const Entry& entry) const
{
    const EntryBytes e = entryBytes(entry);
    Bytes file(e.begin(), e.end());
    const Bytes blocks = fileBlocks(entry);
    file.insert(file.end(), blocks.begin(), blocks.end());
    return file;
}

Bytes VolumeReader::image() const
{
    return capture_ ? capture_->blocks : file_.readAll();
}

Volume readVolume(const std::filesystem::path& image)
{
    return VolumeReader(image).volume();
}

void requireInsideImage(const Entry& entry, std::uint64_t imageSize)
{
    if ((std::uint64_t{entry.start} + entry.blocks) * kBlockSize > imageSize) {
        throw Failure("the image ends inside " + shownName(entry.name) + ": it was cut off");
    }
}

std::vector<ByteView> readRecords(ByteView stream, bool programFile)
{
    std::vector<ByteView> lines;
    readRecordLines(stream, 0, programFile, lines);
    return lines;
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
    const auto other = [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '_' || c == '-'; };
    return !name.empty() && name.size() <= 10 && letter(name[0]) && std::all_of(name.begin(), name.end(), other);
}

bool isVolumeName(std::string_view name)
{
    const auto printable = [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F; };
    return !name.empty() && name.size() <= 10 && name[0] != ' ' && std::all_of(name.begin(), name.end(), printable);
}

namespace {

// The date's six values, or nothing for bytes that are not BCD or no date of
// a calendar (month 99).
std::optional<std::array<int, 6>> dateValues(const Date& date)
{
    std::array<int, 6> value{};
    for (std::size_t i = 0; i < 6; ++i) {
        if ((date[i] >> 4) > 9 || (date[i] & 0x0F) > 9) {
            return std::nullopt;
        }
        value[i] = (date[i] >> 4) * 10 + (date[i] & 0x0F);
    }
    if (value[1] < 1 || value[1] > 12 || value[2] < 1 || value[2] > 31 || value[3] > 23 || value[4] > 59 ||
        value[5] > 59) {
        return std::nullopt;
    }
    return value;
}

} // namespace

DateKind dateKind(const Date& date)
{
    // All zeros, and the all-99 or all-FF some tools write, say "no date".
    for (const std::uint8_t none : {std::uint8_t{0x00}, std::uint8_t{0x99}, std::uint8_t{0xFF}}) {
        if (std::all_of(date.begin(), date.end(), [&](std::uint8_t b) { return b == none; })) {
            return DateKind::None;
        }
    }
    return dateValues(date) ? DateKind::Known : DateKind::Unknown;
}

std::string formatDate(const Date& date)
{
    if (dateKind(date) != DateKind::Known) {
        return dateKind(date) == DateKind::None ? "-" : "unknown";
    }
    const auto value = *dateValues(date);
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
    if (std::uint64_t{blocks} * kBlockSize > static_cast<std::uint64_t>(kInt32Max)) {
        throw Failure("a volume of " + std::to_string(blocks) +
                      " blocks is 2 GiB or larger; the limit is 8388607 blocks (2147483647 bytes)");
    }
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
// new end entry after it when it takes the end entry; the old version's when
// it replaces one). overOld: it fits nowhere but in the old version's blocks.
struct Placement {
    std::uint64_t start = 0;
    std::size_t slot = 0;
    bool newEnd = false;
    bool overOld = false;
};

void refuseInvalidName(std::string_view name)
{
    if (!isValidName(name)) {
        throw Failure("\"" + shownName(name) + "\" is not a valid LIF file name: " + kNameRule);
    }
}

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
        throw Failure("the volume already holds " + std::string(name) + "; give --replace to replace it");
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

EntryBytes newEntry(std::string_view name, std::uint16_t type, const Date& date)
{
    refuseInvalidName(name);
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
                      ", and " + std::to_string(content.size()) + " bytes follow it (give --bare for the bare blocks)");
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
        throw Failure(std::string(kNotExchanged) +
                      ": shorter than a directory entry (give --bare for the bare blocks)");
    }
    std::copy_n(file.begin(), kEntrySize, e.begin());
    return {e, entryBlocks(e, file.subspan(kEntrySize), "entry")};
}

Bytes hfslifForm(const EntryBytes& entry, ByteView blocks)
{
    Bytes file(2 * kBlockSize, 0x00);
    std::uint8_t* l = file.data();
    put16(l, 0x8000);
    std::copy(std::begin(kHfslifLabel), std::end(kHfslifLabel), l + 2);
    put32(l + 8, 1);
    put16(l + 12, 0x1000);
    put32(l + 16, 1);
    put16(l + 20, 1);
    // The size as tracks of one block on one surface; the file's date.
    const std::uint32_t total = static_cast<std::uint32_t>(2 + blocks.size() / kBlockSize);
    put32(l + 24, total);
    put32(l + 28, 1);
    put32(l + 32, 1);
    std::copy(entry.begin() + 20, entry.begin() + 26, l + 36);
    std::copy(entry.begin(), entry.end(), file.begin() + kBlockSize);
    put32(file.data() + kBlockSize + 12, 2);
    put16(file.data() + kBlockSize + kEntrySize + 10, kTypeEnd);
    file.insert(file.end(), blocks.begin(), blocks.end());
    return file;
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
                      " image is read here, never written: make a plain image of it with --export-image first");
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
