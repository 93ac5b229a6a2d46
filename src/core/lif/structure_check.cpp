#include "structure_check.h"

#include "core/base/byte_order.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii_format.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <optional>
#include <string>

namespace varnook {

FileKind kindOf(ByteView bytes)
{
    if (lif::hasVolumeMark(bytes) || lif::containerOf(bytes) != lif::Container::None) {
        return FileKind::Volume;
    }
    if (hasProgramHeader(bytes)) {
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

namespace {

// The same for an ASCII file of a volume.
void checkAsciiFile(std::vector<lif::Finding>& findings, ByteView image, const lif::Entry& file)
{
    const std::uint64_t start = std::uint64_t{file.start} * lif::kBlockSize;
    const std::uint64_t end =
        std::min<std::uint64_t>(start + std::uint64_t{file.blocks} * lif::kBlockSize, image.size());
    const ByteView stream = start < end ? image.subspan(start, end - start) : ByteView();
    const auto records = checkLifAsciiRecords(stream, start, "ASCII file " + lif::shownName(file.name) + ": ");
    findings.insert(findings.end(), records.begin(), records.end());
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
    // Gathered in one pass: a directory of thousands of entries is checked
    // in linear time.
    const auto shared = volume.sharedNames();
    std::set<std::string> reported;
    for (const auto& file : volume.files) {
        const std::uint64_t entryAt =
            std::uint64_t{volume.directoryStart} * lif::kBlockSize + file.slot * lif::kEntrySize;
        if (file.sharesName && !reported.insert(file.name).second) { // each entry after the first
            findings.push_back({entryAt, "file " + lif::shownName(file.name) + " stands twice in the directory (" +
                                             shared.at(file.name) + ")"});
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
            return add(checkLifAsciiRecords(bytes));
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
