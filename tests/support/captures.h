#pragma once

// Floppy imagers' captures of a plain image, made from the formats' public
// descriptions apart from the readers, so that the two hold each other.

#include "core/bytes.h"

#include <cstddef>
#include <cstdint>

namespace varnook::test {

// An ImageDisk capture (the last track filled with zeros): 16 sectors of 256 bytes a track on two heads,
// numbered from first and interleaved 2:1, one-value sectors compressed;
// the block missing recorded as unavailable, bad as read with an error.
Bytes imageDiskOf(const Bytes& plain, std::uint8_t first, std::size_t missing, std::size_t bad);

enum class Packing { None, Lzh, Lzw };

// The same as a TeleDisk capture, numbered from 1: one-value sectors as a
// repeated pattern, the others raw and as runs by turns, a sector with data
// but no ID (numbered 100) on the second track; missing left out, bad flagged as
// read with a CRC error. Packing picks advanced compression: LZSS with
// adaptive Huffman codes (version 2.1) or LZW (version 1.5).
Bytes teleDiskOf(const Bytes& plain, std::size_t missing, std::size_t bad, Packing packing = Packing::None);

} // namespace varnook::test
