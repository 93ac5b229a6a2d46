// varnook-convert's command line: the options, the mode they ask for and
// the mistakes among them, which are usage errors.

#include "options.h"

#include "core/base/failure.h"
#include "core/lif/lif.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string>

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
                           "standard output; with several inputs -o names an existing folder and each\n"
                           "result is named after its input with the extension .txt or .asc.\n"
                           "\n"
                           "  varnook-convert --to {txt|hp|lif-ascii} [--from {txt|hp|lif-ascii}] [options] INPUT...\n"
                           "  varnook-convert --list IMAGE\n"
                           "  varnook-convert --to {txt|hp|lif-ascii} --volume IMAGE [-o PATH] [--code-page NAME]\n"
                           "                  NAME...\n"
                           "  varnook-convert --to lif --volume IMAGE [--from {txt|hp|lif-ascii}] [--name NAME]\n"
                           "                  [--line-numbers] [--start N] [--step N] [--code-page NAME] INPUT...\n"
                           "  varnook-convert --new-volume IMAGE [--label LABEL] [--medium NAME | --blocks N]\n"
                           "                  [--directory-blocks N]\n"
                           "  varnook-convert --extract --volume IMAGE [--form {lif|hfslif|bare}] [-o PATH] NAME...\n"
                           "  varnook-convert --insert --volume IMAGE [--replace] FILE...\n"
                           "  varnook-convert --insert --volume IMAGE --bare --name NAME --type TYPE [--replace] FILE\n"
                           "  varnook-convert --rename --volume IMAGE OLD NEW\n"
                           "  varnook-convert --purge --volume IMAGE NAME...\n"
                           "  varnook-convert --pack --volume IMAGE\n"
                           "  varnook-convert --set-label --volume IMAGE LABEL\n"
                           "  varnook-convert --export-image IMAGE -o OUT\n"
                           "  varnook-convert --check FILE...\n"
                           "  varnook-convert --textconv [--line-ending {crlf|lf}] FILE";

const char* kFooter = "Examples:\n"
                      "  varnook-convert --to txt PROG.asc > prog.txt\n"
                      "  varnook-convert --to hp --line-numbers --start 100 --step 10 prog.txt -o PROG.asc\n"
                      "  varnook-convert --to txt -o text/ *.asc\n"
                      "  varnook-convert --list disk.lif\n"
                      "  varnook-convert --to txt --volume disk.lif PROG > prog.txt\n"
                      "  varnook-convert --to lif --volume disk.lif --name PROG prog.txt\n"
                      "  varnook-convert --extract --volume disk.lif -o files/ PROG DATA1\n"
                      "  varnook-convert --insert --volume other.lif files/PROG files/DATA1\n"
                      "  varnook-convert --rename --volume disk.lif PROG PROG_OLD\n"
                      "  varnook-convert --purge --volume disk.lif PROG_OLD && varnook-convert --pack --volume "
                      "disk.lif\n"
                      "  git config diff.hpbasic.textconv \"varnook-convert --textconv\"\n"
                      "\n"
                      "A NAME in a volume is written as --list shows it: a byte that is unsafe in a file\n"
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

