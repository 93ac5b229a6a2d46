#include "process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace varnook::cli {

void prepareProcess()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN); // a file size limit fails the write ("File too large") instead of killing
}

bool errorsGoToTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void endQuietly()
{
    // By SIGPIPE, as a filter is ended.
    std::fflush(stderr);
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(141);
}

} // namespace varnook::cli

int main(int argc, char** argv)
{
    return varnook::cli::run(argc, argv);
}
