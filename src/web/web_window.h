#pragma once

#include "operations/window_operations.h"

#include <optional>
#include <string>
#include <string_view>

namespace varnook::web {

// Text as a JSON string literal.
std::string jsonString(std::string_view text);

// Posts a message (a JSON object) to the page.
void post(const std::string& json);

// The window's side of the commands in the page's worker: the page shows
// what the commands say and answers what they ask; the worker waits for
// the answers (the calls suspend until they come).
class WebWindow : public WindowOperations {
public:
    // The page's controls as they stood when the command started.
    struct Options {
        bool readHp = true;
        bool lineNumbers = false;
        std::string start = "10";
        std::string step = "10";
        bool writeTxt = true;
    };
    Options options;
    // Set by the page's commands that already know their answer: the file
    // to read out of a volume, the file to write to.
    std::optional<std::string> volumeChoice;
    std::optional<std::string> saveTarget;

    std::string documentText() override { return document_; }
    void setDocumentText(std::string_view text) override;
    // The page's edited text; it does not go back to the page.
    void takeEditedText(std::string_view text);

    bool readAsHpSelected() override { return options.readHp; }
    bool lineNumbersWanted() override { return !options.readHp && options.lineNumbers; }
    std::string startText() override { return options.start; }
    std::string stepText() override { return options.step; }
    void setStartText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    bool writeAsTxtSelected() override { return options.writeTxt; }

    void setBusy() override;
    void setIdle() override;
    void setStatusText(std::string_view text) override;
    std::string statusText() override { return status_; }
    void setProgressMaximum(double maximum) override;
    double progressMaximum() override { return progressMaximum_; }
    void setProgressValue(double value) override;
    void startProgressTimer() override { timerRunning_ = true; }
    void stopProgressTimer() override { timerRunning_ = false; }
    void yield() override;

    void setDialogFileName(const std::string& name) override { dialogFileName_ = name; }
    std::string dialogFileName() override { return dialogFileName_; }
    void setDialogFilter(const std::string&) override { }
    void setDialogFilterIndex(int) override { }
    // The page picks the file before the command starts.
    bool showOpenDialog() override { return false; }
    bool showSaveDialog() override;

    std::optional<std::string> chooseVolumeFile(std::string& image, const lif::Volume& volume) override;
    std::optional<std::string> askVolumeFileName(const lif::Volume& volume, const std::string& offered) override;

    void showWarningMessage(std::string_view text) override;
    bool askYesNo(std::string_view text, bool noByDefault = false) override;
    void setDocumentFile(std::string_view name) override;

    // Shows the catalogue of the image (a path in the page's folder).
    void showVolume(const std::string& image, const lif::Volume& volume);
    // Hands the bytes to the page, which downloads them under the name.
    void offerDownload(ByteView bytes, std::string_view name);

private:
    std::string document_;
    std::string status_;
    std::string dialogFileName_;
    double progressMaximum_ = 0;
    bool timerRunning_ = false;
    double lastProgress_ = 0;
};

// The folder of the page's files: those the user gave it, those written.
inline constexpr const char* kFilesFolder = "/files/";

} // namespace varnook::web
