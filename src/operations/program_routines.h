#pragma once

#include "window_operations.h"

#include "core/base/bytes.h"
#include "core/text/code_page.h"

#include <string_view>

namespace varnook {

// The long loops of the commands, each with its status text, progress
// maximum, timer and ProgressCount. They have no error path of their own:
// a failure propagates to the command's.

// Decodes the bytes of an HP BASIC ASCII file into the document, exactly
// as they are stored. A damaged file (named by fileName) is read by the
// lenient rule only when the user says so; false when the user declines
// (the document stays as it was).
bool DecodeHpAscii(WindowOperations& window, const CodePage& codePage, ByteView bytes,
                   std::string_view fileName = "the file");

// The bytes of the HP BASIC ASCII file for text that passed the single-byte
// check (given as its bytes). Leaves the progress timer running.
Bytes EncodeHpAscii(WindowOperations& window, ByteView text);

// Numbers the document's lines from the Start and Step fields, each shown
// as it is read. Numbers HP BASIC does not take (outside 1 to 32766) are
// asked about first, naming the first such line; false when the user
// declines (the document stays unnumbered).
bool InsertLineNumbers(WindowOperations& window, const CodePage& codePage);

} // namespace varnook
