#pragma once

#include "operations/window_operations.h"

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace varnook::test {

// The window operations in memory. Records every call that changes
// something, in order, as short texts ("status Now Reading", "busy", ...).
class FakeWindow : public WindowOperations {
public:
    // What the user does and has chosen.
    std::string document;
    bool readHp = true;
    bool lineNumbers = false;
    std::string start = "10";
    std::string step = "10";
    bool writeTxt = false;
    // The file the user picks in the next dialog; nullopt cancels it.
    std::optional<std::string> dialogAnswer;
    // The answer to the next volume dialog (a LIF file name); nullopt cancels.
    std::optional<std::string> volumeAnswer;
    // Runs at every yield (a timer tick, or something the test wants to happen).
    std::function<void()> onYield;

    std::vector<std::string> calls;
    std::string status;
    bool busy = false;
    bool timerRunning = false;
    double maximum = 0;
    double value = 0;
    std::string dialogName;
    std::string dialogFilter;
    int dialogFilterIndex = 0;
    int yields = 0;
    std::vector<std::string> warnings;

    std::string documentText() override { return document; }
    void setDocumentText(std::string_view text) override;
    bool readAsHpSelected() override { return readHp; }
    bool lineNumbersWanted() override { return lineNumbers; }
    std::string startText() override { return start; }
    std::string stepText() override { return step; }
    bool writeAsTxtSelected() override { return writeTxt; }
    void setBusy() override { record("busy", busy = true); }
    void setIdle() override { record("idle", busy = false); }
    void setStatusText(std::string_view text) override { record("status " + (status = std::string(text))); }
    void setProgressMaximum(double to) override { record("maximum " + number(maximum = to)); }
    double progressMaximum() override { return maximum; }
    void setProgressValue(double to) override { record("value " + number(value = to)); }
    void startProgressTimer() override { record("timer on", timerRunning = true); }
    void stopProgressTimer() override { record("timer off", timerRunning = false); }
    void yield() override;
    void setDialogFileName(const std::string& name) override { record("dialog name " + (dialogName = name)); }
    std::string dialogFileName() override { return dialogName; }
    void setDialogFilter(const std::string& filter) override { dialogFilter = filter; }
    void setDialogFilterIndex(int index) override { dialogFilterIndex = index; }
    bool showOpenDialog() override { return answer("open dialog"); }
    bool showSaveDialog() override { return answer("save dialog"); }
    void showWarningMessage(std::string_view text) override;
    std::optional<std::string> chooseVolumeFile(const lif::Volume& volume) override;
    std::optional<std::string> askVolumeFileName(const lif::Volume&, const std::string& offered) override
    {
        record("volume name offered " + offered);
        return volumeAnswer;
    }

    // The calls whose text starts with one of the prefixes, in order.
    std::vector<std::string> only(std::initializer_list<std::string_view> prefixes) const;

private:
    void record(std::string call, bool = false) { calls.push_back(std::move(call)); }
    static std::string number(double x) { return std::to_string(static_cast<long long>(x)); }
    bool answer(const std::string& what);
};

} // namespace varnook::test
