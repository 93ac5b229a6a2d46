// varnook-convert's command line: the options, the mode they ask for and
// the mistakes among them, which are usage errors.

#include "options.h"

#include "commands.h"

#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/lif/lif.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace varnook::cli {
namespace {

// Start and Step: decimal integers with an optional sign, in the 32-bit range.
std::int32_t parseLineNumber(const std::string& option, const std::string& text)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') {
        ++first;
    }
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (text.empty() || ec != std::errc() || ptr != last) {
        throw UsageError{"invalid " + option + " value '" + text + "': a whole number from -2147483648 to 2147483647"};
    }
    return value;
}

const char* formatName(Format format)
{
    return format == Format::Txt ? "txt" : format == Format::Hp ? "hp" : "lif-ascii";
}

// Usage first, as GNU tools print it.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override
    {
        if (mode != CLI::AppFormatMode::Normal) {
            return CLI::Formatter::make_help(app, name, mode);
        }
        return make_usage(app, name) + "\n" + make_description(app) + make_positionals(app) + make_groups(app, mode) +
               make_footer(app);
    }
};

const char* kDescription = "Converts BASIC programs between HP BASIC ASCII program files and plain text\n"
                           "(CR LF lines in the code page), byte for byte as the Varnook window does,\n"
                           "and reads and writes them on LIF disk images.\n"
                           "INPUT '-' is standard input. With one input and no -o the result goes to\n"
                           "standard output; with several inputs -o names an existing folder.\n"
                           "\n"
                           "Commands (varnook-convert COMMAND --help tells one):\n"
                           "  convert --to {txt|hp|lif-ascii} [--from {txt|hp|lif-ascii}] [options] INPUT...\n"
                           "  list IMAGE                     the files of a disk image or capture\n"
                           "  read IMAGE NAME...             ASCII files out of the image (--to txt|hp|lif-ascii)\n"
                           "  write IMAGE INPUT...           programs into the image as ASCII files\n"
                           "  new IMAGE                      an empty disk image\n"
                           "  extract IMAGE NAME...          files out of the image as single files\n"
                           "  insert IMAGE FILE...           single files into the image\n"
                           "  rename IMAGE OLD NEW           a file of the image\n"
                           "  purge IMAGE NAME...            files of the image\n"
                           "  pack IMAGE                     the free space of the image into one gap\n"
                           "  label IMAGE LABEL              the image's volume label\n"
                           "  export IMAGE -o OUT            the volume of an image or capture as a plain image\n"
                           "  check FILE...                  every departure from the format\n"
                           "  textconv FILE                  a file as a diff should show it (git)\n"
                           "The flag forms of earlier versions (--list IMAGE, --to txt --volume IMAGE, ...)\n"
                           "keep working.";

const char* kFooter = "Examples:\n"
                      "  varnook-convert convert --to txt PROG.asc > prog.txt\n"
                      "  varnook-convert convert --to hp --line-numbers --start 100 prog.txt -o PROG.asc\n"
                      "  varnook-convert list disk.lif\n"
                      "  varnook-convert read disk.lif PROG > prog.txt\n"
                      "  varnook-convert write disk.lif --name PROG prog.txt\n"
                      "  varnook-convert extract disk.lif -o files/ PROG DATA1\n"
                      "  varnook-convert insert other.lif files/PROG files/DATA1\n"
                      "  git config diff.hpbasic.textconv \"varnook-convert textconv\"\n"
                      "\n"
                      "A NAME in a volume is written as list shows it: a byte that is unsafe in a file\n"
                      "name (a blank, /, %, a control or high byte) as %XX, so A/B is A%2FB.\n"
                      "\n"
                      "Exit status: 0 when every input was converted (every checked file is clean),\n"
                      "1 when any failed, 2 for a usage error.";

// A block count: a whole number from 1 to 4294967295.
std::uint32_t parseCount(const std::string& option, const std::string& text, std::uint32_t fallback)
{
    if (text.empty()) {
        return fallback;
    }
    std::uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value == 0) {
        throw UsageError{"invalid " + option + " value '" + text + "': a whole number from 1 to 4294967295"};
    }
    return value;
}

// Whether the option was given; a refusal of any of the options with the mode.
bool given(const CLI::App& app, const char* option)
{
    return app.count(option) > 0;
}

