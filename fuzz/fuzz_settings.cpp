// The settings on any file content and any value: reads give a value or the
// default, a value written reads back whole (or, when the file cannot hold
// it, the old one stays), and a later write to another key keeps it.

#include "check.h"

#include "core/text/code_page.h"
#include "core/base/failure.h"
#include "settings/module1.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace varnook;

// The input is the file's content, then after the last 0x01 byte a value to
// store.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::filesystem::path folder = [] {
        const auto path = std::filesystem::temp_directory_path() / ("varnook-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        Module1::useFolder(path);
        return path;
    }();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.rfind('\x01');
    const std::string file = split == std::string::npos ? input : input.substr(0, split);
    const std::string value = split == std::string::npos ? "1234" : input.substr(split + 1);
    {
        std::ofstream out(folder / "config.ini", std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    for (const char* key : {"Top", "State", "Dir", "Start"}) {
        const std::string read = Module1::ReadSetting("Window", key, "default");
        FUZZ_CHECK(!read.empty());
    }
    // A written value comes back only as valid UTF-8 (the reader takes any
    // other file to be in the locale's code page).
    bool utf8 = true;
    try {
        CodePage::named("UTF-8").fromUtf8(value);
    } catch (const Failure&) {
        utf8 = false;
    }
    const std::string before = Module1::ReadSetting("Option", "Start", "10");
    Module1::WriteSetting("Option", "Start", value);
    const std::string after = Module1::ReadSetting("Option", "Start", "10");
    if (value.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) {
        FUZZ_CHECK(after == before); // not storable: the old value stays
    } else if (utf8) {
        FUZZ_CHECK(after == (value.empty() ? "10" : value));
    }
    Module1::WriteSetting("Load", "Dir", "/home/user/Gr\u00F6\u00DFe/PROG.asc");
    FUZZ_CHECK(Module1::ReadSetting("Load", "Dir", "") == "/home/user/Gr\u00F6\u00DFe/PROG.asc");
    if (value.find_first_of(std::string_view("\r\0", 2)) == std::string::npos && utf8) {
        FUZZ_CHECK(Module1::ReadSetting("Option", "Start", "10") == after);
    }
    return 0;
}
