#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace varnook::cli {

void prepareProcess()
{
    // Messages are UTF-8, as on Linux: the console shows them so.
    SetConsoleOutputCP(CP_UTF8);
    // The same bytes as on Linux on every stream, listings and messages
    // included: no CR is put before their LFs (the console needs none).
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool errorsGoToTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

void endQuietly()
{
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace varnook::cli

// File names come in UTF-16 and go on as UTF-8.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(std::max(size, 1)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, argument.data(), size, nullptr, nullptr);
        argument.resize(argument.size() - 1);
        arguments.push_back(std::move(argument));
    }
    std::vector<char*> pointers;
    for (auto& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return varnook::cli::run(argc, pointers.data());
}