// The usage errors of a mode, in the words the user typed: the command's
// name in the command form, the flag in the flag form.
class Wording {
public:
    Wording(const CLI::App& app, const Command* command, std::vector<std::string> arguments)
        : app_(app),
          command_(command),
          arguments_(std::move(arguments))
    {
    }
    bool commandForm() const { return command_ != nullptr; }
    // The mode as the user named it: the command, else the flag.
    std::string mode(const std::string& flag) const { return command_ != nullptr ? command_->name : flag; }
    // A refusal of any of the options given with the mode (mode: in the flag
    // form's words).
    void refuse(std::initializer_list<const char*> options, const std::string& mode) const
    {
        for (const char* option : options) {
            if (given(app_, option)) {
                throw UsageError{std::string(option) + " cannot be used with " + this->mode(mode)};
            }
        }
    }
    // What the mode needs and did not get.
    UsageError needs(const std::string& flagForm) const
    {
        return {command_ != nullptr ? std::string(command_->name) + " needs " + command_->operands : flagForm};
    }
    // No mode at all: a first word that names no command, or no --to.
    UsageError noMode() const
    {
        if (command_ != nullptr) {
            return {std::string(command_->name) + " needs --to {txt|hp|lif-ascii}"};
        }
        std::error_code error;
        if (arguments_.size() > 1 && !arguments_[1].empty() && arguments_[1][0] != '-' &&
            !fs::exists(arguments_[1], error)) {
            return {"'" + arguments_[1] + "' is no command: " + commandNames()};
        }
        return {"--to is required (or --list, --new-volume, --check, --extract, --export-image, --insert, "
                "--rename, --purge, --pack, --set-label or --textconv)"};
    }

private:
    const CLI::App& app_;
    const Command* command_;
    std::vector<std::string> arguments_;
};

// One mode, and the options that go with any mode.
void checkOneMode(Options& options, const CLI::App& app, const Wording& words)
{
    const auto has = [&](const char* option) { return given(app, option); };
    const auto refuse = [&](std::initializer_list<const char*> options, const std::string& mode) {
        words.refuse(options, mode);
    };
    const char* const modeOptions[] = {"--to",      "--list",         "--new-volume", "--check",
                                       "--extract", "--export-image", "--insert",     "--rename",
                                       "--purge",   "--pack",         "--set-label",  "--textconv"};
    const auto modes = std::count_if(std::begin(modeOptions), std::end(modeOptions), has);
    if (modes == 0) {
        throw words.noMode();
    }
    if (modes > 1) {
        throw UsageError{"only one of --to, --list, --new-volume, --check, --extract, --export-image, --insert, "
                         "--rename, --purge, --pack, --set-label and --textconv can be given"};
    }
    const bool bareInsert = options.mode == Mode::Insert && options.bare;
    if (options.mode != Mode::Extract && options.mode != Mode::Insert) {
        refuse({"--bare"}, "anything but --extract and --insert");
    }
    if (options.mode != Mode::Extract) {
        refuse({"--form"}, "anything but --extract");
    }
    if (has("--form") && has("--bare")) {
        throw UsageError{"--bare is --form bare; give one of them"};
    }
    if (!has("--new-volume")) {
        refuse({"--label", "--blocks", "--directory-blocks", "--medium"}, "anything but --new-volume");
    }
    if (options.mode != Mode::ToVolume && !bareInsert) {
        refuse({"--name"}, "anything but --to lif and --insert --bare");
    }
    if (!bareInsert) {
        refuse({"--type"}, "anything but --insert --bare");
    }
    if (options.mode != Mode::Insert) {
        refuse({"--replace"}, "anything but --insert");
    }
    const bool writesText =
        options.conversion.to == Format::Txt && (options.mode == Mode::Convert || options.mode == Mode::FromVolume);
    if (!writesText && options.mode != Mode::TextConv) {
        refuse({"--line-ending"}, "anything but --to txt and --textconv");
    }
    const bool needsInputs = options.mode != Mode::List && options.mode != Mode::NewVolume &&
                             options.mode != Mode::Export && options.mode != Mode::Pack;
    if (!needsInputs && !options.inputs.empty()) {
        throw UsageError{(words.commandForm() ? words.mode("") + " takes"
                                              : std::string("--list, --new-volume, --export-image and --pack take")) +
                         " no other file: " + options.inputs.front()};
    }
    if (needsInputs && options.inputs.empty()) {
        throw words.needs("INPUT is required");
    }
    const bool changesVolume = options.mode == Mode::Insert || options.mode == Mode::Rename ||
                               options.mode == Mode::Purge || options.mode == Mode::Pack ||
                               options.mode == Mode::SetLabel;
    if (changesVolume) {
        if (!has("--volume")) {
            throw UsageError{"this command needs --volume IMAGE"};
        }
        refuse({"--from", "--line-numbers", "--start", "--step", "--code-page", "-o"},
               "a command that changes a volume");
    }
}

