// The volume modes of varnook-convert: LIF disk images.

#include "options.h"
#include "process.h"

#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/io/os.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace varnook::cli {
namespace {

// Says that opening the image rolled back a change that was cut off.
template <class Opened> const Opened& told(const std::string& image, const Opened& opened)
{
    if (!opened.recovery().empty()) {
        std::fprintf(stderr, "%s: %s: note: %s\n", kProgram, image.c_str(), opened.recovery().c_str());
    }
    return opened;
}

// The image opened for changes or for reading, or nothing when it cannot be
// (said). One to add files to must be sound.
template <class Opened> std::unique_ptr<Opened> openImage(const std::string& image, bool toAddTo = false)
{
    try {
        auto opened = std::make_unique<Opened>(pathOf(image));
        told(image, *opened);
        if (const std::string damage = opened->volume().damage(); toAddTo && !damage.empty()) {
            throw Failure(damage + "; nothing is written into a damaged volume");
        }
        return opened;
    } catch (const Failure& e) {
        reportFailure(image, e.what());
        return nullptr;
    }
}

// The catalogue as --list shows it: a line for each file, then the volume's.
std::string catalogue(const lif::Volume& volume)
{
    std::string text;
    char line[160];
    for (const auto& file : volume.files) {
        std::snprintf(line, sizeof line, "%-10s  %-7s  %8u  %s", lif::shownName(file.name).c_str(),
                      lif::typeName(file.type).c_str(), file.blocks, lif::formatDate(file.date).c_str());
        const std::string shared =
            file.sharesName ? "  ! entry @" + std::to_string(file.slot + 1) + ": another entry has this name" : "";
        text += line + (file.damage.empty() ? shared : "  ! " + file.damage) + "\n";
    }
    std::snprintf(line, sizeof line, "Volume %s: %zu files, %llu blocks free\n",
                  volume.label.empty() ? "(no label)" : lif::shownName(volume.label).c_str(), volume.files.size(),
                  static_cast<unsigned long long>(volume.freeBlocks()));
    return text + line;
}

// A volume as a diff shows it: its catalogue, then each ASCII program's
// text under a line "=== NAME ===" (CR LF lines).
Bytes volumeText(const Options& options, const lif::VolumeReader& reader)
{
    const lif::Volume& volume = reader.volume();
    std::string text;
    for (const char c : catalogue(volume)) {
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const auto& entry : volume.files) {
        if (entry.type != lif::kTypeAscii || !entry.damage.empty()) {
            continue;
        }
        text += "=== " + lif::shownName(entry.name) + " ===\r\n";
        try {
            const Bytes program = convert(textFromLines(readRecords(reader.fileBlocks(entry))),
                                          {Format::Txt, Format::Txt}, options.codePage);
            text.append(program.begin(), program.end());
        } catch (const Failure& e) {
            text += std::string("(not shown: ") + e.what() + ")\r\n";
        }
    }
    return Bytes(text.begin(), text.end());
}

} // namespace

int listVolume(const Options& options)
{
    const auto reader = openImage<lif::VolumeReader>(options.volume);
    if (!reader) {
        return kExitFailed;
    }
    std::fputs(catalogue(reader->volume()).c_str(), stdout);
    return finishOutput(kExitOk);
}

