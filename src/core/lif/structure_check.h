#pragma once

#include "core/base/bytes.h"
#include "core/program/records.h"
#include "lif.h"

#include <filesystem>
#include <vector>

namespace varnook {

// What a file is by its content: an HP BASIC ASCII program file (the whole
// 256-byte header, no more than 8 of its bytes differing from the
// format's), a LIF volume (its mark) or capture, a bare LIF ASCII file
// (length words of 0 to 255 or FFFE that chain from offset 0 to the length
// FFFF inside the bytes), or anything else, read as text.
enum class FileKind { ProgramFile, Volume, LifAscii, Other };
FileKind kindOf(ByteView bytes);
// The same for a file, read as far as it takes. Throws Failure when it
// cannot be read.
FileKind kindOfFile(const std::filesystem::path& path);

// Every departure of a LIF volume from the format: label, directory and file inconsistencies, and
// ASCII files whose records run past their blocks or have no end mark.
std::vector<lif::Finding> checkVolumeImage(ByteView image);

// Checks the file as a volume when it carries the LIF mark (or is a
// capture), as the records of a bare LIF ASCII file when it is one, else
// as a program file. Throws Failure when it cannot be read.
std::vector<lif::Finding> checkFile(const std::filesystem::path& path);

} // namespace varnook