// The operands and options each mode takes.
void checkModeOptions(Options& options, const CLI::App& app, const Wording& words)
{
    const auto has = [&](const char* option) { return given(app, option); };
    const auto refuse = [&](std::initializer_list<const char*> options, const std::string& mode) {
        words.refuse(options, mode);
    };
    const bool bareInsert = options.mode == Mode::Insert && options.bare;
    if (bareInsert && (!has("--name") || !has("--type") || options.inputs.size() != 1)) {
        throw UsageError{words.mode("--insert") +
                         " --bare puts one FILE on the volume, and needs --name NAME and --type TYPE"};
    }
    if (options.mode == Mode::Rename && options.inputs.size() != 2) {
        throw UsageError{words.commandForm() ? "rename takes OLD and NEW"
                                             : "--rename takes the file's name and its new name"};
    }
    if (options.mode == Mode::SetLabel) {
        if (options.inputs.size() != 1) {
            throw UsageError{words.mode("--set-label") + " takes one LABEL"};
        }
        options.label = options.inputs.front();
    }
    if (options.mode == Mode::TextConv) {
        if (options.inputs.size() != 1) {
            throw UsageError{words.mode("--textconv") + " takes one FILE"};
        }
        refuse({"--from", "--line-numbers", "--start", "--step", "-o", "--volume"}, "--textconv");
    }
    const std::string mode = options.mode == Mode::Check ? "--check" : "--list or --new-volume";
    switch (options.mode) {
    case Mode::List:
    case Mode::NewVolume:
    case Mode::Check:
        refuse({"--from", "--line-numbers", "--start", "--step", "--code-page", "-o", "--volume"}, mode);
        break;
    case Mode::ToVolume:
        if (!has("--volume")) {
            throw UsageError{"--to lif needs --volume IMAGE"};
        }
        refuse({"-o"}, "--to lif (the result goes into the --volume image)");
        if (has("--name") && options.inputs.size() > 1) {
            throw UsageError{"--name names one input; several inputs are named after their files"};
        }
        if (!has("--name") && std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end()) {
            throw UsageError{"standard input ('-') needs --name"};
        }
        break;
    case Mode::Export:
        if (!has("-o")) {
            throw UsageError{words.mode("--export-image") + " needs -o OUT, the plain image to write"};
        }
        refuse({"--from", "--line-numbers", "--start", "--step", "--code-page", "--volume"}, "--export-image");
        break;
    case Mode::Extract:
        if (!has("--volume")) {
            throw UsageError{"--extract needs --volume IMAGE"};
        }
        refuse({"--from", "--line-numbers", "--start", "--step", "--code-page"}, "--extract");
        break;
    case Mode::FromVolume:
        refuse({"--from", "--line-numbers"}, "--volume and --to " + std::string(formatName(options.conversion.to)));
        break;
    case Mode::Convert:
    case Mode::Insert:
    case Mode::Rename:
    case Mode::Purge:
    case Mode::Pack:
    case Mode::SetLabel:
    case Mode::TextConv:
        break;
    }
}

// The mode and the options that go with it; mistakes are usage errors.
void checkMode(Options& options, const CLI::App& app, const Wording& words)
{
    checkOneMode(options, app, words);
    checkModeOptions(options, app, words);
}

} // namespace

