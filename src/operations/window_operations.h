#pragma once

#include "core/lif/lif.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnook {

// What the commands need of the main window, which provides them on its
// real controls. Keeping them behind this interface keeps the commands free
// of Qt.
class WindowOperations {
public:
    virtual ~WindowOperations() = default;

    // The document area. Setting text turns every line break (CR LF, lone
    // CR, lone LF) into one CR LF; reading returns line breaks as CR LF.
    virtual std::string documentText() = 0;
    virtual void setDocumentText(std::string_view text) = 0;

    virtual bool readAsHpSelected() = 0;
    virtual bool lineNumbersWanted() = 0;
    virtual std::string startText() = 0;
    virtual std::string stepText() = 0;
    // Shows the number a field was read as.
    virtual void setStartText(const std::string& text) = 0;
    virtual void setStepText(const std::string& text) = 0;
    virtual bool writeAsTxtSelected() = 0;

    // Busy disables the whole window, so no second command can start.
    virtual void setBusy() = 0;
    virtual void setIdle() = 0;

    virtual void setStatusText(std::string_view text) = 0;
    virtual std::string statusText() = 0;

    virtual void setProgressMaximum(double maximum) = 0;
    virtual double progressMaximum() = 0;
    virtual void setProgressValue(double value) = 0;
    // The 250 ms tick that copies ProgressCount into the progress bar.
    virtual void startProgressTimer() = 0;
    virtual void stopProgressTimer() = 0;
    // Lets pending window events (repaint, timer ticks) run; nothing when
    // called aside (below).
    virtual void yield() = 0;
    // Runs work that touches nothing of the window (it may yield) while the
    // window stays responsive: aside from the window's thread where there
    // is one, the window's events running meanwhile (the user's input left
    // waiting). A failure inside is thrown here.
    virtual void aside(const std::function<void()>& work) { work(); }

    // The one file dialog of the window; its file name survives between uses.
    virtual void setDialogFileName(const std::string& name) = 0;
    virtual std::string dialogFileName() = 0;
    virtual void setDialogFilter(const std::string& filter) = 0;
    virtual void setDialogFilterIndex(int index) = 0;
    // Modal; false when the user cancelled.
    virtual bool showOpenDialog() = 0;
    virtual bool showSaveDialog() = 0;

    // LIF disk images. Modal; nothing when the user cancelled. The user picks
    // an ASCII file of the volume to read (and may change the image, or pick
    // one from another image: image is then that one), or names the file to
    // write into it (offered: a name to start from).
    virtual std::optional<std::string> chooseVolumeFile(std::string& image, const lif::Volume& volume) = 0;
    virtual std::optional<std::string> askVolumeFileName(const lif::Volume& volume, const std::string& offered) = 0;

    // Modal message with a warning icon, an OK button and the caption Varnook.
    virtual void showWarningMessage(std::string_view text) = 0;
    // Modal question with Yes and No and the caption Varnook; true for Yes.
    // Return takes Yes, or No where a Yes would lose what the user has.
    virtual bool askYesNo(std::string_view text, bool noByDefault = false) = 0;

    // The document now holds what the named file holds, just read or
    // written: the window shows the name, and that nothing is unwritten.
    virtual void setDocumentFile(std::string_view name) = 0;

    // Where the document came from, as the next Write File needs it.
    struct DocumentOrigin {
        // The disk image it was read out of, until it is written somewhere.
        std::string image;
        // The name of the file last read out of a volume or written into
        // one, offered when writing into one.
        std::string volumeFileName;
    };
    DocumentOrigin& documentOrigin() { return origin_; }

private:
    DocumentOrigin origin_;
};

} // namespace varnook
