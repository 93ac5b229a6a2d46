#pragma once

#include "bytes.h"

#include <filesystem>

namespace varnook {

// Reads a whole regular file. Throws Failure for a missing or unreadable
// file, a folder, a pipe or device, and a file of 2 GiB or more (checked
// before anything is allocated).
Bytes readFileBytes(const std::filesystem::path& path);

// Reads a stream (standard input) to its end, at most 2 GiB - 1 bytes.
Bytes readStreamBytes(int fd);

// Writes all bytes to a stream (standard output).
void writeStreamBytes(int fd, ByteView bytes);

// Replaces the file at path by the bytes: they go to a temporary file in the
// same folder, which is then renamed over the target. On any failure the old
// file is left exactly as it was and the temporary file is removed. An
// existing target keeps its permission bits; a symbolic link is followed.
void replaceFile(const std::filesystem::path& path, ByteView bytes);

} // namespace varnook