namespace {

// The values as the command line gives them, before they are read.
struct Texts {
    std::string to, from, startText = "10", stepText = "10", codePageName, blocksText, directoryBlocksText, medium,
                          typeText, formName, lineEnding;
    bool check = false, extract = false, insert = false, rename = false, purge = false, pack = false, textconv = false,
         setLabel = false;
};

// The options of every conversion: formats, numbering, code page, output.
void addConversionOptions(CLI::App& app, Texts& t, Options& options)
{
    app.add_option("--to", t.to,
                   "Format to write: txt, hp (HP BASIC ASCII), lif-ascii (a bare LIF ASCII file: the "
                   "records, then FFFF) or lif (into a disk image)")
        ->check(CLI::IsMember({"txt", "hp", "lif-ascii", "lif"}).description(""))
        ->type_name("{txt|hp|lif-ascii|lif}");
    app.add_option("--from", t.from, "Format to read (default: txt, or hp when converting to txt)")
        ->check(CLI::IsMember({"txt", "hp", "lif-ascii"}).description(""))
        ->type_name("{txt|hp|lif-ascii}");
    app.add_flag("--lenient", options.conversion.lenient,
                 "With --from hp: read a damaged program file (cut off, broken length words, a byte "
                 "a line cannot hold) by the lenient rule instead of refusing it");
    app.add_flag("--line-numbers", options.conversion.lineNumbers,
                 "Put a line number in front of every line of a TXT input");
    // Taken as text: CLI11 would read "010" as octal 8.
    app.add_option("--start", t.startText, "First line number (default 10)")->type_name("N");
    app.add_option("--step", t.stepText, "Line-number increment (default 10)")->type_name("N");
    app.add_option("--code-page", t.codePageName,
                   "Code page: windows-1250 to -1258, windows-874, -932, -936, -949, -950, ibm-437, "
                   "ibm-850, ISO-8859-1 to -15, hp-roman8, UTF-8, or another of their names; "
                   "default: the locale's Windows code page")
        ->type_name("NAME");
    app.add_option("-o,--output", options.output, "Output file, or folder for several inputs")->type_name("PATH");
    app.add_option("--line-ending", t.lineEnding,
                   "Line ends of the text written: crlf (the default) or lf (the default of "
                   "textconv)")
        ->check(CLI::IsMember({"crlf", "lf"}).description(""))
        ->type_name("{crlf|lf}");
    app.add_option("INPUT", options.inputs,
                   "Files to convert or check ('-' for standard input), or NAMEs of files in the image")
        ->type_name("FILE");
}

// The options of the disk image commands.
void addVolumeOptions(CLI::App& app, Texts& t, Options& options)
{
    app.add_option("--volume", options.volume,
                   "LIF disk image: --to txt|hp read the NAMEd files out of it, --to lif "
                   "writes the inputs into it; the image that --extract, --insert, --rename, "
                   "--purge, --pack and --set-label work on")
        ->type_name("IMAGE");
    app.add_option("--name", options.lifName,
                   "LIF file name of the one input written into the image (default: the input's file "
                   "name without its extension)")
        ->type_name("NAME");
    app.add_option("--list", options.volume, "List the files of a LIF disk image")->type_name("IMAGE");
    app.add_option("--new-volume", options.volume, "Create an empty LIF disk image")->type_name("IMAGE");
    app.add_option("--label", options.label, "Volume label of a new image (up to 6 characters; default blank)")
        ->type_name("LABEL");
    app.add_option("--blocks", t.blocksText,
                   "Blocks of 256 bytes of a new image (default 2464: a 3.5-inch "
                   "double-sided disk)")
        ->type_name("N");
    app.add_option("--medium", t.medium,
                   "The disk of an HP drive a new image stands for: 9121, 9122 (the default), 9122-hd or "
                   "9895")
        ->type_name("NAME");
    app.add_option("--directory-blocks", t.directoryBlocksText, "Directory blocks of a new image (default 14)")
        ->type_name("N");
    app.add_flag("--check", t.check, "Check HP BASIC ASCII files and LIF images: list every departure from the format");
    app.add_option("--export-image", options.volume,
                   "Write the volume of a disk image (plain or a capture) as a plain image "
                   "of its whole capacity to -o")
        ->type_name("IMAGE");
    app.add_flag("--extract", t.extract,
                 "Copy the NAMEd files out of the --volume image as LIF tools exchange single "
                 "files: the directory entry, then the blocks");
    app.add_flag("--bare", options.bare, "Extracting or inserting: the blocks alone (--form bare)");
    app.add_option("--form", t.formName,
                   "Form of the files extracted: lif (the directory entry, then the blocks; the default), "
                   "hfslif (a one-file volume labelled HFSLIF) or bare (the blocks alone)")
        ->check(CLI::IsMember({"lif", "hfslif", "bare"}).description(""))
        ->type_name("{lif|hfslif|bare}");
    app.add_flag("--insert", t.insert,
                 "Put the FILEs on the --volume image as LIF tools exchange single files (the "
                 "directory entry, then the blocks, or an HFSLIF volume), under their own name, type and "
                 "date");
    app.add_option("--type", t.typeText,
                   "Type of bare blocks inserted, by name as list shows it (ASCII, PROG, BDAT, "
                   "BIN, SYSTM, DATA, CODE, TEXT, BASIC71, ...) or as four hexadecimal digits")
        ->type_name("TYPE");
    app.add_flag("--replace", options.replace, "Inserting: replace a file of the same name and type");
    app.add_flag("--rename", t.rename, "Rename the file OLD of the --volume image to NEW");
    app.add_flag("--purge", t.purge, "Remove the NAMEd files from the --volume image");
    app.add_flag("--pack", t.pack,
                 "Move the files of the --volume image towards its start, in their order, so that "
                 "the free space is one gap");
    app.add_flag("--set-label", t.setLabel, "Write LABEL as the label of the --volume image (up to 6 characters)");
    app.add_flag("--textconv", t.textconv,
                 "Write FILE as a diff should show it: a program file as its text, a disk image "
                 "as its catalogue and its ASCII programs, anything else unchanged");
}

// Parses the arguments (in their flag form) into the options added; a
// command's --help prints that command's help.
void parse(CLI::App& app, const std::vector<std::string>& arguments, const Command* command)
{
    if (command != nullptr && std::find_if(arguments.begin(), arguments.end(), [](const std::string& a) {
                                  return a == "--help" || a == "-h";
                              }) != arguments.end()) {
        std::fputs(commandHelp(*command, app).c_str(), stdout);
        throw EarlyExit{kExitOk};
    }
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        throw EarlyExit{app.exit(e)};
    } catch (const CLI::CallForVersion& e) {
        throw EarlyExit{app.exit(e)};
    } catch (const CLI::ParseError& e) {
        throw UsageError{e.what()};
    }
}