namespace {

// The file of the volume named as --list shows it, or by its entry (@N).
const lif::Entry& fileNamed(const lif::Volume& volume, const Options& options, const std::string& name)
{
    if (volume.findNamed(name) == nullptr && !name.starts_with('@')) {
        throw Failure("no such file in the volume " + options.volume);
    }
    const lif::Entry& entry = volume.named(name);
    if (!entry.damage.empty()) {
        throw Failure(entry.damage + "; it cannot be read");
    }
    return entry;
}

// Where the result for the file goes: the -o file, a file named after it in
// the -o folder (never outside it), or standard output ("").
std::string targetFor(const Options& options, const lif::Entry& entry, const char* extension)
{
    std::error_code error;
    std::string target = options.output;
    if (!options.output.empty() && fs::is_directory(pathOf(options.output), error)) {
        target = (pathOf(options.output) / pathOf(lif::shownName(entry.name) + extension)).string();
    }
    if (!target.empty() && samePlace(pathOf(target), pathOf(options.volume))) {
        throw Failure("the result would overwrite the volume image " + options.volume);
    }
    return target;
}

// Runs the step for each NAME, reporting failures as they come, all under
// one shared lock; the exit status.
template <class Step> int forEachName(const Options& options, Step step)
{
    const auto reader = openImage<lif::VolumeReader>(options.volume);
    if (!reader) {
        return kExitFailed;
    }
    int status = kExitOk;
    for (const auto& name : options.inputs) {
        std::string about = name;
        try {
            step(*reader, fileNamed(reader->volume(), options, name), about);
        } catch (const Failure& e) {
            reportFailure(about, e.what());
            status = kExitFailed;
        }
    }
    return status;
}

} // namespace

int readFromVolume(const Options& options)
{
    const Format to = options.conversion.to;
    return forEachName(options, [&](const lif::VolumeReader& reader, const lif::Entry& entry, std::string& about) {
        if (entry.type != lif::kTypeAscii) {
            throw Failure(lif::notTextReason(entry.type));
        }
        const std::string target = targetFor(options, entry,
                                             to == Format::Hp    ? ".asc"
                                             : to == Format::Txt ? ".txt"
                                                                 : ".lif");
        const Bytes blocks = reader.fileBlocks(entry);
        const auto lines = readRecords(blocks);
        const Bytes result =
            to == Format::Hp ? programFileFromLines(lines)
            : to == Format::LifAscii
                ? asciiFileFromLines(lines)
                : withLineEnds(convert(textFromLines(lines), {Format::Txt, Format::Txt}, options.codePage), options.lf);
        about = target.empty() ? "standard output" : target;
        writeResult(target, result);
    });
}

int extractFromVolume(const Options& options)
{
    return forEachName(options, [&](const lif::VolumeReader& reader, const lif::Entry& entry, std::string& about) {
        const std::string target = targetFor(options, entry, "");
        const Bytes result = options.form == ExchangeForm::Bare ? reader.fileBlocks(entry)
                             : options.form == ExchangeForm::Hfslif
                                 ? lif::hfslifForm(reader.entryBytes(entry), reader.fileBlocks(entry))
                                 : reader.singleFileForm(entry);
        about = target.empty() ? "standard output" : target;
        writeResult(target, result);
    });
}

namespace {

// The ASCII file for an input, converted as asked.
Bytes volumeFileFor(const Options& options, const std::string& input)
{
    const Conversion& asked = options.conversion;
    if (input != "-" && samePlace(pathOf(input), pathOf(options.volume))) {
        throw Failure("the input is the volume image itself");
    }
    Bytes bytes = input == "-" ? readStreamBytes(os::standardInput()) : readFileBytes(pathOf(input));
    refuseFormatMismatch(bytes, asked.from);
    if (asked.from == Format::LifAscii) {
        return asciiFileFromLines(readRecords(bytes));
    }
    if (asked.from == Format::Txt) {
        bytes = convert(std::move(bytes), {Format::Txt, Format::Hp, asked.lineNumbers, asked.start, asked.step},
                        options.codePage);
    } else {
        // Records are moved unchanged, so they must be sound ones.
        for (const auto& finding : checkProgramFile(bytes)) {
            if (finding.offset >= 256) {
                throw Failure("offset " + std::to_string(finding.offset) + ": " + finding.text +
                              " (--check lists every departure)");
            }
        }
    }
    return asciiFileFromProgramFile(bytes);
}

} // namespace

