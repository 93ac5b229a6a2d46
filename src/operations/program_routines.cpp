#include "program_routines.h"

#include "operation_frame.h"

#include "core/base/failure.h"
#include "core/program/hp_ascii.h"
#include "core/text/line_numbers.h"
#include "core/text/number_reading.h"

#include <string>

namespace varnook {

bool DecodeHpAscii(WindowOperations& window, const CodePage& codePage, ByteView bytes, std::string_view fileName)
{
    window.setStatusText(status::kNowAnalysing);
    window.setProgressMaximum(static_cast<double>(bytes.size()) - 1);
    window.startProgressTimer();
    YieldingProgress progress(window);
    Bytes decoded;
    try {
        decoded = decodeProgramFile(bytes, &progress);
    } catch (const DamagedRecords& damage) {
        window.stopProgressTimer();
        if (!window.askYesNo(std::string(fileName) + " is damaged at offset " + std::to_string(damage.offset) + " (" +
                             damage.departure + "). Read what the lenient rule makes of it?")) {
            window.setProgressValue(0);
            window.setStatusText(status::kCancelled);
            return false;
        }
        window.startProgressTimer();
        decoded = decodeProgramFileLeniently(bytes, &progress);
    }
    window.stopProgressTimer();
    window.setProgressValue(window.progressMaximum());
    window.setDocumentText(codePage.toUtf8(decoded));
    window.setProgressValue(0);
    window.setStatusText(status::kComplete);
    return true;
}

Bytes EncodeHpAscii(WindowOperations& window, ByteView text)
{
    if (text.empty()) {
        throw Failure("the document is empty");
    }
    window.setProgressMaximum(static_cast<double>(text.size()));
    window.startProgressTimer();
    YieldingProgress progress(window);
    Bytes file = encodeHpAsciiBytes(text, &progress);
    window.setProgressValue(0);
    ProgressCount = 0;
    window.yield();
    return file;
}

void InsertLineNumbers(WindowOperations& window, const CodePage& codePage)
{
    const Bytes input = codePage.fromUtf8(window.documentText());
    if (input.empty()) {
        throw Failure("the document is empty");
    }
    window.setStatusText(status::kInsertingLineNumber);
    window.setDocumentText("");
    const std::int32_t start = readWholeNumber(window.startText());
    const std::int32_t step = readWholeNumber(window.stepText());
    window.setProgressMaximum(static_cast<double>(input.size()) - 1);
    window.startProgressTimer();
    YieldingProgress progress(window);
    const Bytes numbered = insertLineNumberBytes(input, start, step, &progress);
    window.stopProgressTimer();
    window.setProgressValue(window.progressMaximum());
    window.setDocumentText(codePage.toUtf8(numbered));
    window.setProgressValue(0);
}

} // namespace varnook
