#include "structure_check.h"

#include "failure.h"
#include "file_io.h"
#include "hp_ascii_format.h"

#include <algorithm>
#include <cstdio>
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

class Findings {
public:
    bool full() const { return list_.size() >= kMostFindings; }
    void add(std::uint64_t offset, std::string text)
    {
        if (full()) {
            ++left_;
        } else {
            list_.push_back({offset, std::move(text)});
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

} // namespace

FileKind kindOf(ByteView start)
{
    if (lif::hasVolumeMark(start)) {
        return FileKind::Volume;
    }
    if (start.size() >= hp::kHeaderSize && differingHeaderBytes(start).size() <= kMostHeaderBytes) {
        return FileKind::ProgramFile;
    }
    return FileKind::Other;
}

FileKind kindOfFile(const std::filesystem::path& path)
{
    InputFile file(path);
    std::uint8_t start[hp::kHeaderSize] = {};
    const std::size_t count = std::min<std::size_t>(sizeof start, static_cast<std::size_t>(file.size()));
    file.readAt(0, start, count);
    return kindOf(ByteView(start, count));
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
        const std::size_t length = std::size_t{file[p]} << 8 | file[p + 1];
        if (file[p] != 0x00) {
            found.add(p, "length word " + hex2(file[p]) + hex2(file[p + 1]) + " is above 255");
        }
        if (p + 2 + length > n) {
            found.add(p, "the length word (" + std::to_string(length) + ") runs past the end of the file");
            break;
        }
        for (std::size_t k = p + 2; k < p + 2 + length && !found.full(); ++k) {
            if (file[k] == 0x00 || file[k] == 0xFF) {
                found.add(k, "byte " + hex2(file[k]) + " inside a record");
            }
        }
        p += 2 + length;
        if (length % 2 == 1) {
            if (p < n && file[p] != 0x00) {
                found.add(p, "pad byte " + hex2(file[p]) + " is not zero");
            }
            ++p;
        }
    }
    return found.take();
}

std::vector<lif::Finding> checkVolumeImage(ByteView image)
{
    std::vector<lif::Finding> findings;
    const lif::Volume volume = lif::parseImage(image, &findings);
    for (const auto& file : volume.files) {
        const std::uint64_t start = std::uint64_t{file.start} * lif::kBlockSize;
        const std::uint64_t end = start + std::uint64_t{file.blocks} * lif::kBlockSize;
        if (file.type != lif::kTypeAscii) {
            continue;
        }
        // Blocks past the end of the image read as zeros: empty records, never an end mark.
        const std::uint64_t stop = std::min<std::uint64_t>(end, image.size());
        try {
            lif::readRecords(start < stop ? image.subspan(start, stop - start) : ByteView());
        } catch (const Failure& e) {
            findings.push_back({start, "ASCII file " + file.name + ": " + e.what()});
        }
    }
    return findings;
}

std::vector<lif::Finding> checkFile(const std::filesystem::path& path)
{
    const Bytes bytes = readFileBytes(path);
    return lif::hasVolumeMark(bytes) ? checkVolumeImage(bytes) : checkProgramFile(bytes);
}

} // namespace varnook
