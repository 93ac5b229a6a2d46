// varnook-convert: the conversions of the Varnook window for scripts and
// batch work.

#include "converter.h"
#include "options.h"
#include "process.h"

#include "core/text/code_page.h"
#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/io/os.h"
#include "core/lif/lif.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace varnook;
using namespace varnook::cli;

namespace {

constexpr std::size_t kProgressThreshold = 1024 * 1024;

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
    fs::path name = pathOf(input).filename();
    // .lif for a bare LIF ASCII file, as the window's file types name it.
    name.replace_extension(to == Format::Txt ? ".txt" : to == Format::Hp ? ".asc" : ".lif");
    return name;
}

// Runs the step; a failure in it is about the file.
template <class Step> auto blamingFile(const std::string& file, Step step)
{
    try {
        return step();
    } catch (const BrokenPipe&) {
        endQuietly();
    } catch (const Failure& e) {
        throw FileFailure{file, e.what()};
    } catch (const std::bad_alloc&) {
        throw FileFailure{file, "not enough memory"};
    }
}

// Converts input number index; results written so far, with the input each
// came from, guard against overwriting one.
void convertOne(const Options& options, std::size_t index, std::map<fs::path, std::string>& written)
{
    const std::string& input = options.inputs[index];
    // Where the result goes, decided before anything is read.
    std::optional<fs::path> target;
    if (!options.output.empty()) {
        std::error_code error;
        const bool folder = fs::is_directory(pathOf(options.output), error);
        if (!folder && options.output.back() == '/') {
            throw FileFailure{options.output, "the folder does not exist"};
        }
        target = folder ? pathOf(options.output) / resultName(input, options.conversion.to) : pathOf(options.output);
        for (const auto& other : options.inputs) {
            if (other != "-" && samePlace(*target, pathOf(other))) {
                throw FileFailure{input, "the result would overwrite the input " + other + "; choose another -o"};
            }
        }
        for (const auto& [done, from] : written) {
            if (samePlace(*target, done)) {
                throw FileFailure{input, "the result would overwrite " + done.string() + ", the result of " + from};
            }
        }
    }
    // Opened first, so that an output that cannot be written fails before
    // any work; it replaces the target only when committed.
    std::optional<ReplacementFile> outputFile;
    if (target) {
        blamingFile(target->string(), [&] {
            refuseReplacingImage(*target);
            outputFile.emplace(*target);
        });
    }
    const Bytes result = blamingFile(input, [&] {
        Bytes bytes = input == "-" ? readStreamBytes(os::standardInput()) : readFileBytes(pathOf(input));
        refuseFormatMismatch(bytes, options.conversion.from);
        const std::size_t count = options.inputs.size();
        const bool showProgress = errorsGoToTerminal() && (count > 1 || bytes.size() > kProgressThreshold);
        std::string label = input;
        if (count > 1) { // appended piece by piece: GCC 12 warns wrongly about "[" + string
            std::string place = "[";
            place += std::to_string(index + 1);
            place += '/';
            place += std::to_string(count);
            label.insert(0, place + "] ");
        }
        TerminalProgress progress(label, showProgress);
        return withLineEnds(convert(std::move(bytes), options.conversion, options.codePage, &progress), options.lf);
    });
    if (outputFile) {
        blamingFile(target->string(), [&] {
            outputFile->write(result);
            outputFile->commit();
        });
        written.emplace(*target, input);
    } else {
        blamingFile("standard output", [&] { writeStreamBytes(os::standardOutput(), result); });
    }
}

} // namespace

namespace varnook::cli {

void reportFailure(const std::string& input, const std::string& reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, input.c_str(), reason.c_str());
}

int finishOutput(int status)
{
    if (std::fflush(stdout) != 0) {
        if (errno == EPIPE) {
            endQuietly();
        }
        return kExitFailed;
    }
    return status;
}

void refuseReplacingImage(const fs::path& target)
{
    if (const auto image = lif::volumeSummary(target)) {
        throw Failure("the result would replace " + target.string() + ", " + *image + "; choose another -o");
    }
}

void writeResult(const std::string& target, ByteView bytes)
{
    if (target.empty()) {
        try {
            writeStreamBytes(os::standardOutput(), bytes);
        } catch (const BrokenPipe&) {
            endQuietly();
        }
    } else {
        refuseReplacingImage(pathOf(target));
        replaceFile(pathOf(target), bytes);
    }
}

int run(int argc, char** argv)
{
    prepareProcess();
    removeTemporaryFilesOnSignals();
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const EarlyExit& exit) {
        return exit.status;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\nTry '%s %s' for more information.\n", kProgram, e.message.c_str(), kProgram,
                     e.help.c_str());
        return kExitUsage;
    }
    switch (options.mode) {
    case Mode::List:
        return listVolume(options);
    case Mode::FromVolume:
        return readFromVolume(options);
    case Mode::ToVolume:
        return writeIntoVolume(options);
    case Mode::NewVolume:
        return createVolume(options);
    case Mode::Check:
        return checkFiles(options);
    case Mode::Extract:
        return extractFromVolume(options);
    case Mode::Export:
        return exportImage(options);
    case Mode::Insert:
        return insertIntoVolume(options);
    case Mode::Rename:
    case Mode::Purge:
    case Mode::Pack:
    case Mode::SetLabel:
        return changeVolume(options);
    case Mode::TextConv:
        return textConv(options);
    case Mode::Convert:
        break;
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

} // namespace varnook::cli
