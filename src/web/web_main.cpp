// The entry points the worker's script calls, one per command of the page.

#include "web_window.h"

#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/lif/lif.h"
#include "operations/file_commands.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "settings/remembered_state.h"

#include <emscripten.h>

#include <filesystem>

namespace varnook::web {
namespace {

WebWindow& window()
{
    static WebWindow instance;
    return instance;
}

CodePage& codePage()
{
    static CodePage page = CodePage::named("windows-1252");
    return page;
}

EM_JS(void, postConfig, (const char* text), { varnookPost({type : "config", text : UTF8ToString(text)}); });

// config.ini as it now stands, for the page to keep.
void keepSettings()
{
    const std::string path = Module1::AppFolder() + "config.ini";
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        const Bytes bytes = readFileBytes(path);
        postConfig(std::string(bytes.begin(), bytes.end()).c_str());
    }
}

// The page's files are named as the user knows them: by name alone, in the
// working folder.
std::string filePath(const char* name)
{
    return std::filesystem::path(name).filename().string();
}

} // namespace
} // namespace varnook::web

using namespace varnook;
using namespace varnook::web;

extern "C" {

// Settings from config.ini (written to the settings folder by the page
// beforehand) and the page's language; tells the page what to show.
EMSCRIPTEN_KEEPALIVE void web_start(const char* language)
{
    Module1::useFolder(std::filesystem::path("/settings"));
    std::filesystem::create_directories("/settings");
    std::filesystem::create_directories(kFilesFolder);
    std::filesystem::current_path(kFilesFolder);
    const auto state = settings::RememberedState::read();
    std::string page = Module1::ReadSetting("Option", "CodePage", "");
    try {
        codePage() = CodePage::named(page.empty() ? CodePage::nameForLocale(language) : page);
    } catch (const Failure&) {
        codePage() = CodePage::named(CodePage::nameForLocale(language));
    }
    std::string names;
    for (const auto& name : CodePage::names()) {
        names += std::string(names.empty() ? "" : ",") + jsonString(name);
    }
    const auto flag = [](bool on) { return on ? "true" : "false"; };
    post((std::string(R"({"type":"ready","codePages":[)") + names + R"(],"codePage":)" + jsonString(codePage().name()) +
          R"(,"readHp":)" + flag(state.readHp || !state.readTxt) + R"(,"writeTxt":)" +
          flag(state.writeTxt || !state.writeHp) + R"(,"lineNumbers":)" + flag(state.addLineNum) + R"(,"start":)" +
          jsonString(state.start) + R"(,"step":)" + jsonString(state.step) + "}"));
}

// The page's controls; remembered in config.ini as the window remembers them.
EMSCRIPTEN_KEEPALIVE void web_options(int readHp, int lineNumbers, const char* start, const char* step, int writeTxt,
                                      const char* page)
{
    auto& options = window().options;
    options = {readHp != 0, lineNumbers != 0, start, step, writeTxt != 0};
    try {
        codePage() = CodePage::named(page);
    } catch (const Failure&) {
        // Kept as it was: the page offers only the names there are.
    }
    auto state = settings::RememberedState::read();
    state.readHp = options.readHp;
    state.readTxt = !options.readHp;
    state.writeTxt = options.writeTxt;
    state.writeHp = !options.writeTxt;
    state.addLineNum = options.lineNumbers;
    state.start = options.start;
    state.step = options.step;
    state.write();
    Module1::WriteSetting("Option", "CodePage", codePage().name());
    keepSettings();
}

// The document as the user edited it.
EMSCRIPTEN_KEEPALIVE void web_edited(const char* text, std::size_t size)
{
    window().takeEditedText(std::string_view(text, size));
}

// Reads the named file of the page's folder into the document; with a
// volume file's name, that file out of the image.
EMSCRIPTEN_KEEPALIVE void web_read(const char* name, const char* volumeFile)
{
    WebWindow& page = window();
    const bool readHp = page.options.readHp;
    page.volumeChoice.reset();
    if (*volumeFile != '\0') {
        page.volumeChoice = std::string(volumeFile);
        page.options.readHp = true;
    }
    ReadProgramFile(page, codePage(), filePath(name));
    page.options.readHp = readHp;
    page.volumeChoice.reset();
    keepSettings();
}

// Writes the document: to a file the user names, or (intoImage) into the
// image the document was read out of. The written file is downloaded.
EMSCRIPTEN_KEEPALIVE int web_write(const char* intoImage)
{
    WebWindow& page = window();
    const auto options = page.options;
    page.saveTarget.reset();
    const std::string origin = page.documentOrigin().image;
    if (*intoImage != '\0') {
        // A program goes into an image as HP BASIC ASCII, whatever the Write
        // option, under the name the user gives: the button chose the image,
        // so the offer of the way back is not asked.
        page.saveTarget = filePath(intoImage);
        page.options.writeTxt = false;
        page.documentOrigin().image.clear();
    }
    const bool done = WriteProgramFile(page, codePage(), page.documentText());
    if (!done) {
        page.documentOrigin().image = origin;
    }
    page.saveTarget.reset();
    page.options = options;
    if (done) {
        const std::string target = page.dialogFileName();
        runCommand(page, {true, target}, [&] {
            if (lif::isVolumeFile(target)) {
                page.showVolume(target, lif::readVolume(target));
            }
            page.offerDownload(readFileBytes(target), std::filesystem::path(target).filename().string());
        });
    }
    keepSettings();
    return done ? 1 : 0;
}

// Downloads a file of the image in the LIF exchange form.
EMSCRIPTEN_KEEPALIVE void web_extract(const char* image, const char* name)
{
    const std::string path = filePath(image);
    runCommand(window(), {false, path}, [&] {
        const lif::VolumeReader reader(path);
        const lif::Entry& entry = reader.volume().named(name);
        window().offerDownload(reader.singleFileForm(entry), lif::shownName(entry.name));
    });
}

// Downloads the volume of a capture as a plain image, which can be written.
EMSCRIPTEN_KEEPALIVE void web_export(const char* image)
{
    const std::string path = filePath(image);
    runCommand(window(), {false, path}, [&] {
        const lif::VolumeReader reader(path);
        window().offerDownload(reader.image(), std::filesystem::path(path).stem().string() + ".lif");
    });
}

} // extern "C"
