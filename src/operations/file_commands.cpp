#include "file_commands.h"

#include "operation_frame.h"
#include "program_routines.h"

#include "core/failure.h"
#include "core/file_io.h"
#include "core/hp_ascii.h"
#include "core/lif.h"
#include "settings/module1.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace varnook {
namespace {

// The byte loops publish and yield once per stretch, not once per byte.
constexpr std::size_t kStretch = static_cast<std::size_t>(kProgressStride);

// The name of the file last read out of a volume, offered when writing into one.
std::string lastVolumeFileName;

// Failures of a volume are new to the window's commands, so they are told
// in a message box before the command's quiet error path.
template <class Action> auto aboutVolume(WindowOperations& window, const std::string& image, Action action)
{
    try {
        return action();
    } catch (const Failure& e) {
        window.showWarningMessage("The disk image " + image + " cannot be used: " + e.what() + ".");
        throw;
    }
}

// Reads count bytes from offset on with the reading phase's progress. A
// program file that becomes shorter meanwhile fails; a file in a volume
// reads zeros past the image's end, as disk images may stop early.
Bytes readWithProgress(WindowOperations& window, const std::string& name, std::uint64_t offset, std::size_t count,
                       bool inVolume)
{
    Bytes bytes(count);
    InputFile file(name);
    window.setStatusText(status::kNowReading);
    window.setProgressMaximum(static_cast<double>(count) - 1);
    window.startProgressTimer();
    for (std::size_t at = 0; at < count; at += kStretch) {
        const std::size_t part = std::min(kStretch, count - at);
        if (inVolume) {
            file.readAt(offset + at, bytes.data() + at, part);
        } else {
            file.read(bytes.data() + at, part);
        }
        ProgressCount = static_cast<std::int32_t>(at + part - 1);
        window.yield();
    }
    return bytes;
}

// The user cancelled a dialog in the middle of a command.
struct Cancelled { };

// When the file is a LIF volume, lets the user choose one of its files.
// Nothing when it is no volume; throws Cancelled when the user cancels.
std::optional<lif::Entry> chooseFromVolume(WindowOperations& window, const std::string& name)
{
    if (!lif::isVolumeFile(name)) {
        return std::nullopt;
    }
    const lif::Volume volume = aboutVolume(window, name, [&] { return lif::readVolume(name); });
    const auto chosen = window.chooseVolumeFile(volume);
    const lif::Entry* entry = chosen ? volume.find(*chosen) : nullptr;
    if (entry == nullptr) {
        throw Cancelled{};
    }
    return *entry;
}

void readHpAscii(WindowOperations& window, const CodePage& codePage, const std::string& name,
                 const std::optional<lif::Entry>& inVolume)
{
    Bytes bytes;
    if (inVolume) {
        const Bytes blocks = readWithProgress(window, name, std::uint64_t{inVolume->start} * lif::kBlockSize,
                                              std::size_t{inVolume->blocks} * lif::kBlockSize, true);
        bytes = aboutVolume(window, name, [&] { return lif::programFileFromLines(lif::readRecords(blocks)); });
        lastVolumeFileName = inVolume->name;
    } else {
        InputFile file(name);
        if (file.size() == 0) {
            throw Failure("the file is empty");
        }
        bytes = readWithProgress(window, name, 0, static_cast<std::size_t>(file.size()), false);
    }
    window.stopProgressTimer();
    window.setProgressValue(window.progressMaximum());
    window.setProgressValue(0);
    DecodeHpAscii(window, codePage, bytes);
}

void readTxt(WindowOperations& window, const CodePage& codePage, const std::string& name)
{
    window.setStatusText(status::kNowReading);
    window.setDocumentText(codePage.toUtf8(readFileBytes(name)));
    if (window.lineNumbersWanted()) {
        InsertLineNumbers(window, codePage);
    }
    window.setStatusText(status::kComplete);
}

void writeTxt(WindowOperations& window, const CodePage& codePage)
{
    window.setDialogFilter(kTxtFileTypes);
    window.setDialogFilterIndex(kTxtAllFilesIndex);
    if (!window.showSaveDialog()) {
        return;
    }
    window.setStatusText(status::kWriting);
    const Bytes bytes = codePage.fromUtf8(window.documentText());
    replaceFile(window.dialogFileName(), bytes);
    window.setStatusText(status::kComplete);
    window.setIdle();
}

void writeHpAscii(WindowOperations& window, const CodePage& codePage, const std::string& text)
{
    const SingleByteText single = codePage.toSingleBytes(text);
    if (single.offending) {
        window.showWarningMessage(kDoubleByteWarning);
        return;
    }
    if (const auto position = findUncarriableByte(single.bytes)) {
        window.showWarningMessage(uncarriableByteMessage(*position));
        return;
    }
    window.setDialogFilter(kHpFileTypes);
    window.setDialogFilterIndex(kHpAllFilesIndex);
    if (!window.showSaveDialog()) {
        return;
    }
    const std::string target = window.dialogFileName();
    std::error_code error;
    std::optional<lif::Volume> volume;
    std::string lifName;
    if (std::filesystem::is_regular_file(target, error) && lif::isVolumeFile(target)) {
        volume = aboutVolume(window, target, [&] { return lif::readVolume(target); });
        const auto name = window.askVolumeFileName(*volume, lastVolumeFileName);
        if (!name) {
            return;
        }
        lifName = *name;
    }
    window.setBusy();
    window.setStatusText(status::kNowConverting);
    Bytes file = EncodeHpAscii(window, single.bytes);
    if (volume) {
        Bytes image = readFileBytes(target);
        aboutVolume(window, target,
                    [&] { lif::putFile(image, lifName, lif::asciiFileFromProgramFile(file), lif::dateNow()); });
        file = std::move(image);
        lastVolumeFileName = lifName;
    }
    window.setStatusText(status::kNowWriting);
    window.setProgressMaximum(static_cast<double>(file.size()) - 1);
    {
        ReplacementFile output(target);
        for (std::size_t at = 0; at < file.size(); at += kStretch) {
            const std::size_t count = std::min(kStretch, file.size() - at);
            ProgressCount = static_cast<std::int32_t>(at);
            window.yield();
            output.write(ByteView(file).subspan(at, count));
        }
        output.commit();
    }
    window.stopProgressTimer();
    window.setStatusText(status::kComplete);
    window.setProgressValue(0);
    window.setIdle();
}

} // namespace

