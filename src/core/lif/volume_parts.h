#pragma once

// What the volume's files share: where an entry stands, the files in the
// order of their blocks, the label and directory of an image opened as a
// disk, and the rule for names the user types. Internal to the lif room.

#include "image_file.h"
#include "lif.h"

#include <string_view>
#include <utility>
#include <vector>

namespace varnook::lif::detail {

// The offset of the entry of that slot in the image.
std::uint64_t entryOffset(const Volume& volume, std::size_t slot);
// The live files by their first block.
std::vector<const Entry*> inStartOrder(const Volume& volume);
// What the image file is: plain, or a capture.
Container containerOfImage(const ImageFile& file);
// The label block and the directory blocks of a plain image (none when they
// do not lie inside it; parseVolume says why).
std::pair<Bytes, Bytes> labelAndDirectory(const ImageFile& file);
// Writes a volume label block: the LIF mark, the label, the directory's
// place and size, version 1, the geometry and the date.
struct Geometry {
    std::uint32_t tracks, surfaces, blocksPerTrack;
};
void writeLabel(std::uint8_t* block, std::string_view label, std::uint32_t directoryStart,
                std::uint32_t directoryBlocks, const Geometry& geometry, const Date& date);
// Refuses a name the user typed that breaks the writing rule (kNameRule).
void refuseInvalidName(std::string_view name);

} // namespace varnook::lif::detail
