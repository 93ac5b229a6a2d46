#pragma once

// Floppy imagers' captures of a plain image, made from the formats' public
// descriptions apart from the readers, so that the two hold each other.

#include "core/base/bytes.h"

#include <cstddef>
#include <cstdint>

namespace varnook::test {

// The disk a capture holds: count sectors of size bytes (256, 512 or 1024)
// a track on two heads; with extra tracks, leftovers of other formats past
// the volume (512-byte sectors numbered 1 to 9 on three cylinders, a track
// recorded under cylinder 150, sectors numbered 97 to 112).
struct Shape {
    std::size_t size = 256;
    std::size_t count = 16;
    bool extraTracks = false;
};

// An ImageDisk capture (the last track filled with zeros), the sectors
// numbered from first and interleaved 2:1, one-value sectors compressed;
// the sector of block missing recorded as unavailable, of bad as read with
// an error.
Bytes imageDiskOf(const Bytes& plain, std::uint8_t first, std::size_t missing, std::size_t bad,
                  const Shape& shape = {});

enum class Packing { None, Lzh, Lzw };

// The same as a TeleDisk capture, numbered from 1: one-value sectors as a
// repeated pattern, the others raw and as runs by turns, a sector with data
// but no ID (numbered 100) on cylinder 0 head 1; missing left out, bad
// flagged as read with a CRC error. Packing picks advanced compression:
// LZSS with adaptive Huffman codes (version 2.1) or LZW (version 1.5).
Bytes teleDiskOf(const Bytes& plain, std::size_t missing, std::size_t bad, Packing packing = Packing::None,
                 const Shape& shape = {});

} // namespace varnook::test
