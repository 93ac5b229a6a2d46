#pragma once

// What varnook-convert's process does differently on each platform
// (process_posix.cpp, process_windows.cpp): how it starts and how it ends
// when the reader of its output has gone.

namespace varnook::cli {

// The program, its arguments in UTF-8; main() on each platform calls it.
int run(int argc, char** argv);

// Signals (Linux) or the console (Windows) set up for the program.
void prepareProcess();

// Whether standard error is a terminal (a console): progress shows there.
bool errorsGoToTerminal();

// As any filter ends when its reader has gone, saying nothing.
[[noreturn]] void endQuietly();

} // namespace varnook::cli
