#pragma once

// The code pages as tables generated from ICU's converters
// (code_page_tables.cpp, written by scripts/generate-code-pages): every
// platform converts with the same tables, and none needs ICU to run.

#include <cstddef>
#include <cstdint>

namespace varnook::codepages {

inline constexpr char16_t kNone = 0xFFFF; // the byte reads as no character
inline constexpr char16_t kLeadByte = 0xFFFE; // the byte starts a two-byte character

struct PageTable {
    const char* name;
    const char* const* aliases; // every name of the page, its own first
    std::size_t aliasCount;
    const char16_t* singles; // 256: what each byte reads as; null for UTF-8
    const char16_t* doubles; // each lead byte's trail bytes, lead bytes in order; null without lead bytes
    unsigned trailFirst;
    unsigned trailCount;
    const std::uint16_t* oneWay; // sequences (a byte, or lead << 8 | trail) read, never written
    std::size_t oneWayCount;
};

extern const PageTable kPageTables[];
extern const std::size_t kPageTableCount;

} // namespace varnook::codepages
