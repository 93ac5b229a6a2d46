// varnook-convert: the conversions of the Varnook window for scripts and
// batch work.

#include "converter.h"

#include "core/code_page.h"
#include "core/failure.h"
#include "core/file_io.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace varnook;
using namespace varnook::cli;

namespace {

constexpr const char* kProgram = "varnook-convert";
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kProgressThreshold = 1024 * 1024;

struct UsageError {
    std::string message;
};

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

class TerminalProgress final : public ConversionProgress {
public:
    TerminalProgress(std::string label, bool enabled) : label_(std::move(label)), enabled_(enabled) { }
    ~TerminalProgress() override
    {
        if (shown_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

    void phase(const char* name, std::size_t total) override
    {
        phase_ = name;
        total_ = total == 0 ? 1 : total;
        percent_ = -1;
    }

    void reached(std::int32_t index) override
    {
        if (!enabled_) {
            return;
        }
        const int percent =
            static_cast<int>(std::min<std::size_t>(100, static_cast<std::size_t>(index) * 100 / total_));
        if (percent != percent_) {
            percent_ = percent;
            shown_ = true;
            std::fprintf(stderr, "\r\033[K%s: %s %s %d%%", kProgram, label_.c_str(), phase_, percent);
            std::fflush(stderr);
        }
    }

private:
    std::string label_;
    bool enabled_;
    bool shown_ = false;
    const char* phase_ = "";
    std::size_t total_ = 1;
    int percent_ = -1;
};

fs::path resultName(const std::string& input, Format to)
{
    fs::path name = fs::path(input).filename();
    name.replace_extension(to == Format::Txt ? ".txt" : ".asc");
    return name;
}

bool samePlace(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error)) {
        return fs::equivalent(a, b, error);
    }
    return fs::weakly_canonical(fs::absolute(a, error), error) == fs::weakly_canonical(fs::absolute(b, error), error);
}

void reportFailure(const std::string& input, const std::string& reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, input.c_str(), reason.c_str());
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
                           "(CR LF lines in the code page), byte for byte as the Varnook window does.\n"
                           "INPUT '-' is standard input. With one input and no -o the result goes to\n"
                           "standard output; with several inputs -o names an existing folder and each\n"
                           "result is named after its input with the extension .txt or .asc.";

const char* kFooter = "Examples:\n"
                      "  varnook-convert --to txt PROG.asc > prog.txt\n"
                      "  varnook-convert --to hp --line-numbers --start 100 --step 10 prog.txt -o PROG.asc\n"
                      "  varnook-convert --to txt -o text/ *.asc\n"
                      "\n"
                      "Exit status: 0 when every input was converted, 1 when any failed, 2 for a usage error.";

// What the command line asks for, checked.
struct Options {
    Conversion conversion;
    CodePage codePage = CodePage::named("windows-1252");
    std::string output;
    std::vector<std::string> inputs;
};

// --help and --version: printed, and the program ends with the status.
struct EarlyExit {
    int status;
};

Options parseOptions(int argc, char** argv)
{
    std::string to;
    std::string from;
    std::string startText = "10";
    std::string stepText = "10";
    std::string codePageName;
    Options options;
    CLI::App app{kDescription, kProgram};
    app.footer(kFooter);
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->column_width(30);
    app.formatter(formatter);
    const auto format = CLI::IsMember({"txt", "hp"});
    app.add_option("--to", to, "Format to write: txt or hp (HP BASIC ASCII)")
        ->required()
        ->check(format)
        ->type_name("{txt|hp}");
    app.add_option("--from", from, "Format to read (default: the other one)")->check(format)->type_name("{txt|hp}");
    app.add_flag("--line-numbers", options.conversion.lineNumbers,
                 "Put a line number in front of every line of a TXT input");
    // Taken as text: CLI11 would read "010" as octal 8.
    app.add_option("--start", startText, "First line number (default 10)")->type_name("N");
    app.add_option("--step", stepText, "Line-number increment (default 10)")->type_name("N");
    CLI::Option* codePageOption = app.add_option("--code-page", codePageName,
                                                 "ICU converter name of the code page (windows-1252, windows-932, "
                                                 "hp-roman8, ...); default: the locale's Windows code page")
                                      ->type_name("NAME");
    CLI::Option* outputOption =
        app.add_option("-o,--output", options.output, "Output file, or folder for several inputs")->type_name("PATH");
    app.add_option("INPUT", options.inputs, "Files to convert ('-' for standard input)")->required()->type_name("FILE");
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
    if (codePageOption->count() > 0 && codePageName.empty()) {
        throw UsageError{"empty --code-page value"};
    }
    if (outputOption->count() > 0 && options.output.empty()) {
        throw UsageError{"empty -o value"};
    }
    Conversion& conversion = options.conversion;
    conversion.to = to == "txt" ? Format::Txt : Format::Hp;
    conversion.from = from.empty() ? (conversion.to == Format::Txt ? Format::Hp : Format::Txt)
                                   : (from == "txt" ? Format::Txt : Format::Hp);
    if (conversion.lineNumbers && conversion.from == Format::Hp) {
        throw UsageError{"--line-numbers numbers a TXT input; it cannot be used with --from hp"};
    }
    conversion.start = parseLineNumber("--start", startText);
    conversion.step = parseLineNumber("--step", stepText);
    try {
        options.codePage = codePageName.empty() ? CodePage::fromEnvironment() : CodePage::named(codePageName);
    } catch (const Failure& e) {
        throw UsageError{"invalid --code-page value '" + codePageName + "': " + e.what()};
    }
    if (options.inputs.size() > 1) {
        std::error_code error;
        if (options.output.empty()) {
            throw UsageError{"several inputs need -o naming the folder for the results"};
        }
        if (!fs::is_directory(options.output, error)) {
            throw UsageError{"with several inputs -o must name an existing folder: " + options.output};
        }
        if (std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end()) {
            throw UsageError{"standard input ('-') can only be converted on its own"};
        }
    }
    return options;
}

// A failure, and the file it is about (an input, or the output).
struct FileFailure {
    std::string file;
    std::string reason;
};

// Converts input number index; results written so far, with the input each
// came from, guard against overwriting one.
void convertOne(const Options& options, std::size_t index, std::map<fs::path, std::string>& written)
{
    const std::string& input = options.inputs[index];
    std::string about = input;
    try {
        // Where the result goes, decided before anything is read.
        std::optional<fs::path> target;
        if (!options.output.empty()) {
            std::error_code error;
            const bool folder = fs::is_directory(options.output, error);
            if (!folder && options.output.back() == '/') {
                about = options.output;
                throw Failure("the folder does not exist");
            }
            target =
                folder ? fs::path(options.output) / resultName(input, options.conversion.to) : fs::path(options.output);
            for (const auto& other : options.inputs) {
                if (other != "-" && samePlace(*target, other)) {
                    throw Failure("the result would overwrite the input " + other + "; choose another -o");
                }
            }
            for (const auto& [done, from] : written) {
                if (samePlace(*target, done)) {
                    throw Failure("the result would overwrite " + done.string() + ", the result of " + from);
                }
            }
        }
        // Opened first, so that an output that cannot be written fails
        // before any work; it replaces the target only when committed.
        std::optional<ReplacementFile> outputFile;
        if (target) {
            about = target->string();
            outputFile.emplace(*target);
            about = input;
        }

        Bytes bytes = input == "-" ? readStreamBytes(STDIN_FILENO) : readFileBytes(input);
        const std::size_t count = options.inputs.size();
        const bool showProgress = ::isatty(STDERR_FILENO) == 1 && (count > 1 || bytes.size() > kProgressThreshold);
        const std::string label =
            count > 1 ? "[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] " + input : input;
        TerminalProgress progress(label, showProgress);
        const Bytes result = convert(std::move(bytes), options.conversion, options.codePage, &progress);
        if (outputFile) {
            about = target->string();
            outputFile->write(result);
            outputFile->commit();
            written.emplace(*target, input);
        } else {
            about = "standard output";
            writeStreamBytes(STDOUT_FILENO, result);
        }
    } catch (const Failure& e) {
        throw FileFailure{about, e.what()};
    } catch (const std::bad_alloc&) {
        throw FileFailure{about, "not enough memory"};
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    removeTemporaryFilesOnSignals();
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const EarlyExit& exit) {
        return exit.status;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, e.message.c_str(), kProgram);
        return kExitUsage;
    }
    std::map<fs::path, std::string> written; // result -> the input it came from
    int status = kExitOk;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        try {
            convertOne(options, i, written);
        } catch (const FileFailure& failure) {
            reportFailure(failure.file, failure.reason);
            status = kExitFailed;
        }
    }
    return status;
}
