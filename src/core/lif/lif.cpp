#include "lif.h"
#include "volume_parts.h"

#include "core/base/byte_order.h"
#include "core/base/checked.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/program/hp_ascii_format.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>
#include <utility>

#include <cstring>

namespace varnook::lif {

using namespace detail;

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

std::map<std::string, std::string> Volume::sharedNames() const
{
    std::map<std::string, std::string> entries;
    for (const auto& file : files) {
        if (file.sharesName) {
            std::string& text = entries[file.name];
            text += text.empty() ? "@" : " and @"; // piece by piece: GCC 12 warns wrongly about "@" + string
            text += std::to_string(file.slot + 1);
        }
    }
    return entries;
}

std::string Volume::entriesNamed(std::string_view name) const
{
    const auto shared = sharedNames();
    const auto found = shared.find(std::string(name));
    return found == shared.end() ? std::string() : found->second;
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

namespace {

// The label's fields and the capacity its geometry gives (else the image's
// size); an impossible geometry is the volume's defect.
void readLabel(Volume& volume, ByteView label, std::uint64_t imageSize)
{
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
}

// The live entries up to the end entry, and the purged ones.
void readEntries(Volume& volume, ByteView directory)
{
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
}

// Names two entries share: each of them is named only by its entry.
void markSharedNames(Volume& volume)
{
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
}

// Marks the entries that lie outside the volume, are cut off by the image's
// end or share blocks with another file, recording each when findings are
// wanted; the other files stay readable.
void markDamagedEntries(Volume& volume, std::uint64_t imageSize, std::vector<Finding>* findings)
{
    const auto damaged = [&](Entry& entry, Damage kind, const std::string& detail = {}) {
        if (findings != nullptr) {
            findings->push_back({entryOffset(volume, entry.slot), damageText(entry, kind, detail)});
        }
        markDamaged(entry, kind, detail);
    };
    std::vector<Entry*> byStart;
    for (auto& entry : volume.files) {
        const std::uint64_t end = std::uint64_t{entry.start} + entry.blocks;
        if (entry.start < volume.firstDataBlock() || end > volume.blocks) {
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
}

} // namespace

Volume parseVolume(ByteView label, ByteView directory, std::uint64_t imageSize, std::vector<Finding>* findings)
{
    const Problems problem{findings};
    Volume volume;
    if (label.size() < kBlockSize || !hasVolumeMark(label)) {
        problem(0, kNotAVolume);
        return volume;
    }
    readLabel(volume, label, imageSize);
    const std::uint64_t directoryEnd = volume.firstDataBlock();
    if (volume.directoryStart == 0 || volume.directoryBlocks == 0 || directoryEnd * kBlockSize > imageSize ||
        directoryEnd > volume.blocks || directory.size() < volume.entryCount() * kEntrySize) {
        problem(8, "the directory (block " + std::to_string(volume.directoryStart) + ", " +
                       std::to_string(volume.directoryBlocks) + " blocks) lies outside the image or the volume");
        return volume;
    }
    readEntries(volume, directory);
    markSharedNames(volume);
    markDamagedEntries(volume, imageSize, findings);
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

namespace detail {

std::uint64_t entryOffset(const Volume& volume, std::size_t slot)
{
    return std::uint64_t{volume.directoryStart} * kBlockSize + slot * kEntrySize;
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

} // namespace detail

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
    // SOURCE_DATE_EPOCH, where set, stands for the clock (in UTC), as in
    // reproducible builds: the same session gives the same image anywhere.
    const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
    char* end = nullptr;
    const long long epoch = fixed != nullptr ? std::strtoll(fixed, &end, 10) : -1;
    const bool reproducible = fixed != nullptr && *fixed != '\0' && *end == '\0' && epoch >= 0;
    const std::time_t now = reproducible ? static_cast<std::time_t>(epoch) : std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    reproducible ? ::gmtime_s(&local, &now) : ::localtime_s(&local, &now);
#else
    reproducible ? ::gmtime_r(&now, &local) : ::localtime_r(&now, &local);
#endif
    return {bcd(local.tm_year % 100), bcd(local.tm_mon + 1), bcd(local.tm_mday),
            bcd(local.tm_hour),       bcd(local.tm_min),     bcd(std::min(local.tm_sec, 59))};
}

} // namespace varnook::lif
