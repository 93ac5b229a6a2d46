#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Access to the settings file config.ini. Every call reads or rewrites the
// file by itself; nothing is cached.
namespace varnook::Module1 {

// The folder config.ini lies in, ending in exactly one "/" (see
// folderForProgramIn).
std::string AppFolder();

// The program's folder when it can be written and is not a system folder
// (/usr, /opt or the install prefix): a build tree or a portable copy. Else
// $XDG_CONFIG_HOME/varnook/ (by default ~/.config/varnook/).
std::string folderForProgramIn(const std::filesystem::path& folder);

// The value stored under section and key, whole; the caller's default when
// the file, the section or the key is missing, the value is empty, or the
// file cannot be read as settings at all.
std::string ReadSetting(const std::string& section, const std::string& key, const std::string& defaultValue);

// Stores the value, creating the file, section or key as needed, as a
// "Key=Value" line (or a "Key=<<<TAG" block for a value that one line would
// not give back); the rest of the file stays as it was. The file is replaced
// atomically; a failed write is not reported, and neither is a value holding
// CR or NUL, which the file cannot give back (the old value stays).
void WriteSetting(const std::string& section, const std::string& key, const std::string& value);

// Makes AppFolder return this folder instead (tests); nullopt undoes it.
void useFolder(const std::optional<std::filesystem::path>& folder);

// A folder name with exactly one separator at its end.
std::string withSeparator(std::string folder);

} // namespace varnook::Module1
