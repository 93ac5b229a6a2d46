#pragma once

#include "converter.h"

#include "core/text/code_page.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnook::cli {

enum class Mode {
    Convert,
    FromVolume,
    ToVolume,
    List,
    NewVolume,
    Check,
    Extract,
    Export,
    Insert,
    Rename,
    Purge,
    Pack,
    SetLabel,
    TextConv
};

// The forms a file of a volume travels in: its directory entry then its
// blocks, a one-file HFSLIF volume, or the blocks alone.
enum class ExchangeForm { Entry, Hfslif, Bare };

// What the command line asks for, checked.
struct Options {
    Mode mode = Mode::Convert;
    Conversion conversion;
    CodePage codePage = CodePage::named("windows-1252");
    std::string output;
    std::vector<std::string> inputs; // files, or the names of files in the volume
    std::string volume; // the image of --volume, --list or --new-volume
    std::string lifName;
    std::string label;
    bool bare = false; // --extract, --insert: the blocks alone
    ExchangeForm form = ExchangeForm::Entry; // --extract
    bool replace = false; // --insert: a file of the same name and type is replaced
    std::uint16_t type = 0; // --insert --bare
    bool lf = false; // text written with LF line ends instead of CR LF
    std::uint32_t blocks = 0;
    std::uint32_t directoryBlocks = 0;
};

inline constexpr const char* kProgram = "varnook-convert";
// One set of exit statuses: done, a file failed, a usage error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A mistake on the command line.
struct UsageError {
    std::string message;
    std::string help = "--help"; // what tells more: a command's own help in the command form
};
// --help and --version: printed, and the program ends with the status.
struct EarlyExit {
    int status;
};

// The options of the command line, checked. Throws UsageError or EarlyExit.
Options parseOptions(int argc, char** argv);

// A failure, and the file it is about.
struct FileFailure {
    std::string file;
    std::string reason;
};

// The volume modes. Each returns the exit status; failures of single files
// are reported on standard error as they happen.
int listVolume(const Options& options);
int readFromVolume(const Options& options);
int writeIntoVolume(const Options& options);
int createVolume(const Options& options);
int checkFiles(const Options& options);
int extractFromVolume(const Options& options);
int exportImage(const Options& options);
int insertIntoVolume(const Options& options);
int changeVolume(const Options& options); // --rename, --purge, --pack, --set-label
int textConv(const Options& options);

// The text with its CR LF line ends as LF when asked.
Bytes withLineEnds(Bytes text, bool lf);

// Shared with the conversions.
void reportFailure(const std::string& file, const std::string& reason);
void writeResult(const std::string& target, ByteView bytes); // a file, or standard output when empty
// A converted file never replaces a disk image or capture: a Failure naming it.
void refuseReplacingImage(const std::filesystem::path& target);
// Flushes standard output: the status, or 1 when that failed (ending quietly
// when its reader has gone, `| head`).
int finishOutput(int status);

} // namespace varnook::cli
