#pragma once

#include "core/base/bytes.h"
#include "core/base/progress.h"

#include <cstdint>

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

} // namespace varnook
