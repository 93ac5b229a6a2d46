#include "module1.h"

#include "core/text/code_page.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"

#include <SimpleIni.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <vector>
#include <system_error>

#include <unistd.h>

namespace varnook::Module1 {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path>& overrideFolder()
{
    static std::optional<fs::path> folder;
    return folder;
}

fs::path programFolder()
{
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path(error) : program.parent_path();
}

fs::path userConfigFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg == '/') {
        return fs::path(xdg) / "varnook";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".config" / "varnook";
}

bool isValidUtf8(std::string_view text)
{
    static const CodePage utf8 = CodePage::named("UTF-8");
    try {
        utf8.fromUtf8(text);
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// The text of config.ini as UTF-8; nothing when there is no file to read. A
// file written by an older tool in the locale's code page is read through it.
std::optional<std::string> loadText()
{
    try {
        const Bytes bytes = readFileBytes(AppFolder() + "config.ini");
        std::string text(bytes.begin(), bytes.end());
        if (!isValidUtf8(text)) {
            text = CodePage::fromEnvironment().toUtf8(bytes);
        }
        return text;
    } catch (const Failure&) {
        return std::nullopt;
    }
}

// Loads config.ini; false when there is nothing usable.
bool load(CSimpleIniA& ini)
{
    ini.SetUnicode(true);
    ini.SetMultiLine(true);
    const auto text = loadText();
    return text && ini.LoadData(text->data(), text->size()) >= 0;
}

// Where the settings must not go: folders the package manager owns, where a
// config.ini written by root would outlive the package.
bool isSystemFolder(const fs::path& folder)
{
    const fs::path normal = folder.lexically_normal();
    for (const char* prefix : {"/usr", "/usr/local", "/opt", VARNOOK_INSTALL_PREFIX}) {
        const fs::path system = fs::path(prefix).lexically_normal();
        const auto [stop, ignored] = std::mismatch(system.begin(), system.end(), normal.begin(), normal.end());
        if (!system.empty() && stop == system.end()) {
            return true;
        }
    }
    return false;
}

// One line of config.ini as the reader sees it.
struct IniLine {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string name; // section or key name, blanks trimmed
    std::size_t lastLine = 0; // a key's value may run on over further lines
};

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string withoutTrailingBlanks(std::string_view text)
{
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1));
}

// Reads the lines the way the settings reader does: "[Section]", "Key=Value",
// and "Key=<<<TAG" that runs on to a line holding TAG alone.
std::vector<IniLine> parseLines(const std::vector<std::string>& lines)
{
    std::vector<IniLine> parsed(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = trimmed(lines[i]);
        IniLine& entry = parsed[i];
        entry.lastLine = i;
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            if (line.find(']') != std::string::npos) {
                entry.kind = IniLine::Kind::Section;
                entry.name = trimmed(std::string_view(line).substr(1, line.find(']') - 1));
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            continue;
        }
        entry.kind = IniLine::Kind::Key;
        entry.name = trimmed(std::string_view(line).substr(0, equals));
        const std::string value = trimmed(std::string_view(line).substr(equals + 1));
        if (value.rfind("<<<", 0) == 0) {
            const std::string tag = value.substr(3);
            std::size_t end = i + 1;
            while (end < lines.size() && !sameName(withoutTrailingBlanks(lines[end]), tag)) {
                ++end;
            }
            entry.lastLine = std::min(end, lines.size() - 1);
            i = entry.lastLine;
        }
    }
    return parsed;
}

// The value's lines in the file. A value that would not come back from a
// single line (a line break in it, blanks at its ends, or a leading "<<<",
// which starts a block) is written as a block under a tag none of its lines
// equals. Nothing when the file cannot carry it back at all: CR (read as a
// line break) and NUL.
std::optional<std::vector<std::string>> storedLines(const std::string& key, const std::string& value)
{
    if (value.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) {
        return std::nullopt;
    }
    const bool block = value.find('\n') != std::string::npos || value.rfind("<<<", 0) == 0 ||
                       (!value.empty() && trimmed(value).size() != value.size());
    if (!block) {
        return std::vector<std::string>{key + "=" + value};
    }
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (;;) {
        const auto end = value.find('\n', from);
        lines.push_back(value.substr(from, end - from));
        if (end == std::string::npos) {
            break;
        }
        from = end + 1;
    }
    // The reader ends a block at its tag in any letter case.
    std::string tag = "END_OF_TEXT";
    for (int n = 1;
         std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return sameName(trimmed(l), tag); });
         ++n) {
        tag = "END_OF_TEXT_" + std::to_string(n);
    }
    lines.insert(lines.begin(), key + "=<<<" + tag);
    lines.push_back(tag);
    return lines;
}