void ReadProgramFile(WindowOperations& window, const CodePage& codePage, const std::string& fileName)
{
    runCommand(window, [&] {
        window.setDialogFileName(fileName.empty() ? Module1::ReadSetting("Load", "Dir", "") : fileName);
        const bool hp = window.readAsHpSelected();
        window.setDialogFilter(hp ? kHpFileTypes : kTxtFileTypes);
        window.setDialogFilterIndex(hp ? kHpAllFilesIndex : kTxtAllFilesIndex);
        if (fileName.empty() && !window.showOpenDialog()) {
            return;
        }
        const std::string name = window.dialogFileName();
        Module1::WriteSetting("Load", "Dir", name);
        std::optional<lif::Entry> inVolume;
        try {
            inVolume = hp ? chooseFromVolume(window, name) : std::nullopt;
        } catch (const Cancelled&) {
            return;
        }
        window.setBusy();
        if (hp) {
            readHpAscii(window, codePage, name, inVolume);
        } else {
            readTxt(window, codePage, name);
        }
        window.setIdle();
    });
}

void WriteProgramFile(WindowOperations& window, const CodePage& codePage, const std::string& text)
{
    const bool txt = window.writeAsTxtSelected();
    runCommand(window, [&] {
        if (txt) {
            writeTxt(window, codePage);
        } else {
            writeHpAscii(window, codePage, text);
        }
    });
}

} // namespace varnook
