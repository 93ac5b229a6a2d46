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
        window.aside([&] { decoded = decodeProgramFile(bytes, &progress); });
    } catch (const DamagedRecords& damage) {
        window.stopProgressTimer();
        if (!window.askYesNo(std::string(fileName) + " is damaged at offset " + std::to_string(damage.offset) + " (" +
                             damage.departure + "). Read what the lenient rule makes of it?")) {
            window.setProgressValue(0);
            window.setStatusText(status::kCancelled);
            return false;
        }
        window.startProgressTimer();
        window.aside([&] { decoded = decodeProgramFileLeniently(bytes, &progress); });
    }
    window.stopProgressTimer();
    window.setProgressValue(window.progressMaximum());
    std::string text;
    window.aside([&] { text = codePage.toUtf8(decoded); });
    window.setDocumentText(text);
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
    Bytes file;
    window.aside([&] { file = encodeHpAsciiBytes(text, &progress); });
    window.setProgressValue(0);
    ProgressCount = 0;
    window.yield();
    return file;
}

namespace {

// A Start or Step read otherwise than typed ("1.5", " 010") is shown as read.
void showAsRead(const std::string& typed, std::int32_t read, void (WindowOperations::*show)(const std::string&),
                WindowOperations& window)
{
    if (typed != std::to_string(read)) {
        (window.*show)(std::to_string(read));
    }
}

// The line's text (counted from 1), for a question: its first 40 characters.
std::string lineText(const CodePage& codePage, ByteView text, std::int64_t line)
{
    std::size_t at = 0;
    for (std::int64_t passed = 1; passed < line && at < text.size(); ++at) {
        passed += text[at] == '\r';
    }
    at += at < text.size() && at > 0 && text[at - 1] == '\r' && text[at] == '\n';
    std::size_t end = at;
    while (end < text.size() && text[end] != '\r') {
        ++end;
    }
    std::string shown = codePage.toUtf8(text.subspan(at, end - at));
    std::size_t characters = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if ((static_cast<unsigned char>(shown[i]) & 0xC0) != 0x80 && ++characters > 40) {
            return shown.substr(0, i) + "...";
        }
    }
    return shown;
}

} // namespace

bool InsertLineNumbers(WindowOperations& window, const CodePage& codePage)
{
    const std::string document = window.documentText();
    Bytes input;
    window.aside([&] { input = codePage.fromUtf8(document); });
    if (input.empty()) {
        throw Failure("the document is empty");
    }
    window.setStatusText(status::kInsertingLineNumber);
    window.setDocumentText("");
    const std::string startTyped = window.startText();
    const std::string stepTyped = window.stepText();
    const std::int32_t start = readWholeNumber(startTyped);
    const std::int32_t step = readWholeNumber(stepTyped);
    showAsRead(startTyped, start, &WindowOperations::setStartText, window);
    showAsRead(stepTyped, step, &WindowOperations::setStepText, window);
    std::optional<NumberedLine> outside;
    window.aside([&] { outside = firstLineOutside(input, start, step); });
    if (outside) {
        if (!window.askYesNo("Line " + std::to_string(outside->line) + " (" + lineText(codePage, input, outside->line) +
                                 ") would be numbered " + std::to_string(outside->number) +
                                 ", and HP BASIC takes line numbers " + std::to_string(kFirstLineNumber) + " to " +
                                 std::to_string(kLastLineNumber) + " only. Number the lines anyway?",
                             true)) {
            window.setDocumentText(codePage.toUtf8(input));
            window.setStatusText(status::kNotNumbered);
            return false;
        }
    }
    window.setProgressMaximum(static_cast<double>(input.size()) - 1);
    window.startProgressTimer();
    YieldingProgress progress(window);
    std::string numbered;
    window.aside([&] { numbered = codePage.toUtf8(insertLineNumberBytes(input, start, step, &progress)); });
    window.stopProgressTimer();
    window.setProgressValue(window.progressMaximum());
    window.setDocumentText(numbered);
    window.setProgressValue(0);
    return true;
}

} // namespace varnook