// The file's text with the value stored: its first line for the key
// replaced (later ones removed), or the key added at the end of its section,
// or the section added at the end. Everything else stays as it was.
std::string withValue(const std::string& text, const std::string& section, const std::string& key,
                      const std::vector<std::string>& valueLines)
{
    // Lines end where the reader ends them: at CR LF, CR or LF. It reads
    // nothing after a NUL, so neither is anything kept from there on.
    const std::string_view readable(text.data(), std::min(text.size(), text.find('\0')));
    std::vector<std::string> lines;
    std::vector<std::string> ends;
    std::size_t from = 0;
    while (from < readable.size()) {
        const auto end = std::min(readable.size(), readable.find_first_of("\r\n", from));
        lines.emplace_back(readable.substr(from, end - from));
        const std::size_t endLength = readable.substr(end, 2) == "\r\n" ? 2 : end < readable.size() ? 1 : 0;
        ends.emplace_back(readable.substr(end, endLength));
        from = end + endLength;
    }
    const std::string newline = !ends.empty() && ends[0] == "\r\n" ? "\r\n" : "\n";
    const std::vector<IniLine> parsed = parseLines(lines);

    // Each line with its own line end; new lines take the file's first.
    std::vector<std::pair<std::string, std::string>> out;
    const auto addValue = [&](std::size_t at) {
        std::vector<std::pair<std::string, std::string>> added;
        for (const auto& line : valueLines) {
            added.emplace_back(line, newline);
        }
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
    };
    bool inSection = false;
    bool stored = false;
    std::optional<std::size_t> sectionEnd; // where a missing key goes
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const IniLine& entry = parsed[i];
        if (entry.kind == IniLine::Kind::Section) {
            inSection = sameName(entry.name, section);
        }
        if (inSection && entry.kind == IniLine::Kind::Key && sameName(entry.name, key)) {
            if (!stored) {
                addValue(out.size());
                stored = true;
            }
            i = entry.lastLine;
            continue;
        }
        for (std::size_t k = i; k <= entry.lastLine; ++k) {
            out.emplace_back(lines[k], ends[k].empty() ? newline : ends[k]);
        }
        i = entry.lastLine;
        if (inSection && !stored && !trimmed(out.back().first).empty()) {
            sectionEnd = out.size();
        }
    }
    if (!stored && sectionEnd) {
        addValue(*sectionEnd);
    } else if (!stored) {
        if (!out.empty() && !trimmed(out.back().first).empty()) {
            out.emplace_back("", newline);
        }
        out.emplace_back("[" + section + "]", newline);
        addValue(out.size());
    }
    std::string result;
    for (const auto& [line, end] : out) {
        result += line + end;
    }
    return result;
}

bool readsBack(const std::string& text, const std::string& section, const std::string& key, const std::string& value)
{
    CSimpleIniA ini;
    ini.SetUnicode(true);
    ini.SetMultiLine(true);
    if (ini.LoadData(text.data(), text.size()) < 0) {
        return false;
    }
    const char* stored = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    return stored != nullptr && value == stored;
}

// The settings the reader finds in config.ini, written anew in file order.
std::string rebuilt()
{
    CSimpleIniA ini;
    if (!load(ini)) {
        return {};
    }
    std::string text;
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    // Names the reader took from damaged lines may not survive a line of
    // their own: those go.
    const auto usable = [](std::string_view name, std::string_view forbidden) {
        return !name.empty() && trimmed(name) == name && name.find_first_of(forbidden) == std::string_view::npos &&
               name[0] != ';' && name[0] != '#' && name[0] != '[';
    };
    for (const auto& section : sections) {
        if (!usable(section.pItem, "\r\n]")) {
            continue;
        }
        text += std::string(text.empty() ? "" : "\n") + "[" + section.pItem + "]\n";
        CSimpleIniA::TNamesDepend keys;
        ini.GetAllKeys(section.pItem, keys);
        keys.sort(CSimpleIniA::Entry::LoadOrder());
        for (const auto& key : keys) {
            if (!usable(key.pItem, "\r\n=")) {
                continue;
            }
            if (const auto lines = storedLines(key.pItem, ini.GetValue(section.pItem, key.pItem, ""))) {
                for (const auto& line : *lines) {
                    text += line + "\n";
                }
            }
        }
    }
    return text;
}

} // namespace

std::string withSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

void useFolder(const std::optional<std::filesystem::path>& folder)
{
    overrideFolder() = folder;
}

std::string AppFolder()
{
    if (overrideFolder()) {
        return withSeparator(overrideFolder()->string());
    }
    return folderForProgramIn(programFolder());
}

std::string folderForProgramIn(const std::filesystem::path& folder)
{
    if (!isSystemFolder(folder) && ::access(folder.c_str(), W_OK) == 0) {
        return withSeparator(folder.string());
    }
    return withSeparator(userConfigFolder().string());
}

std::string ReadSetting(const std::string& section, const std::string& key, const std::string& defaultValue)
{
    CSimpleIniA ini;
    if (!load(ini)) {
        return defaultValue;
    }
    const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (value == nullptr || *value == '\0') {
        return defaultValue;
    }
    return value;
}

void WriteSetting(const std::string& section, const std::string& key, const std::string& value)
{
    const auto lines = storedLines(key, value);
    if (!lines) {
        return; // not storable; the old value stays
    }
    try {
        const std::string folder = AppFolder();
        std::error_code error;
        fs::create_directories(folder, error);
        std::string text = withValue(loadText().value_or(""), section, key, *lines);
        if (!readsBack(text, section, key, value)) {
            // The old file was not all settings (a block without its end tag
            // swallows what follows): keep what the reader makes of it.
            text = withValue(rebuilt(), section, key, *lines);
            if (!readsBack(text, section, key, value)) {
                return;
            }
        }
        replaceFile(folder + "config.ini", ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    } catch (const Failure&) {
        // Not reported: the next run reads what the file then holds.
    }
}

} // namespace varnook::Module1
