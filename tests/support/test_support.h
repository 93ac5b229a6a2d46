#pragma once

#include "core/base/bytes.h"
#include "core/base/progress.h"
#include "core/program/records.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnook::test {

inline Bytes bytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

inline std::string textOf(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Bytes from hex like "00 07 31 30" (blank-separated).
Bytes hex(std::string_view text);

// The reason of the Failure the action throws, or "no failure".
template <class Action> std::string failureOf(Action&& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no failure";
}

// The bytes the action gives, as text; or "failure: " and the reason.
template <class Action> std::string outcome(Action&& action)
{
    try {
        return textOf(action());
    } catch (const std::exception& e) {
        return std::string("failure: ") + e.what();
    }
}

// The 256-byte header every written file starts with.
Bytes header();

// header() followed by the given record bytes (hex).
Bytes hpFile(std::string_view recordsHex);

// Findings as one line: "offset: text", notes marked, " | " between.
std::string findingsText(const std::vector<Finding>& findings);

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    void write(const std::string& name, const Bytes& bytes) const;
    void write(const std::string& name, std::string_view text) const { write(name, Bytes(text.begin(), text.end())); }
    Bytes read(const std::string& name) const;
    // Names of everything in the folder, sorted.
    std::string listing() const;

private:
    std::filesystem::path path_;
};

// The settings kept in a fresh folder while it lives.
struct SettingsFolder {
    SettingsFolder();
    ~SettingsFolder();
    TempDir dir;
};

// Runs the check as a user without root's power over permissions: as
// nobody in a child process when the tests run as root (the folder and all
// in it given to nobody first), else directly. Returns what the check
// returns.
std::string asOrdinaryUser(const TempDir& dir, const std::function<std::string()>& check);

// The same for a shell command line: prefixed so that it runs as nobody
// when the tests run as root.
std::string ordinaryUserPrefix(const TempDir& dir);

// Bytes 01 to FE without CR and LF: everything one program line can hold.
Bytes lineBytes();

// Bytes 00 to FF, each once.
Bytes everyByte();

// A numbered program ("10 PRINT ..." lines, CR LF after each) of at least
// the given size.
Bytes program(std::size_t size);

// Every position a loop reports, in order.
struct RecordedProgress : Progress {
    void reached(std::int32_t index) override { positions.push_back(index); }
    std::vector<std::int32_t> positions;
};

// The single-byte Windows code pages the locale can choose.
inline constexpr const char* kSingleByteWindowsPages[] = {
    "windows-874",  "windows-1250", "windows-1251", "windows-1252", "windows-1253",
    "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258"};

} // namespace varnook::test
