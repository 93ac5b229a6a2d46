#include "commands.h"

#include "options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iterator>

namespace varnook::cli {
namespace {

const Command kCommands[] = {
    {"convert",
     {},
     false,
     "convert --to {txt|hp|lif-ascii} [--from {txt|hp|lif-ascii}] [options] INPUT...",
     "Converts programs between text, HP BASIC ASCII program files and bare LIF ASCII files.",
     {"--to", "--from", "--line-numbers", "--start", "--step", "--code-page", "-o", "--line-ending", "--lenient"},
     "INPUT"},
    {"list", {"--list"}, true, "list IMAGE", "Lists the files of a disk image or capture.", {}},
    {"read",
     {"--volume"},
     true,
     "read IMAGE [--to {txt|hp|lif-ascii}] [-o PATH] [--code-page NAME] NAME...",
     "Reads the NAMEd ASCII files out of the image, as text unless --to says otherwise.",
     {"--to", "-o", "--code-page", "--line-ending"},
     "NAME"},
    {"write",
     {"--to", "lif", "--volume"},
     true,
     "write IMAGE [--from {txt|hp|lif-ascii}] [--name NAME] [--line-numbers] [--start N] [--step N]\n"
     "        [--code-page NAME] INPUT...",
     "Writes each INPUT into the image as an ASCII file.",
     {"--from", "--name", "--line-numbers", "--start", "--step", "--code-page"},
     "INPUT"},
    {"new",
     {"--new-volume"},
     true,
     "new IMAGE [--label LABEL] [--medium NAME | --blocks N] [--directory-blocks N]",
     "Creates an empty disk image, written whole.",
     {"--label", "--medium", "--blocks", "--directory-blocks"}},
    {"extract",
     {"--extract", "--volume"},
     true,
     "extract IMAGE [--form {lif|hfslif|bare}] [-o PATH] NAME...",
     "Copies the NAMEd files out of the image as single files.",
     {"--form", "--bare", "-o"},
     "NAME"},
    {"insert",
     {"--insert", "--volume"},
     true,
     "insert IMAGE [--replace] FILE...\n  insert IMAGE --bare --name NAME --type TYPE [--replace] FILE",
     "Puts single files (or bare blocks) onto the image.",
     {"--replace", "--bare", "--name", "--type"},
     "FILE"},
    {"rename",
     {"--rename", "--volume"},
     true,
     "rename IMAGE OLD NEW",
     "Renames the file OLD of the image to NEW.",
     {},
     "OLD and NEW"},
    {"purge",
     {"--purge", "--volume"},
     true,
     "purge IMAGE NAME...",
     "Removes the NAMEd files from the image.",
     {},
     "NAME"},
    {"pack",
     {"--pack", "--volume"},
     true,
     "pack IMAGE",
     "Moves the files of the image towards its start, so that the free space is one gap.",
     {}},
    {"label",
     {"--set-label", "--volume"},
     true,
     "label IMAGE LABEL",
     "Writes LABEL (up to 6 characters) as the image's volume label.",
     {},
     "LABEL"},
    {"export",
     {"--export-image"},
     true,
     "export IMAGE -o OUT",
     "Writes the volume of an image or capture as a plain image of its whole capacity.",
     {"-o"}},
    {"check",
     {"--check"},
     false,
     "check FILE...",
     "Lists every departure from the format of program files, bare LIF ASCII files and disk images.",
     {},
     "FILE"},
    {"textconv",
     {"--textconv"},
     false,
     "textconv [--line-ending {crlf|lf}] FILE",
     "Writes FILE as a diff should show it: a program as its text, a disk image as its catalogue and its "
     "programs.",
     {"--line-ending", "--code-page"},
     "FILE"},
};

} // namespace

const Command* inFlagForm(std::vector<std::string>& arguments, const CLI::App& app)
{
    if (arguments.size() < 2) {
        return nullptr;
    }
    const auto* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                       [&](const Command& c) { return arguments[1] == c.name; });
    if (command == std::end(kCommands)) {
        return nullptr;
    }
    std::vector<std::string> rest(arguments.begin() + 2, arguments.end());
    std::vector<std::string> form{arguments[0]};
    form.insert(form.end(), command->flags.begin(), command->flags.end());
    const bool help = std::find_if(rest.begin(), rest.end(),
                                   [](const std::string& a) { return a == "--help" || a == "-h"; }) != rest.end();
    if (command->image && !help) {
        std::size_t at = 0;
        while (at < rest.size() && rest[at] != "--" && rest[at].size() > 1 && rest[at][0] == '-') {
            // An option that takes a value is followed by it, not by IMAGE.
            const CLI::Option* option = app.get_option_no_throw(rest[at]);
            at += option != nullptr && option->get_items_expected_min() > 0 ? 2 : 1;
        }
        if (at < rest.size() && rest[at] == "--") {
            rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (at >= rest.size()) {
            throw UsageError{std::string(command->name) + " needs IMAGE", std::string(command->name) + " --help"};
        }
        form.push_back(rest[at]);
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(at));
    }
    if (std::string(command->name) == "read" && std::find(rest.begin(), rest.end(), "--to") == rest.end()) {
        form.insert(form.end(), {"--to", "txt"});
    }
    form.insert(form.end(), rest.begin(), rest.end());
    arguments = std::move(form);
    return command;
}

std::string commandHelp(const Command& command, const CLI::App& app)
{
    std::string text = std::string("Usage: ") + kProgram + " " + command.usage + "\n\n" + command.about + "\n";
    if (!command.options.empty()) {
        text += "\nOptions:\n";
    }
    for (const char* name : command.options) {
        const CLI::Option* option = app.get_option(name);
        std::string line = "  " + option->get_name(false, true);
        if (option->get_items_expected_min() > 0) {
            line += " " + option->get_type_name();
        }
        line.resize(std::max<std::size_t>(line.size() + 2, 30), ' ');
        text += line + option->get_description() + "\n";
    }
    return text;
}

std::string commandNames()
{
    std::string names;
    for (std::size_t i = 0; i < std::size(kCommands); ++i) {
        names += (i == 0 ? "" : i + 1 == std::size(kCommands) ? " or " : ", ") + std::string(kCommands[i].name);
    }
    return names;
}

} // namespace varnook::cli