// The formats and the mode the options ask for; empty values refused.
void readMode(Options& options, Texts& t, const CLI::App& app)
{
    // An empty value given on purpose is a mistake, not "use the default".
    const auto given = [&](const char* option) { return app.count(option); };
    for (const auto& [name, value] : {std::pair{"--code-page", &t.codePageName}, std::pair{"-o", &options.output},
                                      std::pair{"--volume", &options.volume}, std::pair{"--name", &options.lifName}}) {
        if (given(name) > 0 && value->empty()) {
            throw UsageError{std::string("empty ") + name + " value"};
        }
    }
    if ((given("--list") > 0 || given("--new-volume") > 0 || given("--export-image") > 0) && options.volume.empty()) {
        throw UsageError{"empty IMAGE value"};
    }
    Conversion& conversion = options.conversion;
    const auto format = [](const std::string& name) {
        return name == "txt" ? Format::Txt : name == "lif-ascii" ? Format::LifAscii : Format::Hp;
    };
    conversion.to = format(t.to);
    conversion.from = t.from.empty() ? (t.to == "txt" ? Format::Hp : Format::Txt) : format(t.from);
    options.mode = given("--export-image") > 0 ? Mode::Export
                   : given("--list") > 0       ? Mode::List
                   : given("--new-volume") > 0 ? Mode::NewVolume
                   : t.check                   ? Mode::Check
                   : t.extract                 ? Mode::Extract
                   : t.insert                  ? Mode::Insert
                   : t.rename                  ? Mode::Rename
                   : t.purge                   ? Mode::Purge
                   : t.pack                    ? Mode::Pack
                   : t.setLabel                ? Mode::SetLabel
                   : t.textconv                ? Mode::TextConv
                   : t.to == "lif"             ? Mode::ToVolume
                   : given("--volume") > 0     ? Mode::FromVolume
                                               : Mode::Convert;
}