int writeIntoVolume(const Options& options)
{
    if (!openImage<lif::VolumeReader>(options.volume, true)) {
        return kExitFailed;
    }
    // Two inputs of one name would leave only the second: nothing is written.
    std::vector<std::string> names;
    for (const auto& input : options.inputs) {
        names.push_back(options.lifName.empty() ? pathOf(input).stem().string() : options.lifName);
        const auto first = std::find(names.begin(), names.end() - 1, names.back());
        if (first != names.end() - 1) {
            reportFailure(input, "has the LIF name " + lif::shownName(names.back()) + ", as " +
                                     options.inputs[static_cast<std::size_t>(first - names.begin())] +
                                     " has; nothing is written (write them one at a time with --name)");
            return kExitFailed;
        }
    }
    int status = kExitOk;
    std::vector<std::pair<std::size_t, Bytes>> files; // input number, ASCII file
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        try {
            if (!lif::isValidName(names[i])) {
                throw Failure("\"" + lif::shownName(names[i]) + "\" is not a valid LIF file name: " + lif::kNameRule +
                              "; give one with --name");
            }
            files.emplace_back(i, volumeFileFor(options, options.inputs[i]));
        } catch (const Failure& e) {
            reportFailure(options.inputs[i], e.what());
            status = kExitFailed;
        }
    }
    if (files.empty()) {
        return status;
    }
    const auto update = openImage<lif::VolumeUpdate>(options.volume, true);
    if (!update) {
        return kExitFailed;
    }
    for (const auto& [i, content] : files) {
        try {
            update->put(names[i], content, lif::dateNow());
        } catch (const lif::ImageFailure& e) {
            reportFailure(options.volume, e.what());
            status = kExitFailed;
        } catch (const Failure& e) {
            reportFailure(options.inputs[i], e.what());
            status = kExitFailed;
        }
    }
    return status;
}

int exportImage(const Options& options)
{
    try {
        if (samePlace(pathOf(options.output), pathOf(options.volume))) {
            throw Failure("the result would overwrite the image itself; choose another -o");
        }
        const auto [absent, recovery] = lif::exportPlainImage(pathOf(options.volume), pathOf(options.output));
        if (!recovery.empty()) {
            std::fprintf(stderr, "%s: %s: note: %s\n", kProgram, options.volume.c_str(), recovery.c_str());
        }
        if (!absent.empty()) {
            reportFailure(options.volume,
                          "blocks missing from the capture, written as zeros: " + lif::describeBlocks(absent));
            return kExitFailed;
        }
        return kExitOk;
    } catch (const Failure& e) {
        reportFailure(options.volume, e.what());
        return kExitFailed;
    }
}

int createVolume(const Options& options)
{
    try {
        lif::createVolumeFile(pathOf(options.volume), options.label, options.blocks, options.directoryBlocks,
                              lif::dateNow());
        return kExitOk;
    } catch (const Failure& e) {
        reportFailure(options.volume, e.what());
        return kExitFailed;
    }
}

int checkFiles(const Options& options)
{
    int status = kExitOk;
    for (const auto& file : options.inputs) {
        try {
            bool clean = true;
            for (const auto& finding : checkFile(pathOf(file))) {
                if (finding.note) {
                    std::printf("%s: note: %s\n", file.c_str(), finding.text.c_str());
                } else {
                    std::printf("%s: offset %llu: %s\n", file.c_str(), static_cast<unsigned long long>(finding.offset),
                                finding.text.c_str());
                    clean = false;
                }
            }
            if (clean) {
                std::printf("%s: no departure from the format found\n", file.c_str());
            } else {
                status = kExitFailed;
            }
        } catch (const Failure& e) {
            reportFailure(file, e.what());
            status = kExitFailed;
        }
    }
    return finishOutput(status);
}

Bytes withLineEnds(Bytes text, bool lf)
{
    if (lf) {
        // Only the line ends: a CR inside a line stays.
        std::size_t w = 0;
        for (std::size_t r = 0; r < text.size(); ++r) {
            if (!(text[r] == '\r' && r + 1 < text.size() && text[r + 1] == '\n')) {
                text[w++] = text[r];
            }
        }
        text.resize(w);
    }
    return text;
}

