#pragma once

// Big-endian numbers, as LIF volumes, program files and journals store
// them; little-endian ones, as the captures of PC floppy imagers do.

#include <cstdint>

namespace varnook {

inline std::uint16_t be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

inline std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline std::uint64_t be64(const std::uint8_t* p)
{
    return std::uint64_t{be32(p)} << 32 | be32(p + 4);
}

inline std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

inline void put16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

inline void put32(std::uint8_t* p, std::uint32_t value)
{
    put16(p, value >> 16);
    put16(p + 2, value);
}

} // namespace varnook