// The mode and the options that go with it; mistakes are usage errors.
void checkMode(Options& options, const CLI::App& app)
{
    const auto has = [&](const char* option) { return app.count(option) > 0; };
    const auto refuse = [&](std::initializer_list<const char*> options, const std::string& mode) {
        for (const char* option : options) {
            if (has(option)) {
                throw UsageError{std::string(option) + " cannot be used with " + mode};
            }
        }
    };
    const char* const modeOptions[] = {"--to",      "--list",         "--new-volume", "--check",
                                       "--extract", "--export-image", "--insert",     "--rename",
                                       "--purge",   "--pack",         "--set-label",  "--textconv"};
    const auto modes = std::count_if(std::begin(modeOptions), std::end(modeOptions), has);
    if (modes == 0) {
        throw UsageError{"--to is required (or --list, --new-volume, --check, --extract, --export-image, --insert, "
                         "--rename, --purge, --pack, --set-label or --textconv)"};
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
        throw UsageError{"--list, --new-volume, --export-image and --pack take no other file: " +
                         options.inputs.front()};
    }
    if (needsInputs && options.inputs.empty()) {
        throw UsageError{"INPUT is required"};
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
    if (bareInsert && (!has("--name") || !has("--type") || options.inputs.size() != 1)) {
        throw UsageError{"--insert --bare puts one FILE on the volume, and needs --name NAME and --type TYPE"};
    }
    if (options.mode == Mode::Rename && options.inputs.size() != 2) {
        throw UsageError{"--rename takes the file's name and its new name"};
    }
    if (options.mode == Mode::SetLabel) {
        if (options.inputs.size() != 1) {
            throw UsageError{"--set-label takes one LABEL"};
        }
        options.label = options.inputs.front();
    }
    if (options.mode == Mode::TextConv) {
        if (options.inputs.size() != 1) {
            throw UsageError{"--textconv takes one FILE"};
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
            throw UsageError{"--export-image needs -o OUT, the plain image to write"};
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

} // namespace

Options parseOptions(int argc, char** argv)
{
    std::string to;
    std::string from;
    std::string startText = "10";
    std::string stepText = "10";
    std::string codePageName;
    std::string blocksText;
    std::string directoryBlocksText;
    std::string medium;
    bool check = false;
    bool extract = false;
    bool insert = false;
    bool rename = false;
    bool purge = false;
    bool pack = false;
    bool textconv = false;
    bool setLabel = false;
    std::string typeText;
    std::string formName;
    std::string lineEnding;
    Options options;
    CLI::App app{kDescription, kProgram};
    app.footer(kFooter);
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->column_width(30);
    app.formatter(formatter);
    app.add_option("--to", to,
                   "Format to write: txt, hp (HP BASIC ASCII), lif-ascii (a bare LIF ASCII file: the "
                   "records, then FFFF) or lif (into --volume)")
        ->check(CLI::IsMember({"txt", "hp", "lif-ascii", "lif"}).description(""))
        ->type_name("{txt|hp|lif-ascii|lif}");
    app.add_option("--from", from, "Format to read (default: hp for --to txt, else txt)")
        ->check(CLI::IsMember({"txt", "hp", "lif-ascii"}).description(""))
        ->type_name("{txt|hp|lif-ascii}");
    app.add_flag("--lenient", options.conversion.lenient,
                 "With --from hp: read a damaged program file (cut off, broken length words, a byte "
                 "a line cannot hold) by the lenient rule instead of refusing it");
    app.add_flag("--line-numbers", options.conversion.lineNumbers,
                 "Put a line number in front of every line of a TXT input");
    // Taken as text: CLI11 would read "010" as octal 8.
    app.add_option("--start", startText, "First line number (default 10)")->type_name("N");
    app.add_option("--step", stepText, "Line-number increment (default 10)")->type_name("N");
    app.add_option("--code-page", codePageName,
                   "ICU converter name of the code page (windows-1252, windows-932, "
                   "hp-roman8, ...); default: the locale's Windows code page")
        ->type_name("NAME");
    app.add_option("-o,--output", options.output, "Output file, or folder for several inputs")->type_name("PATH");
    app.add_option("--volume", options.volume,
                   "LIF disk image: --to txt|hp read the NAMEd files out of it, --to lif "
                   "writes the inputs into it; the image that --extract, --insert, --rename, "
                   "--purge, --pack and --set-label work on")
        ->type_name("IMAGE");
    app.add_option("--name", options.lifName,
                   "LIF file name for the one input of --to lif (default: the input's file name "
                   "without its extension)")
        ->type_name("NAME");
    app.add_option("--list", options.volume, "List the files of a LIF disk image")->type_name("IMAGE");
    app.add_option("--new-volume", options.volume, "Create an empty LIF disk image")->type_name("IMAGE");
    app.add_option("--label", options.label, "Volume label of --new-volume (up to 6 characters; default blank)")
        ->type_name("LABEL");
    app.add_option("--blocks", blocksText,
                   "Blocks of 256 bytes of --new-volume (default 2464: a 3.5-inch "
                   "double-sided disk)")
        ->type_name("N");
    app.add_option("--medium", medium,
                   "The disk of an HP drive for --new-volume: 9121, 9122 (the default), 9122-hd or "
                   "9895")
        ->type_name("NAME");
    app.add_option("--directory-blocks", directoryBlocksText, "Directory blocks of --new-volume (default 14)")
        ->type_name("N");
    app.add_flag("--check", check, "Check HP BASIC ASCII files and LIF images: list every departure from the format");
    app.add_option("--export-image", options.volume,
                   "Write the volume of a disk image (plain or a capture) as a plain image "
                   "of its whole capacity to -o")
        ->type_name("IMAGE");
    app.add_flag("--extract", extract,
                 "Copy the NAMEd files out of the --volume image as LIF tools exchange single "
                 "files: the directory entry, then the blocks");
    app.add_flag("--bare", options.bare, "With --extract and --insert: the blocks alone (--form bare)");
    app.add_option("--form", formName,
                   "With --extract: lif (the directory entry, then the blocks; the default), hfslif (a "
                   "one-file volume labelled HFSLIF) or bare (the blocks alone)")
        ->check(CLI::IsMember({"lif", "hfslif", "bare"}).description(""))
        ->type_name("{lif|hfslif|bare}");
    app.add_flag("--insert", insert,
                 "Put the FILEs on the --volume image as LIF tools exchange single files (the "
                 "directory entry, then the blocks, or an HFSLIF volume), under their own name, type and "
                 "date");
    app.add_option("--type", typeText,
                   "With --insert --bare: the file type, by name as --list shows it (ASCII, PROG, BDAT, "
                   "BIN, SYSTM, DATA, CODE, TEXT, BASIC71, ...) or as four hexadecimal digits")
        ->type_name("TYPE");
    app.add_flag("--replace", options.replace, "With --insert: replace a file of the same name and type");
    app.add_flag("--rename", rename, "Rename the file OLD of the --volume image to NEW");
    app.add_flag("--purge", purge, "Remove the NAMEd files from the --volume image");
    app.add_flag("--pack", pack,
                 "Move the files of the --volume image towards its start, in their order, so that "
                 "the free space is one gap");
    app.add_flag("--set-label", setLabel, "Write LABEL as the label of the --volume image (up to 6 characters)");
    app.add_flag("--textconv", textconv,
                 "Write FILE as a diff should show it: a program file as its text, a disk image "
                 "as its catalogue and its ASCII programs, anything else unchanged");
    app.add_option("--line-ending", lineEnding,
                   "Line ends of the text written: crlf (the default) or lf (the default of "
                   "--textconv)")
        ->check(CLI::IsMember({"crlf", "lf"}).description(""))
        ->type_name("{crlf|lf}");
    app.add_option("INPUT", options.inputs,
                   "Files to convert or check ('-' for standard input), or NAMEs of files in the --volume")
        ->type_name("FILE");
    app.set_version_flag("--version", std::string(kProgram) + " " + VARNOOK_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        throw EarlyExit{app.exit(e)};
    } catch (const CLI::CallForVersion& e) {
        throw EarlyExit{app.exit(e)};
    } catch (const CLI::ParseError& e) {
        throw UsageError{e.what()};
    }

    // An empty value given on purpose is a mistake, not "use the default".
    const auto given = [&](const char* option) { return app.count(option); };
    for (const auto& [name, value] : {std::pair{"--code-page", &codePageName}, std::pair{"-o", &options.output},
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
    conversion.to = format(to);
    conversion.from = from.empty() ? (to == "txt" ? Format::Hp : Format::Txt) : format(from);
    options.mode = given("--export-image") > 0 ? Mode::Export
                   : given("--list") > 0       ? Mode::List
                   : given("--new-volume") > 0 ? Mode::NewVolume
                   : check                     ? Mode::Check
                   : extract                   ? Mode::Extract
                   : insert                    ? Mode::Insert
                   : rename                    ? Mode::Rename
                   : purge                     ? Mode::Purge
                   : pack                      ? Mode::Pack
                   : setLabel                  ? Mode::SetLabel
                   : textconv                  ? Mode::TextConv
                   : to == "lif"               ? Mode::ToVolume
                   : given("--volume") > 0     ? Mode::FromVolume
                                               : Mode::Convert;
    checkMode(options, app);
    options.form = formName == "hfslif"                 ? ExchangeForm::Hfslif
                   : formName == "bare" || options.bare ? ExchangeForm::Bare
                                                        : ExchangeForm::Entry;
    options.bare = options.form == ExchangeForm::Bare;
    options.lf = lineEnding.empty() ? options.mode == Mode::TextConv : lineEnding == "lf";
    if (given("--type") > 0) {
        const auto type = lif::typeNamed(typeText);
        if (!type) {
            throw UsageError{"invalid --type value '" + typeText +
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
    conversion.start = parseLineNumber("--start", startText);
    conversion.step = parseLineNumber("--step", stepText);
    options.blocks = parseCount("--blocks", blocksText, lif::kDefaultBlocks);
    if (given("--medium") > 0) {
        if (given("--blocks") > 0) {
            throw UsageError{"--medium and --blocks cannot be given together"};
        }
        const auto* known = std::find_if(std::begin(lif::kMedia), std::end(lif::kMedia),
                                         [&](const lif::Medium& m) { return medium == m.name; });
        if (known == std::end(lif::kMedia)) {
            throw UsageError{"invalid --medium value '" + medium + "': 9121, 9122, 9122-hd or 9895"};
        }
        options.blocks = known->blocks;
    }
    options.directoryBlocks = parseCount("--directory-blocks", directoryBlocksText, lif::kDefaultDirectoryBlocks);
    try {
        options.codePage = codePageName.empty() ? CodePage::fromEnvironment() : CodePage::named(codePageName);
    } catch (const Failure& e) {
        throw UsageError{"invalid --code-page value '" + codePageName + "': " + e.what()};
    }
    const bool severalResults =
        options.inputs.size() > 1 &&
        (options.mode == Mode::Convert || options.mode == Mode::FromVolume || options.mode == Mode::Extract);
    if (severalResults) {
        std::error_code error;
        if (options.output.empty()) {
            throw UsageError{"several inputs need -o naming the folder for the results"};
        }
        if (!fs::is_directory(options.output, error)) {
            throw UsageError{"with several inputs -o must name an existing folder: " + options.output};
        }
    }
    if (options.inputs.size() > 1 && options.mode == Mode::Convert &&
        std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end()) {
        throw UsageError{"standard input ('-') can only be converted on its own"};
    }
    return options;
}

} // namespace varnook::cli
