#include "web_window.h"

#include "core/text/line_breaks.h"
#include "operations/operation_frame.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace varnook::web {
namespace {

// The worker's script (worker.js) posts to the page and waits for answers.
// The bodies are JavaScript, which clang-format would take for C++.
// clang-format off
EM_JS(void, postJson, (const char* json), { varnookPost(JSON.parse(UTF8ToString(json))); });
EM_JS(void, postWithBytes, (const char* json, const void* data, std::size_t size), {
    const message = JSON.parse(UTF8ToString(json));
    message.bytes = HEAPU8.slice(data, data + size).buffer;
    varnookPost(message, [message.bytes]);
});
// The answer as text, or null (0) for none: a cancelled dialog.
EM_ASYNC_JS(char*, askJson, (const char* json), {
    const answer = await varnookAsk(JSON.parse(UTF8ToString(json)));
    return answer === null ? 0 : allocateUTF8(answer);
});
// clang-format on

std::optional<std::string> ask(const std::string& json)
{
    std::unique_ptr<char, decltype(&std::free)> answer(askJson(json.c_str()), &std::free);
    if (!answer) {
        return std::nullopt;
    }
    return std::string(answer.get());
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string baseName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

// What the image file is, in the catalogue's words.
std::string medium(lif::Container container)
{
    return container == lif::Container::None ? "disk image" : std::string(lif::containerName(container)) + " capture";
}

} // namespace

void post(const std::string& json)
{
    postJson(json.c_str());
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void WebWindow::setDocumentText(std::string_view text)
{
    document_ = normalizeLineBreaks(std::string(text));
    postWithBytes(R"({"type":"document"})", document_.data(), document_.size());
}

void WebWindow::takeEditedText(std::string_view text)
{
    document_ = normalizeLineBreaks(std::string(text));
}

void WebWindow::setStartText(const std::string& text)
{
    options.start = text;
    post(R"({"type":"field","field":"txtStart","text":)" + jsonString(text) + "}");
}

void WebWindow::setStepText(const std::string& text)
{
    options.step = text;
    post(R"({"type":"field","field":"txtStep","text":)" + jsonString(text) + "}");
}

void WebWindow::setBusy()
{
    post(R"({"type":"busy","busy":true})");
}

void WebWindow::setIdle()
{
    post(R"({"type":"busy","busy":false})");
}

void WebWindow::setStatusText(std::string_view text)
{
    status_ = text;
    post(R"({"type":"status","text":)" + jsonString(text) + "}");
}

void WebWindow::setProgressMaximum(double maximum)
{
    progressMaximum_ = maximum;
    post(R"({"type":"progress","maximum":)" + number(maximum) + "}");
}

void WebWindow::setProgressValue(double value)
{
    post(R"({"type":"progress","value":)" + number(value) + "}");
}

void WebWindow::yield()
{
    // The window's 250 ms tick, from the worker: the page repaints on its own.
    const double now = emscripten_get_now();
    if (timerRunning_ && now - lastProgress_ >= 100) {
        lastProgress_ = now;
        progressTimerTick(*this);
    }
}

bool WebWindow::showSaveDialog()
{
    if (saveTarget) {
        dialogFileName_ = *saveTarget;
        return true;
    }
    const auto name = ask(R"({"kind":"save","name":)" + jsonString(baseName(dialogFileName_)) + "}");
    if (!name || baseName(*name).empty()) {
        return false;
    }
    dialogFileName_ = baseName(*name);
    return true;
}

std::optional<std::string> WebWindow::chooseVolumeFile(std::string&, const lif::Volume& volume)
{
    showVolume(dialogFileName_, volume);
    return volumeChoice;
}

std::optional<std::string> WebWindow::askVolumeFileName(const lif::Volume& volume, const std::string& offered)
{
    std::string name = offered;
    std::string verdict;
    const std::string label = volume.label.empty() ? "(no label)" : volume.label;
    for (;;) {
        const auto answer = ask(R"({"kind":"volumeName","text":)" +
                                jsonString("The file is a LIF disk image (volume " + label +
                                           "). Name of the program in it (" + lif::kNameRule + "):") +
                                R"(,"name":)" + jsonString(name) + R"(,"verdict":)" + jsonString(verdict) + "}");
        if (!answer) {
            return std::nullopt;
        }
        name = *answer;
        const lif::Entry* old = volume.find(name);
        if (!lif::isValidName(name)) {
            verdict = name + " is no LIF name: a name is " + lif::kNameRule + ".";
        } else if (old != nullptr && old->type != lif::kTypeAscii) {
            verdict = name + " is a file of another type (" + lif::typeName(old->type) + "); it cannot be replaced.";
        } else {
            return name;
        }
    }
}

void WebWindow::showWarningMessage(std::string_view text)
{
    ask(R"({"kind":"alert","text":)" + jsonString(text) + "}");
}

bool WebWindow::askYesNo(std::string_view text, bool noByDefault)
{
    return ask(R"({"kind":"question","text":)" + jsonString(text) + R"(,"noByDefault":)" +
               (noByDefault ? "true" : "false") + "}") == "Yes";
}

void WebWindow::setDocumentFile(std::string_view name)
{
    post(R"({"type":"documentFile","name":)" + jsonString(name) + "}");
}

void WebWindow::showVolume(const std::string& image, const lif::Volume& volume)
{
    std::string files;
    for (const auto& file : volume.files) {
        const bool readable = file.type == lif::kTypeAscii && file.damage.empty();
        files += std::string(files.empty() ? "" : ",") + R"({"name":)" + jsonString(lif::shownName(file.name)) +
                 R"(,"type":)" + jsonString(lif::typeName(file.type)) + R"(,"blocks":)" + std::to_string(file.blocks) +
                 R"(,"date":)" + jsonString(lif::formatDate(file.date)) + R"(,"readable":)" +
                 (readable ? "true" : "false") + R"(,"why":)" +
                 jsonString(file.damage.empty() ? (readable ? "" : lif::notTextReason(file.type)) : file.damage) + "}";
    }
    post(R"({"type":"volume","image":)" + jsonString(baseName(image)) + R"(,"label":)" + jsonString(volume.label) +
         R"(,"container":)" + jsonString(medium(volume.container)) + R"(,"blocks":)" + std::to_string(volume.blocks) +
         R"(,"free":)" + std::to_string(volume.freeBlocks()) + R"(,"files":[)" + files + "]}");
}

void WebWindow::offerDownload(ByteView bytes, std::string_view name)
{
    postWithBytes((R"({"type":"download","name":)" + jsonString(name) + "}").c_str(), bytes.data(), bytes.size());
}

} // namespace varnook::web
