#pragma once

#include "core/base/bytes.h"
#include "core/base/progress.h"

#include <cstdint>
#include <optional>

namespace varnook {

// Puts a line number and one blank in front of every line of program text
// given as bytes in the code page: Start for the first line, each next line
// the previous number plus Step. Lines end at a CR; a LF right after a CR
// belongs to the line break. The output separates lines by CR LF.
// The running number is always one Step ahead of the number last written, so
// numbering fails when that next value leaves the 32-bit range. Throws
// Failure for an empty text too. Reports the start position of lines.
Bytes insertLineNumberBytes(ByteView text, std::int32_t start, std::int32_t step, Progress* progress = nullptr);
// The same into a buffer whose memory is reused.
void insertLineNumberBytes(ByteView text, std::int32_t start, std::int32_t step, Bytes& out,
                           Progress* progress = nullptr);

// The line numbers HP BASIC takes.
inline constexpr std::int32_t kFirstLineNumber = 1;
inline constexpr std::int32_t kLastLineNumber = 32766;

// A line (counted from 1) and the number the numbering gives it.
struct NumberedLine {
    std::int64_t line = 0;
    std::int64_t number = 0;
};

// The first line of the text that numbering from start by step would give a
// number HP BASIC does not take; nothing when every line's number is one.
std::optional<NumberedLine> firstLineOutside(ByteView text, std::int32_t start, std::int32_t step);

} // namespace varnook
