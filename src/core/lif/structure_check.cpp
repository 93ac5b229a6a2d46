#include "structure_check.h"

#include "core/base/byte_order.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii_format.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

namespace varnook {
namespace {

// A damaged file can depart from the format at every byte; past this many
// findings the rest tell the user nothing new.
constexpr std::size_t kMostFindings = 100;
constexpr std::size_t kMostHeaderBytes = 8;

std::string hex2(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// The header bytes that differ from the format's.
std::vector<std::size_t> differingHeaderBytes(ByteView file)
{
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < std::min(file.size(), hp::kHeaderSize); ++i) {
        if (file[i] != (i < hp::kHeaderStart.size() ? hp::kHeaderStart[i] : 0x00)) {
            differing.push_back(i);
        }
    }
    return differing;
}

bool lineBreakByte(std::uint8_t byte)
{
    return byte == 0x0D || byte == 0x0A;
}

// What a 00, FF, CR or LF in a record is; a CR, LF or CR LF ending it is
// dropped on reading.
std::string crOrByte(std::uint8_t byte, bool ending)
{
    if (lineBreakByte(byte)) {
        const char* name = byte == 0x0D ? "CR" : "LF";
        return ending ? std::string(name) + " at the end of a record (dropped on reading)"
                      : std::string(name) + " inside a record (a line cannot hold it)";
    }
    return "byte " + hex2(byte) + " inside a record";
}

// Whether the byte at k of the record [from, end) ends it: the last byte, or
// a CR right before a final LF.
bool endsRecord(ByteView bytes, std::size_t k, std::size_t end)
{
    return k + 1 == end || (k + 2 == end && bytes[k] == 0x0D && bytes[k + 1] == 0x0A);
}

class Findings {
public:
    bool full() const { return list_.size() >= kMostFindings; }
    void add(std::uint64_t offset, std::string text, bool note = false)
    {
        if (full()) {
            ++left_;
        } else {
            list_.push_back({offset, std::move(text), note});
        }
    }
    std::vector<lif::Finding> take()
    {
        if (left_ > 0) {
            list_.push_back({list_.back().offset, std::to_string(left_) + " more findings left out"});
        }
        return std::move(list_);
    }

private:
    std::vector<lif::Finding> list_;
    std::size_t left_ = 0;
};

// Whether the length words chain from offset 0 to FFFF inside the bytes:
// true, false, or nothing when they run on past the end still chaining.
std::optional<bool> chainsToLifEnd(ByteView bytes)
{
    for (std::size_t p = 0; p + 2 <= bytes.size();) {
        const std::size_t length = be16(bytes.data() + p);
        if (length == 0xFFFF) {
            return true;
        }
        if (length > hp::kMaxLineLength && length != 0xFFFE) {
            return false;
        }
        p += length == 0xFFFE ? 2 : 2 + length + (length & 1);
    }
    return std::nullopt;
}

} // namespace

FileKind kindOf(ByteView bytes)
{
    if (lif::hasVolumeMark(bytes) || lif::containerOf(bytes) != lif::Container::None) {
        return FileKind::Volume;
    }
    if (bytes.size() >= hp::kHeaderSize && differingHeaderBytes(bytes).size() <= kMostHeaderBytes) {
        return FileKind::ProgramFile;
    }
    return chainsToLifEnd(bytes).value_or(false) ? FileKind::LifAscii : FileKind::Other;
}

FileKind kindOfFile(const std::filesystem::path& path)
{
    InputFile file(path);
    std::uint8_t start[hp::kHeaderSize] = {};
    const std::size_t count = std::min<std::size_t>(sizeof start, static_cast<std::size_t>(file.size()));
    file.readAt(0, start, count);
    const ByteView head(start, count);
    // Records that chain on past the first bytes: the whole file decides.
    if (kindOf(head) == FileKind::Other && !chainsToLifEnd(head).has_value() &&
        static_cast<std::int64_t>(count) < file.size()) {
        return kindOf(readFileBytes(path));
    }
    return kindOf(head);
}

std::vector<lif::Finding> checkProgramFile(ByteView file)
{
    Findings found;
    const std::size_t n = file.size();
    const std::vector<std::size_t> differing = differingHeaderBytes(file);
    // Beyond a few, the file is something else, and its records would be noise.
    if (differing.size() > kMostHeaderBytes) {
        found.add(0, "not an HP BASIC ASCII program file: " + std::to_string(differing.size()) + " of the first " +
                         std::to_string(std::min(n, hp::kHeaderSize)) + " bytes differ from the header");
        return found.take();
    }
    for (const std::size_t i : differing) {
        const std::uint8_t expected = i < hp::kHeaderStart.size() ? hp::kHeaderStart[i] : 0x00;
        found.add(i, "header byte " + hex2(file[i]) + ", expected " + hex2(expected));
    }
    if (n < hp::kHeaderSize) {
        found.add(n, "the file ends inside the 256-byte header");
        return found.take();
    }
    for (std::size_t p = hp::kHeaderSize;;) {
        if (p + 3 <= n && file[p] == 0x00 && file[p + 1] == 0xFF && file[p + 2] == 0xFF) {
            if (p + 3 < n) {
                found.add(p + 3, std::to_string(n - p - 3) + " bytes after the end mark");
            }
            break;
        }
        if (p + 2 > n) {
            found.add(p, "no end mark (00 FF FF)");
            break;
        }
        const std::size_t length = be16(file.data() + p);
        if (length == 0xFFFE) {
            found.add(p, "length word FFFE: an empty line, as LIF ASCII files have them", true);
            p += 2;
            continue;
        }
        if (length > hp::kMaxLineLength) {
            found.add(p, "length word " + hex2(file[p]) + hex2(file[p + 1]) + " is above 255");
        }
        if (p + 2 + length > n) {
            found.add(p, "the length word (" + std::to_string(length) + ") runs past the end of the file");
            break;
        }
        for (std::size_t k = p + 2; k < p + 2 + length && !found.full(); ++k) {
            if (file[k] == 0x00 || file[k] == 0xFF || lineBreakByte(file[k])) {
                const bool ending = lineBreakByte(file[k]) && endsRecord(file, k, p + 2 + length);
                found.add(k, crOrByte(file[k], ending));
            }
        }
        p += 2 + length;
        if (length % 2 == 1) {
            if (p < n && file[p] != 0x00) {
                found.add(p, "pad byte " + hex2(file[p]) + " is not zero (skipped on reading)", true);
            }
            ++p;
        }
    }
    return found.take();
}

namespace {

// The records of an ASCII file (from offset start of the bytes checked):
// what a program line cannot be. name: how the findings begin.
void checkAsciiRecords(std::vector<lif::Finding>& findings, ByteView stream, std::uint64_t start,
                       const std::string& name)
{
    std::size_t p = 0;
    for (; p + 2 <= stream.size() && findings.size() < kMostFindings;) {
        const std::size_t length = be16(stream.data() + p);
        if (length == 0xFFFF) {
            return;
        }
        if (length == 0xFFFE) {
            p += 2;
            continue;
        }
        if (p + 2 + length > stream.size()) {
            break;
        }
        if (length > hp::kMaxLineLength) {
            findings.push_back({start + p, name + "a record of " + std::to_string(length) +
                                               " bytes, longer than the 255 of an HP BASIC line"});
        }
        for (std::size_t k = p + 2; k < p + 2 + length; ++k) {
            if (stream[k] == 0x00 || stream[k] == 0xFF || lineBreakByte(stream[k])) {
                const bool ending = lineBreakByte(stream[k]) && endsRecord(stream, k, p + 2 + length);
                findings.push_back({start + k, name + crOrByte(stream[k], ending)});
            }
        }
        p += 2 + length + (length & 1);
    }
    findings.push_back({start + p, name + "the records run past its blocks or have no end mark (FFFF)"});
}

// The same for an ASCII file of a volume.
void checkAsciiFile(std::vector<lif::Finding>& findings, ByteView image, const lif::Entry& file)
{
    const std::uint64_t start = std::uint64_t{file.start} * lif::kBlockSize;
    const std::uint64_t end =
        std::min<std::uint64_t>(start + std::uint64_t{file.blocks} * lif::kBlockSize, image.size());
    const ByteView stream = start < end ? image.subspan(start, end - start) : ByteView();
    checkAsciiRecords(findings, stream, start, "ASCII file " + lif::shownName(file.name) + ": ");
}

} // namespace

std::vector<lif::Finding> checkVolumeImage(ByteView image)
{
    std::vector<lif::Finding> findings;
    const lif::Volume volume = lif::parseImage(image, &findings);
    const std::uint64_t imageBlocks = image.size() / lif::kBlockSize;
    if (imageBlocks < volume.blocks && volume.blocks < lif::kMostBlocks) {
        findings.push_back({image.size(),
                            "the image ends at block " + std::to_string(imageBlocks) + ": blocks " +
                                std::to_string(imageBlocks) + " to " + std::to_string(volume.blocks - 1) +
                                " of the volume are not in it (free blocks read as zeros)",
                            true});
    }
    if (volume.blocks >= lif::kMostBlocks && image.size() >= lif::kBlockSize) {
        findings.push_back({24, "impossible geometry: tracks x surfaces x blocks per track is beyond the 2^32 "
                                "blocks a directory entry can address"});
    }
    // The entries of each name two entries share, gathered in one pass: a
    // directory of thousands of entries is checked in linear time.
    std::map<std::string, std::pair<std::string, std::size_t>> twins; // name: "@1 and @2", entries seen
    for (const auto& file : volume.files) {
        if (file.sharesName) {
            std::string& entries = twins[file.name].first;
            entries += (entries.empty() ? "@" : " and @") + std::to_string(file.slot + 1);
        }
    }
    for (std::size_t i = 0; i < volume.files.size(); ++i) {
        const lif::Entry& file = volume.files[i];
        const std::uint64_t entryAt =
            std::uint64_t{volume.directoryStart} * lif::kBlockSize + file.slot * lif::kEntrySize;
        if (file.sharesName && twins[file.name].second++ > 0) { // each entry after the first
            findings.push_back({entryAt, "file " + lif::shownName(file.name) + " stands twice in the directory (" +
                                             twins[file.name].first + ")"});
        }
        if (lif::dateKind(file.date) == lif::DateKind::Unknown) {
            findings.push_back({entryAt + 20, "file " + lif::shownName(file.name) + ": its date is not a BCD date"});
        }
        if (file.type == lif::kTypeAscii) {
            checkAsciiFile(findings, image, file);
        }
    }
    return findings;
}

std::vector<lif::Finding> checkFile(const std::filesystem::path& path)
{
    // One open under the shared lock: a writer's change is never seen half done.
    const lif::ImageFile file(path, false);
    const Bytes bytes = file.readAll();
    std::vector<lif::Finding> findings;
    if (!file.recovery().empty()) {
        findings.push_back({0, file.recovery(), true});
    }
    const auto add = [&](std::vector<lif::Finding> more) {
        findings.insert(findings.end(), more.begin(), more.end());
        return findings;
    };
    const lif::Container container = lif::containerOf(bytes);
    if (container == lif::Container::None) {
        if (kindOf(bytes) == FileKind::LifAscii) {
            std::vector<lif::Finding> records;
            checkAsciiRecords(records, bytes, 0, "");
            return add(records);
        }
        return add(lif::hasVolumeMark(bytes) ? checkVolumeImage(bytes) : checkProgramFile(bytes));
    }
    const lif::DecodedImage decoded =
        container == lif::Container::ImageDisk ? lif::decodeImageDisk(bytes) : lif::decodeTeleDisk(bytes);
    add(checkVolumeImage(decoded.blocks));
    lif::Volume volume = lif::parseImage(decoded.blocks);
    lif::markAbsentBlocks(volume, decoded);
    for (const auto& entry : volume.files) {
        if (entry.damageKind == lif::Damage::AbsentBlocks) {
            findings.push_back({std::uint64_t{entry.start} * lif::kBlockSize, entry.damage});
        }
    }
    for (const auto& note : decoded.notes) {
        findings.push_back({0, note, true});
    }
    if (!decoded.absent.empty()) {
        findings.push_back({0,
                            std::string("blocks missing from the ") + lif::containerName(decoded.container) +
                                " capture: " + lif::describeBlocks(decoded.absent),
                            true});
    }
    return findings;
}

} // namespace varnook
