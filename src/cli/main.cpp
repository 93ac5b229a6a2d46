// varnook-convert: the conversions of the Varnook window for scripts and
// batch work.

#include "converter.h"

#include "core/code_page.h"
#include "core/failure.h"
#include "core/file_io.h"

#include <CLI/CLI.hpp>

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

std::optional<Format> parseFormat(const std::string& text)
{
    if (text == "txt") {
        return Format::Txt;
    }
    if (text == "hp") {
        return Format::Hp;
    }
    return std::nullopt;
}

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
    TerminalProgress(std::string label, bool enabled) : label_(std::move(label)), enabled_(enabled) {}
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
        const int percent = static_cast<int>(std::min<std::size_t>(100, static_cast<std::size_t>(index) * 100 / total_));
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

const char* kDescription =
    "Converts BASIC programs between HP BASIC ASCII program files and plain text\n"
    "(CR LF lines in the code page), byte for byte as the Varnook window does.\n"
    "INPUT '-' is standard input. With one input and no -o the result goes to\n"
    "standard output; with several inputs -o names an existing folder and each\n"
    "result is named after its input with the extension .txt or .asc.";

const char* kFooter =
    "Examples:\n"
    "  varnook-convert --to txt PROG.asc > prog.txt\n"
    "  varnook-convert --to hp --line-numbers --start 100 --step 10 prog.txt -o PROG.asc\n"
    "  varnook-convert --to txt -o text/ *.asc\n"
    "\n"
    "Exit status: 0 when every input was converted, 1 when any failed, 2 for a usage error.";

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    removeTemporaryFilesOnSignals();

    std::string toText;
    std::string fromText;
    bool lineNumbers = false;
    std::string startText = "10";
    std::string stepText = "10";
    std::string codePageName;
    std::string output;
    std::vector<std::string> inputs;

    CLI::App app{kDescription, kProgram};
    app.footer(kFooter);
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->column_width(30);
    app.formatter(formatter);
    CLI::Option* toOption = app.add_option("--to", toText, "Format to write: txt or hp (HP BASIC ASCII)")->required()->type_name("{txt|hp}");
    CLI::Option* fromOption = app.add_option("--from", fromText, "Format to read (default: the other one)")->type_name("{txt|hp}");
    app.add_flag("--line-numbers", lineNumbers, "Put a line number in front of every line of a TXT input");
    app.add_option("--start", startText, "First line number (default 10)")->type_name("N");
    app.add_option("--step", stepText, "Line-number increment (default 10)")->type_name("N");
    CLI::Option* codePageOption = app.add_option("--code-page", codePageName,
                   "ICU converter name of the code page (windows-1252, windows-932, hp-roman8, ...);"
                   " default: the locale's Windows code page")
        ->type_name("NAME");
    CLI::Option* outputOption = app.add_option("-o,--output", output, "Output file, or folder for several inputs")->type_name("PATH");
    app.add_option("INPUT", inputs, "Files to convert ('-' for standard input)")->required()->type_name("FILE");
    app.set_version_flag("--version", std::string(kProgram) + " " + VARNOOK_VERSION);

    Conversion conversion;
    CodePage codePage = CodePage::named("windows-1252");
    try {
        try {
            app.parse(argc, argv);
        } catch (const CLI::CallForHelp& e) {
            return app.exit(e);
        } catch (const CLI::CallForVersion& e) {
            return app.exit(e);
        } catch (const CLI::ParseError& e) {
            throw UsageError{e.what()};
        }
        // An empty value given on purpose is a mistake, not "use the default".
        struct Given {
            const CLI::Option* option;
            const std::string* value;
            const char* name;
        };
        for (const Given& given : {Given{toOption, &toText, "--to"}, Given{fromOption, &fromText, "--from"},
                                   Given{codePageOption, &codePageName, "--code-page"},
                                   Given{outputOption, &output, "-o"}}) {
            if (given.option->count() > 0 && given.value->empty()) {
                throw UsageError{std::string("empty ") + given.name + " value"};
            }
        }
        const auto to = parseFormat(toText);
        if (!to) {
            throw UsageError{"invalid --to value '" + toText + "': txt or hp"};
        }
        conversion.to = *to;
        conversion.from = *to == Format::Txt ? Format::Hp : Format::Txt;
        if (!fromText.empty()) {
            const auto from = parseFormat(fromText);
            if (!from) {
                throw UsageError{"invalid --from value '" + fromText + "': txt or hp"};
            }
            conversion.from = *from;
        }
        conversion.lineNumbers = lineNumbers;
        if (lineNumbers && conversion.from == Format::Hp) {
            throw UsageError{"--line-numbers numbers a TXT input; it cannot be used with --from hp"};
        }
        conversion.start = parseLineNumber("--start", startText);
        conversion.step = parseLineNumber("--step", stepText);
        try {
            codePage = codePageName.empty() ? CodePage::fromEnvironment() : CodePage::named(codePageName);
        } catch (const Failure& e) {
            throw UsageError{"invalid --code-page value '" + codePageName + "': " + e.what()};
        }
        if (inputs.size() > 1) {
            if (output.empty()) {
                throw UsageError{"several inputs need -o naming the folder for the results"};
            }
            std::error_code error;
            if (!fs::is_directory(output, error)) {
                throw UsageError{"with several inputs -o must name an existing folder: " + output};
            }
            for (const auto& input : inputs) {
                if (input == "-") {
                    throw UsageError{"standard input ('-') can only be converted on its own"};
                }
            }
        }
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, e.message.c_str(), kProgram);
        return kExitUsage;
    }

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    std::map<fs::path, std::string> written; // result -> the input it came from
    int status = kExitOk;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string& input = inputs[i];
        std::string about = input; // the file a failure is reported for
        try {
            // Where the result goes, decided before anything is read.
            std::optional<fs::path> target;
            if (!output.empty()) {
                std::error_code error;
                const bool folder = fs::is_directory(output, error);
                if (!folder && output.back() == '/') {
                    about = output;
                    throw Failure("the folder does not exist");
                }
                target = folder ? fs::path(output) / resultName(input, conversion.to) : fs::path(output);
                for (const auto& other : inputs) {
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
            const bool showProgress = terminal && (inputs.size() > 1 || bytes.size() > kProgressThreshold);
            std::string label = input;
            if (inputs.size() > 1) {
                label = "[" + std::to_string(i + 1) + "/" + std::to_string(inputs.size()) + "] " + input;
            }
            TerminalProgress progress(label, showProgress);
            const Bytes result = convert(std::move(bytes), conversion, codePage, &progress);
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
            reportFailure(about, e.what());
            status = kExitFailed;
        } catch (const std::bad_alloc&) {
            reportFailure(about, "not enough memory");
            status = kExitFailed;
        }
    }
    return status;
}
