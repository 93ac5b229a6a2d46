#pragma once

// The calls on files that differ between platforms, in POSIX's shape: a
// descriptor, -1 (or false) and errno on failure. os_posix.cpp and
// os_windows.cpp implement them; the rest of the code is the same on both.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace varnook::os {

// What a file is opened for. Never blocking on a pipe; new files are made
// as the user's other new files are.
enum class Open {
    Read,
    ReadWrite,
    CreateNew, // for writing; fails with EEXIST when the name is taken
    CreatePrivate, // the same, for the user alone
};
int open(const std::filesystem::path& path, Open mode);
int close(int fd);

struct Info {
    bool folder = false;
    bool regular = false;
    bool writableByNoOne = false; // no write permission for anyone (read-only)
    std::uint64_t size = 0;
};
bool info(int fd, Info& info);

// Moves up to count bytes; the count moved, 0 at the end, -1 on failure.
long long read(int fd, void* into, std::size_t count);
long long write(int fd, const void* from, std::size_t count);
long long readAt(int fd, void* into, std::size_t count, std::uint64_t offset);
long long writeAt(int fd, const void* from, std::size_t count, std::uint64_t offset);

// Makes what was written durable: the data (and what reading it needs), or
// everything about the file.
bool flush(int fd, bool dataOnly);
bool truncate(int fd, std::uint64_t size);

bool remove(const std::filesystem::path& path);
bool exists(const std::filesystem::path& path);

// The descriptors of the standard streams, in binary mode.
int standardInput();
int standardOutput();

} // namespace varnook::os
