#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Access to the settings file config.ini. Every call reads or rewrites the
// file by itself; nothing is cached.
namespace varnook::Module1 {

// The folder config.ini lies in, ending in exactly one "/": the program's
// folder when it can be written (a build tree or a portable copy), else
// $XDG_CONFIG_HOME/varnook/ (by default ~/.config/varnook/).
std::string AppFolder();

// The value stored under section and key, whole; the caller's default when
// the file, the section or the key is missing, the value is empty, or the
// file cannot be read as settings at all.
std::string ReadSetting(const std::string& section, const std::string& key, const std::string& defaultValue);

// Stores the value, creating the file, section or key as needed. The file is
// replaced atomically; a failed write is not reported.
void WriteSetting(const std::string& section, const std::string& key, const std::string& value);

// Makes AppFolder return this folder instead (tests); nullopt undoes it.
void useFolder(const std::optional<std::filesystem::path>& folder);

// A folder name with exactly one separator at its end.
std::string withSeparator(std::string folder);

} // namespace varnook::Module1
