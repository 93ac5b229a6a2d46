// The settings reader on any file content: reads give a value or the
// default, and a value written is read back whole.

#include "check.h"

#include "settings/module1.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::filesystem::path folder = [] {
        const auto path = std::filesystem::temp_directory_path() / ("varnook-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        Module1::useFolder(path);
        return path;
    }();
    {
        std::ofstream out(folder / "config.ini", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const char* key : {"Top", "State", "Dir", "Start"}) {
        const std::string value = Module1::ReadSetting("Window", key, "default");
        FUZZ_CHECK(!value.empty());
    }
    Module1::WriteSetting("Option", "Start", "1234");
    FUZZ_CHECK(Module1::ReadSetting("Option", "Start", "10") == "1234");
    Module1::WriteSetting("Load", "Dir", "/home/user/Gr\u00F6\u00DFe/PROG.asc");
    FUZZ_CHECK(Module1::ReadSetting("Load", "Dir", "") == "/home/user/Gr\u00F6\u00DFe/PROG.asc");
    return 0;
}