int insertIntoVolume(const Options& options)
{
    const auto update = openImage<lif::VolumeUpdate>(options.volume, true);
    if (!update) {
        return kExitFailed;
    }
    int status = kExitOk;
    for (const auto& input : options.inputs) {
        try {
            if (samePlace(pathOf(input), pathOf(options.volume))) {
                throw Failure("the input is the volume image itself");
            }
            const Bytes file = readFileBytes(pathOf(input));
            if (options.bare) {
                Bytes blocks(file.begin(), file.end());
                blocks.resize((blocks.size() + lif::kBlockSize - 1) / lif::kBlockSize * lif::kBlockSize, 0x00);
                update->insert(lif::newEntry(options.lifName, options.type, lif::dateNow()), blocks, options.replace);
            } else {
                const auto [entry, blocks] = lif::splitSingleFile(file);
                update->insert(entry, blocks, options.replace);
            }
        } catch (const lif::ImageFailure& e) {
            reportFailure(options.volume, e.what());
            status = kExitFailed;
        } catch (const Failure& e) {
            reportFailure(input, e.what());
            status = kExitFailed;
        }
    }
    return status;
}

int changeVolume(const Options& options)
{
    try {
        lif::VolumeUpdate update(pathOf(options.volume));
        told(options.volume, update);
        switch (options.mode) {
        case Mode::Rename:
            update.rename(options.inputs[0], options.inputs[1]);
            return kExitOk;
        case Mode::Pack:
            update.pack();
            return kExitOk;
        case Mode::SetLabel:
            update.setLabel(options.label);
            return kExitOk;
        default:
            break;
        }
        int status = kExitOk;
        for (const auto& name : options.inputs) {
            try {
                update.purge(name);
            } catch (const Failure& e) {
                reportFailure(name, e.what());
                status = kExitFailed;
            }
        }
        return status;
    } catch (const Failure& e) {
        reportFailure(options.mode == Mode::Rename ? options.inputs[0] : options.volume, e.what());
        return kExitFailed;
    }
}

namespace {

// A program file as a diff shows it: its text, then every departure from
// the format, so that two files that differ in any byte do not look alike.
Bytes programText(const Bytes& file, const CodePage& codePage)
{
    Conversion reading{Format::Hp, Format::Txt};
    reading.lenient = true;
    Bytes text = convert(file, reading, codePage);
    const auto findings = checkProgramFile(file);
    if (!findings.empty()) {
        // A cut-off file's text may end inside a line.
        std::string list = text.empty() || text.back() == '\n' ? "" : "\r\n";
        list += "=== departures from the format ===\r\n";
        for (const auto& finding : findings) {
            list += "offset " + std::to_string(finding.offset) + ": " + (finding.note ? "note: " : "") + finding.text +
                    "\r\n";
        }
        text.insert(text.end(), list.begin(), list.end());
    }
    return text;
}

} // namespace

int textConv(const Options& options)
{
    const std::string& file = options.inputs.front();
    Bytes bytes;
    try {
        bytes = readFileBytes(pathOf(file));
    } catch (const Failure& e) {
        reportFailure(file, e.what());
        return kExitFailed;
    }
    // Anything else, and what cannot be read as what it is, shows as it is:
    // a diff still works.
    Bytes shown = bytes;
    try {
        const FileKind kind = kindOf(bytes);
        if (kind == FileKind::ProgramFile) {
            shown = withLineEnds(programText(bytes, options.codePage), options.lf);
        } else if (kind == FileKind::LifAscii) {
            shown = withLineEnds(convert(bytes, {Format::LifAscii, Format::Txt}, options.codePage), options.lf);
        } else if (kind == FileKind::Volume) {
            shown = withLineEnds(volumeText(options, lif::VolumeReader(pathOf(file))), options.lf);
        }
    } catch (const Failure&) {
    }
    writeResult("", shown);
    return finishOutput(kExitOk);
}

} // namespace varnook::cli
