#include "file_commands.h"

#include "operation_frame.h"
#include "program_routines.h"

#include "core/failure.h"
#include "core/file_io.h"
#include "core/hp_ascii.h"
#include "settings/module1.h"

#include <algorithm>

namespace varnook {
namespace {

// The byte loops publish and yield once per stretch, not once per byte.
constexpr std::size_t kStretch = static_cast<std::size_t>(kProgressStride);

void readHpAscii(WindowOperations& window, const CodePage& codePage, const std::string& name)
{
    Bytes bytes;
    {
        InputFile file(name);
        if (file.size() == 0) {
            throw Failure("the file is empty");
        }
        bytes.resize(static_cast<std::size_t>(file.size()));
        window.setStatusText(status::kNowReading);
        window.setProgressMaximum(static_cast<double>(bytes.size()) - 1);
        window.startProgressTimer();
        for (std::size_t at = 0; at < bytes.size(); at += kStretch) {
            const std::size_t count = std::min(kStretch, bytes.size() - at);
            file.read(bytes.data() + at, count);
            ProgressCount = static_cast<std::int32_t>(at + count - 1);
            window.yield();
        }
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
    window.setBusy();
    window.setStatusText(status::kNowConverting);
    const Bytes file = EncodeHpAscii(window, single.bytes);
    window.setStatusText(status::kNowWriting);
    window.setProgressMaximum(static_cast<double>(file.size()) - 1);
    {
        ReplacementFile output(window.dialogFileName());
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
        window.setBusy();
        if (hp) {
            readHpAscii(window, codePage, name);
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
