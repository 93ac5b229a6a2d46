#pragma once

// The commands of varnook-convert (convert, list, read, ...), each the
// short form of the flags earlier versions took, which keep working.

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace varnook::cli {

// A command, and the flag form it stands for: its flags, then (image) the
// command's first operand, the IMAGE those flags take.
struct Command {
    const char* name;
    std::vector<const char*> flags;
    bool image;
    const char* usage;
    const char* about;
    std::vector<const char*> options; // what its --help lists
    const char* operands = ""; // what it needs after IMAGE, for its usage errors
};

// The arguments of a command rewritten in its flag form; the command
// itself, or nothing when the first argument names none. Throws
// UsageError for a command without its IMAGE.
const Command* inFlagForm(std::vector<std::string>& arguments, const CLI::App& app);

// A command's --help: its usage, what it does and its options.
std::string commandHelp(const Command& command, const CLI::App& app);

// Every command's name: "convert, list, ... or textconv".
std::string commandNames();

} // namespace varnook::cli
