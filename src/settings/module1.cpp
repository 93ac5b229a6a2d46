#include "module1.h"

#include "core/code_page.h"
#include "core/failure.h"
#include "core/file_io.h"

#include <SimpleIni.h>

#include <cstdlib>
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

// Loads config.ini; false when there is nothing usable. A file written by an
// older tool in the locale's code page is read through that code page.
bool load(CSimpleIniA& ini)
{
    ini.SetUnicode(true);
    ini.SetMultiLine(true);
    std::string text;
    try {
        const Bytes bytes = readFileBytes(AppFolder() + "config.ini");
        text.assign(bytes.begin(), bytes.end());
        if (!isValidUtf8(text)) {
            text = CodePage::fromEnvironment().toUtf8(bytes);
        }
    } catch (const Failure&) {
        return false;
    }
    return ini.LoadData(text.data(), text.size()) >= 0;
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
    const fs::path program = programFolder();
    if (::access(program.c_str(), W_OK) == 0) {
        return withSeparator(program.string());
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
    CSimpleIniA ini;
    load(ini);
    ini.SetValue(section.c_str(), key.c_str(), value.c_str());
    std::string text;
    if (ini.Save(text) < 0) {
        return;
    }
    try {
        const std::string folder = AppFolder();
        std::error_code error;
        fs::create_directories(folder, error);
        replaceFile(folder + "config.ini", ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    } catch (const Failure&) {
        // Not reported: the next run reads what the file then holds.
    }
}

} // namespace varnook::Module1
