#pragma once

// Disk images as archives keep them: besides the plain image (the volume's
// blocks one after another), sector captures of floppy imagers, which are
// read by their content, never by the file name. Containers are read-only.

#include "core/base/bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnook::lif {

enum class Container { None, ImageDisk, TeleDisk };

// Which container the file's first bytes are; None for anything else.
Container containerOf(ByteView start);
const char* containerName(Container container);

// 16 MiB, more than any floppy disk holds (the largest under 3 MB): a
// capture that claims more is refused.
constexpr std::uint64_t kMostCapturedBlocks = 65536;

// A container's volume: its blocks of 256 bytes in order, placed by the
// cylinder, head and sector number recorded with each sector (a sector of
// 512 or 1024 bytes holds two or four). The disk's format is its first
// track's; the volume reaches as far as its label says (without one, over
// the cylinders from 0 in that format). A block whose sector is missing or
// was read with an error is absent (zeros here).
struct DecodedImage {
    Container container = Container::None;
    Bytes blocks;
    std::vector<std::uint32_t> absent; // in increasing order
    // What the capture holds beside the volume, never read: tracks outside
    // it, sectors of another format, sectors with data but no ID.
    std::vector<std::string> notes;
    bool isAbsent(std::uint64_t block) const;
};

// Decodes an ImageDisk (.IMD) capture. Throws Failure for one it cannot read.
DecodedImage decodeImageDisk(ByteView file);

// TeleDisk's CRC of its headers and sectors: polynomial A097, preset 0.
std::uint16_t teleDiskCrc(ByteView bytes);

// Decodes a TeleDisk (.TD0) capture, with or without advanced compression
// (LZW before version 2.0, LZSS with adaptive Huffman codes from it on).
// Throws Failure for one it cannot read.
DecodedImage decodeTeleDisk(ByteView file);

// The blocks "first to last" (or "first") of a list of absent blocks, runs
// joined: "12 to 15, 40".
std::string describeBlocks(const std::vector<std::uint32_t>& blocks);

// The absent blocks from first up to (not including) end, described as
// describeBlocks does, blocks past the capture's end included; empty when
// there is none.
std::string describeAbsent(const DecodedImage& image, std::uint64_t first, std::uint64_t end);

} // namespace varnook::lif