// The values of the options the mode takes, read and checked.
void readValues(Options& options, Texts& t, const CLI::App& app)
{
    const auto given = [&](const char* option) { return app.count(option); };
    Conversion& conversion = options.conversion;
    options.form = t.formName == "hfslif"                 ? ExchangeForm::Hfslif
                   : t.formName == "bare" || options.bare ? ExchangeForm::Bare
                                                          : ExchangeForm::Entry;
    options.bare = options.form == ExchangeForm::Bare;
    options.lf = t.lineEnding.empty() ? options.mode == Mode::TextConv : t.lineEnding == "lf";
    if (given("--type") > 0) {
        const auto type = lif::typeNamed(t.typeText);
        if (!type) {
            throw UsageError{"invalid --type value '" + t.typeText +
                             "': a type name as --list shows it (ASCII, PROG, BDAT, BIN, SYSTM, DATA, CODE, TEXT, "
                             "BASIC71, ...) or four hexadecimal digits other than 0000 and FFFF"};
        }
        options.type = *type;
    }
    if (conversion.lenient && (options.mode != Mode::Convert || conversion.from != Format::Hp)) {
        throw UsageError{"--lenient reads damaged program files; it goes only with --from hp (--to txt or hp)"};
    }
    if (conversion.lineNumbers && conversion.from != Format::Txt) {
        throw UsageError{"--line-numbers numbers a TXT input; it cannot be used with --from " +
                         std::string(formatName(conversion.from))};
    }
    conversion.start = parseLineNumber("--start", t.startText);
    conversion.step = parseLineNumber("--step", t.stepText);
    options.blocks = parseCount("--blocks", t.blocksText, lif::kDefaultBlocks);
    if (given("--medium") > 0) {
        if (given("--blocks") > 0) {
            throw UsageError{"--medium and --blocks cannot be given together"};
        }
        const auto* known = std::find_if(std::begin(lif::kMedia), std::end(lif::kMedia),
                                         [&](const lif::Medium& m) { return t.medium == m.name; });
        if (known == std::end(lif::kMedia)) {
            throw UsageError{"invalid --medium value '" + t.medium + "': 9121, 9122, 9122-hd or 9895"};
        }
        options.blocks = known->blocks;
    }
    options.directoryBlocks = parseCount("--directory-blocks", t.directoryBlocksText, lif::kDefaultDirectoryBlocks);
    try {
        options.codePage = t.codePageName.empty() ? CodePage::fromEnvironment() : CodePage::named(t.codePageName);
    } catch (const Failure& e) {
        throw UsageError{"invalid --code-page value '" + t.codePageName + "': " + e.what()};
    }
}

// Several results need a folder; standard input converts alone.
void checkOutputs(const Options& options)
{
    const bool severalResults =
        options.inputs.size() > 1 &&
        (options.mode == Mode::Convert || options.mode == Mode::FromVolume || options.mode == Mode::Extract);
    if (severalResults) {
        std::error_code error;
        if (options.output.empty()) {
            throw UsageError{"several inputs need -o naming the folder for the results"};
        }
        if (!fs::is_directory(pathOf(options.output), error)) {
            throw UsageError{"with several inputs -o must name an existing folder: " + options.output};
        }
    }
    if (options.inputs.size() > 1 && options.mode == Mode::Convert &&
        std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end()) {
        throw UsageError{"standard input ('-') can only be converted on its own"};
    }
}

} // namespace

Options parseOptions(int argc, char** argv)
{
    Texts t;
    Options options;
    CLI::App app{kDescription, kProgram};
    app.footer(kFooter);
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->column_width(30);
    app.formatter(formatter);
    addConversionOptions(app, t, options);
    addVolumeOptions(app, t, options);
    app.set_version_flag("--version", std::string(kProgram) + " " + VARNOOK_VERSION);
    // The flag forms of the commands keep working, out of --help's list.
    for (const char* flag : {"--list", "--new-volume", "--check", "--export-image", "--extract", "--insert", "--rename",
                             "--purge", "--pack", "--set-label", "--textconv", "--volume"}) {
        app.get_option(flag)->group("");
    }
    std::vector<std::string> arguments(argv, argv + argc);
    const Command* command = inFlagForm(arguments, app);
    try {
        parse(app, arguments, command);
        readMode(options, t, app);
        checkMode(options, app, Wording(app, command, std::vector<std::string>(argv, argv + argc)));
        readValues(options, t, app);
        checkOutputs(options);
    } catch (UsageError& e) {
        if (command != nullptr) {
            e.help = std::string(command->name) + " --help";
        }
        throw;
    }
    return options;
}

} // namespace varnook::cli
