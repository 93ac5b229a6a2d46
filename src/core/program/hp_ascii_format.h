#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnook::hp {

// The fixed 256-byte file header; nothing in it depends on the program.
inline constexpr std::size_t kHeaderSize = 256;
inline constexpr std::array<std::uint8_t, 13> kHeaderStart = {0x88, 0x84, 0x00, 0x01, 0x00, 0x00, 0x01,
                                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x04};

// The first character byte of the first record: after the header and the
// first length word.
inline constexpr std::size_t kFirstCharOffset = kHeaderSize + 2;

// After the last record: a zero where the next length word would start, then FF FF.
inline constexpr std::array<std::uint8_t, 3> kEndMark = {0x00, 0xFF, 0xFF};

// The length word's high byte is always 00, so a line holds at most 255 characters.
inline constexpr std::size_t kMaxLineLength = 255;

} // namespace varnook::hp
