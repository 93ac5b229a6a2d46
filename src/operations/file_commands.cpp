#include "file_commands.h"

#include "operation_frame.h"
#include "program_routines.h"

#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"
#include "settings/module1.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace varnook {
namespace {

// The byte loops publish and yield once per stretch, not once per byte.
constexpr std::size_t kStretch = static_cast<std::size_t>(kProgressStride);

std::string fileNameOf(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

// Reads a program file with the reading phase's progress; one that becomes
// shorter meanwhile fails.
Bytes readWithProgress(WindowOperations& window, const std::string& name, std::size_t count)
{
    Bytes bytes(count, kUninitialised);
    InputFile file = beforePhase(window, status::kNowReading, [&] { return InputFile(name); });
    window.setStatusText(status::kNowReading);
    window.setProgressMaximum(static_cast<double>(count) - 1);
    window.startProgressTimer();
    for (std::size_t at = 0; at < count; at += kStretch) {
        const std::size_t part = std::min(kStretch, count - at);
        file.read(bytes.data() + at, part);
        ProgressCount = static_cast<std::int32_t>(at + part - 1);
        window.yield();
    }
    return bytes;
}

// Writes the file aside from the window, in stretches that ProgressCount
// follows.
void writeWithProgress(WindowOperations& window, const std::string& target, const Bytes& bytes)
{
    window.setProgressMaximum(static_cast<double>(bytes.size()) - 1);
    ProgressCount = 0;
    window.startProgressTimer();
    window.aside([&] {
        ReplacementFile output(target);
        for (std::size_t at = 0; at < bytes.size(); at += kStretch) {
            ProgressCount = static_cast<std::int32_t>(at);
            window.yield();
            output.write(ByteView(bytes).subspan(at, std::min(kStretch, bytes.size() - at)));
        }
        output.commit();
    });
}

// Reads the file as what it is: when its content and the read option
// disagree, the user is asked whether to read it by its content. False when
// the user declines.
bool readAsWhatItIs(WindowOperations& window, const std::string& name, FileKind kind, bool& hp)
{
    if (kind == FileKind::LifAscii) {
        // Records without a header: read as the program file they make.
        if (!window.askYesNo(fileNameOf(name) + " is a bare LIF ASCII file (program lines as records, no header)" +
                             (hp ? ", not an HP BASIC ASCII program file" : ", not a text file") +
                             ". Read it as LIF ASCII?")) {
            return false;
        }
        hp = true;
    } else if (hp && kind == FileKind::Other) {
        if (!window.askYesNo(fileNameOf(name) + " is not an HP BASIC ASCII program file. Read it as text?")) {
            return false;
        }
        hp = false;
    } else if (!hp && kind != FileKind::Other) {
        const char* what = kind == FileKind::Volume
                               ? " is a LIF disk image, not a text file. Read a program out of it as HP BASIC ASCII?"
                               : " is an HP BASIC ASCII program file, not a text file. Read it as HP BASIC ASCII?";
        if (!window.askYesNo(fileNameOf(name) + what)) {
            return false;
        }
        hp = true;
    }
    return true;
}

// Says that opening the image rolled back a change that was cut off.
void tellRecovery(WindowOperations& window, const std::string& image, const std::string& recovery)
{
    if (!recovery.empty()) {
        window.showWarningMessage(fileNameOf(image) + ": " + recovery + ".");
    }
}

// The volume's catalogue as it is now.
lif::Volume catalogueOf(WindowOperations& window, const std::string& image, std::string_view phase)
{
    const lif::VolumeReader reader = beforePhase(window, phase, [&] { return lif::VolumeReader(image); });
    tellRecovery(window, image, reader.recovery());
    return reader.volume();
}

// Lets the user choose one of the volume's files in the disk view, unless
// the caller chose it; nothing when the user cancels. The image is the one
// the file was chosen from (the view may show another).
std::optional<lif::Entry> chooseFromVolume(WindowOperations& window, std::string& image, const std::string& chosen)
{
    std::optional<std::string> name = chosen;
    if (chosen.empty()) {
        name = window.chooseVolumeFile(image, catalogueOf(window, image, status::kNowReading));
        if (!name) {
            return std::nullopt;
        }
    }
    // Read again: the disk view may have changed the image.
    const lif::Volume volume = catalogueOf(window, image, status::kNowReading);
    const lif::Entry* entry = volume.find(*name);
    if (entry == nullptr) {
        throw Failure("no such file in the volume");
    }
    return *entry;
}

// False when the user declined to read a damaged file. A bare LIF ASCII
// file (lifAscii) is read as the program file of its records.
bool readHpAscii(WindowOperations& window, const CodePage& codePage, const std::string& name,
                 const std::optional<lif::Entry>& inVolume, bool lifAscii)
{
    Bytes bytes;
    if (inVolume) {
        // A file of a volume is small: its blocks in one step (out of a
        // plain image or a capture alike).
        window.setStatusText(status::kNowReading);
        window.setProgressMaximum(static_cast<double>(inVolume->blocks) * lif::kBlockSize - 1);
        window.startProgressTimer();
        // Opened again after the user's choice: the directory and the
        // file's blocks are read under one lock.
        const lif::VolumeReader reader(name);
        const lif::Entry& entry = reader.volume().named(lif::shownName(inVolume->name));
        if (!entry.damage.empty()) {
            throw Failure(entry.damage + "; it cannot be read");
        }
        const Bytes blocks = reader.fileBlocks(entry);
        ProgressCount = static_cast<std::int32_t>(blocks.size()) - 1;
        window.yield();
        bytes = programFileFromLines(readRecords(blocks));
        window.documentOrigin().volumeFileName = inVolume->name;
    } else {
        const auto size = beforePhase(window, status::kNowReading, [&] { return InputFile(name).size(); });
        if (size == 0) {
            window.setStatusText(status::kNowReading);
            throw Failure("the file is empty");
        }
        bytes = readWithProgress(window, name, static_cast<std::size_t>(size));
        if (lifAscii) {
            bytes = programFileFromLines(readRecords(bytes));
        }
    }
    window.stopProgressTimer();
    window.setProgressValue(window.progressMaximum());
    window.setProgressValue(0);
    return DecodeHpAscii(window, codePage, bytes, fileNameOf(name));
}

// Text that is UTF-8 while the window's code page is another is read as
// UTF-8 when the user agrees (its byte order mark left out); the status then
// names the code page it was read in.
void readTxt(WindowOperations& window, const CodePage& codePage, const std::string& name)
{
    window.setStatusText(status::kNowReading);
    Bytes file;
    std::optional<std::string> evidence;
    window.aside([&] {
        file = readFileBytes(name);
        if (codePage.name() != "UTF-8") {
            evidence = utf8Evidence(file);
        }
    });
    ByteView bytes = file;
    std::optional<CodePage> utf8;
    if (codePage.name() != "UTF-8") {
        if (evidence && window.askYesNo(fileNameOf(name) + " is UTF-8 text (it " + *evidence + "), not " +
                                        codePage.name() + ". Read it as UTF-8?")) {
            utf8 = CodePage::named("UTF-8");
            if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
                bytes = bytes.subspan(3);
            }
        }
    }
    const CodePage& readIn = utf8 ? *utf8 : codePage;
    std::string text;
    window.aside([&] { text = readIn.toUtf8(bytes); });
    window.setDocumentText(text);
    if (window.lineNumbersWanted() && !InsertLineNumbers(window, readIn)) {
        return; // read, and left unnumbered as the user chose
    }
    window.setStatusText(utf8 ? std::string(status::kComplete) + " (read as UTF-8)" : std::string(status::kComplete));
}

// The save dialog offers the remembered name with the write format's
// extension, so that one "Yes" cannot replace a program file with text; a
// program read out of a disk image offers its own name beside the image.
void offerSaveName(WindowOperations& window, bool txt)
{
    std::filesystem::path name = window.dialogFileName();
    std::string extension = name.extension().string();
    const bool upper = std::any_of(extension.begin(), extension.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const char* wanted = txt ? (upper ? ".TXT" : ".txt") : (upper ? ".ASC" : ".asc");
    if (!window.documentOrigin().image.empty() && name == window.documentOrigin().image) {
        name = name.parent_path() / window.documentOrigin().volumeFileName;
        name.replace_extension(txt ? ".txt" : ".asc");
    } else if (name.filename().empty()) {
        return;
    } else if (txt ? (extension == ".asc" || extension.empty()) : extension == ".txt") {
        name.replace_extension(wanted);
    }
    window.setDialogFileName(name.string());
}

// The document was written: it is now what the file holds.
// The document was written: it is now what the file holds (image: the disk
// image it went into, which it now comes from).
void written(WindowOperations& window, const std::string& shown, const std::string& image = {})
{
    window.documentOrigin().image = image;
    window.setDocumentFile(shown);
}

// Whether the user takes the offer to write the program back into the disk
// image it was read out of. Only a plain image is offered: a capture is read,
// never written.
bool offerWayBack(WindowOperations& window)
{
    const auto& origin = window.documentOrigin();
    if (origin.image.empty() || origin.volumeFileName.empty()) {
        return false;
    }
    try {
        if (lif::readVolume(origin.image).container != lif::Container::None) {
            return false;
        }
    } catch (const Failure&) {
        return false; // gone or changed: the save dialog says what there is
    }
    return window.askYesNo(lif::shownName(origin.volumeFileName) + " was read out of " + fileNameOf(origin.image) +
                           ". Write it back there under its name?");
}

bool writeTxt(WindowOperations& window, const CodePage& codePage, CommandSubject& subject)
{
    window.setDialogFilter(kTxtFileTypes);
    window.setDialogFilterIndex(kTxtAllFilesIndex);
    offerSaveName(window, true);
    if (!window.showSaveDialog()) {
        return false;
    }
    subject.file = window.dialogFileName();
    // The save dialog asked only whether to replace a file: text over a
    // program file or a disk is asked about again, No by default.
    std::optional<std::string> holds =
        beforePhase(window, status::kWriting, [&] { return lif::volumeSummary(subject.file); });
    if (!holds) {
        const FileKind kind = beforePhase(window, status::kWriting, [&] {
            std::error_code error;
            return std::filesystem::is_regular_file(subject.file, error) ? kindOfFile(subject.file) : FileKind::Other;
        });
        if (kind == FileKind::ProgramFile || kind == FileKind::LifAscii) {
            holds = kind == FileKind::ProgramFile ? "an HP BASIC ASCII program file" : "a bare LIF ASCII file";
        }
    }
    if (holds && !window.askYesNo(fileNameOf(subject.file) + " is " + *holds + ". Replace it with this text?", true)) {
        return false;
    }
    window.setBusy();
    window.setStatusText(status::kWriting);
    const std::string text = window.documentText();
    Bytes bytes;
    window.aside([&] { bytes = codePage.fromUtf8(text); });
    writeWithProgress(window, subject.file, bytes);
    window.stopProgressTimer();
    window.setProgressValue(0);
    window.setStatusText(status::kComplete);
    written(window, fileNameOf(subject.file));
    window.setIdle();
    return true;
}

bool writeHpAscii(WindowOperations& window, const CodePage& codePage, const std::string& text, CommandSubject& subject)
{
    // What needs no file name is refused before the save dialog; the window
    // shows it is working meanwhile.
    SingleByteText single;
    std::optional<TextPosition> position;
    window.setBusy();
    beforePhase(window, status::kNowConverting, [&] {
        window.aside([&] {
            single = codePage.toSingleBytes(text);
            if (!single.offending) {
                position = findUncarriableByte(single.bytes);
            }
            if (!single.offending && !position) {
                requireLinesFit(single.bytes);
            }
        });
    });
    window.setIdle();
    if (single.offending) {
        window.showWarningMessage(std::string(kDoubleByteWarning) + "\n" + describe(*single.offending));
        return false;
    }
    if (position) {
        window.showWarningMessage(uncarriableByteMessage(*position));
        return false;
    }
    // A program read out of a disk image is offered its way back, under its
    // name; No gives the save dialog for another file or image.
    const bool back = offerWayBack(window);
    if (back) {
        window.setDialogFileName(window.documentOrigin().image);
    } else {
        window.setDialogFilter(kHpFileTypes);
        window.setDialogFilterIndex(kHpAllFilesIndex);
        offerSaveName(window, false);
        if (!window.showSaveDialog()) {
            return false;
        }
    }
    const std::string target = window.dialogFileName();
    subject.file = target;
    std::optional<lif::Volume> volume = beforePhase(window, status::kNowWriting, [&]() -> std::optional<lif::Volume> {
        std::error_code error;
        if (std::filesystem::is_regular_file(target, error) && lif::isVolumeFile(target)) {
            return catalogueOf(window, target, status::kNowWriting);
        }
        return std::nullopt;
    });
    std::string lifName;
    if (volume && back) {
        lifName = window.documentOrigin().volumeFileName;
    } else if (volume) {
        const auto name = window.askVolumeFileName(*volume, window.documentOrigin().volumeFileName);
        if (!name) {
            return false;
        }
        lifName = *name;
    }
    window.setBusy();
    window.setStatusText(status::kNowConverting);
    const Bytes file = EncodeHpAscii(window, single.bytes);
    window.setStatusText(status::kNowWriting);
    if (volume) {
        // Into the image in place, as a file system writes a disk.
        window.setProgressMaximum(0);
        lif::VolumeUpdate(target).put(lifName, asciiFileFromProgramFile(file), lif::dateNow());
    } else {
        writeWithProgress(window, target, file);
    }
    window.stopProgressTimer();
    window.setStatusText(status::kComplete);
    window.setProgressValue(0);
    if (volume) {
        window.documentOrigin().volumeFileName = lifName;
    }
    written(window, volume ? lifName + " in " + fileNameOf(target) : fileNameOf(target),
            volume ? target : std::string());
    window.setIdle();
    return true;
}

} // namespace

void ReadProgramFile(WindowOperations& window, const CodePage& codePage, const std::string& fileName,
                     const std::string& volumeFile)
{
    CommandSubject subject;
    runCommand(window, subject, [&] {
        window.setDialogFileName(fileName.empty() ? Module1::ReadSetting("Load", "Dir", "") : fileName);
        bool hp = window.readAsHpSelected() || !volumeFile.empty();
        window.setDialogFilter(hp ? kHpFileTypes : kTxtFileTypes);
        window.setDialogFilterIndex(hp ? kHpAllFilesIndex : kTxtAllFilesIndex);
        if (fileName.empty() && !window.showOpenDialog()) {
            return;
        }
        std::string name = window.dialogFileName();
        subject.file = name;
        Module1::WriteSetting("Load", "Dir", name);
        const FileKind kind = beforePhase(window, status::kNowReading, [&] { return kindOfFile(name); });
        if (!readAsWhatItIs(window, name, kind, hp)) {
            return;
        }
        std::optional<lif::Entry> inVolume;
        if (hp && kind == FileKind::Volume) {
            inVolume = chooseFromVolume(window, name, volumeFile);
            if (!inVolume) {
                return;
            }
            subject.file = name;
            window.setDialogFileName(name);
            Module1::WriteSetting("Load", "Dir", name);
        }
        window.setBusy();
        if (hp) {
            if (!readHpAscii(window, codePage, name, inVolume, kind == FileKind::LifAscii)) {
                window.setIdle();
                return;
            }
        } else {
            readTxt(window, codePage, name);
        }
        window.documentOrigin().image = inVolume ? name : std::string();
        window.setDocumentFile(inVolume ? inVolume->name + " in " + fileNameOf(name) : fileNameOf(name));
        window.setIdle();
    });
}

bool WriteProgramFile(WindowOperations& window, const CodePage& codePage, const std::string& text)
{
    const bool txt = window.writeAsTxtSelected();
    CommandSubject subject{true, {}};
    bool done = false;
    runCommand(window, subject, [&] {
        done = txt ? writeTxt(window, codePage, subject) : writeHpAscii(window, codePage, text, subject);
    });
    return done;
}

} // namespace varnook
