#include "fake_window.h"

#include "core/line_breaks.h"

namespace varnook::test {

void FakeWindow::setDocumentText(std::string_view text)
{
    document = normalizeLineBreaks(std::string(text));
    record("document " + std::to_string(document.size()));
}

void FakeWindow::yield()
{
    ++yields;
    if (onYield) {
        onYield();
    }
}

void FakeWindow::showWarningMessage(std::string_view text)
{
    warnings.emplace_back(text);
    record("warning " + std::string(text));
}

std::vector<std::string> FakeWindow::only(std::initializer_list<std::string_view> prefixes) const
{
    std::vector<std::string> kept;
    for (const auto& call : calls) {
        for (const auto prefix : prefixes) {
            if (call.starts_with(prefix)) {
                kept.push_back(call);
                break;
            }
        }
    }
    return kept;
}

std::optional<std::string> FakeWindow::chooseVolumeFile(const lif::Volume& volume)
{
    std::string listed = "volume files";
    for (const auto& file : volume.files) {
        listed += " " + file.name;
    }
    record(listed);
    return volumeAnswer;
}

bool FakeWindow::answer(const std::string& what)
{
    record(what);
    if (!dialogAnswer) {
        return false;
    }
    dialogName = *dialogAnswer;
    return true;
}

} // namespace varnook::test
