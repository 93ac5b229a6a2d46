#pragma once

#include "operations/operation_frame.h"
#include "operations/window_operations.h"

#include "core/line_breaks.h"

#include <functional>
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
    void setDocumentText(std::string_view text) override
    {
        document = normalizeLineBreaks(std::string(text));
        calls.push_back("document " + std::to_string(document.size()));
    }
    bool readAsHpSelected() override { return readHp; }
    bool lineNumbersWanted() override { return lineNumbers; }
    std::string startText() override { return start; }
    std::string stepText() override { return step; }
    bool writeAsTxtSelected() override { return writeTxt; }
    void setBusy() override
    {
        busy = true;
        calls.push_back("busy");
    }
    void setIdle() override
    {
        busy = false;
        calls.push_back("idle");
    }
    void setStatusText(std::string_view text) override
    {
        status = std::string(text);
        calls.push_back("status " + status);
    }
    void setProgressMaximum(double newMaximum) override
    {
        maximum = newMaximum;
        calls.push_back("maximum " + number(newMaximum));
    }
    double progressMaximum() override { return maximum; }
    void setProgressValue(double newValue) override
    {
        value = newValue;
        calls.push_back("value " + number(newValue));
    }
    void startProgressTimer() override
    {
        timerRunning = true;
        calls.push_back("timer on");
    }
    void stopProgressTimer() override
    {
        timerRunning = false;
        calls.push_back("timer off");
    }
    void yield() override
    {
        ++yields;
        if (onYield) {
            onYield();
        }
    }
    void setDialogFileName(const std::string& name) override
    {
        dialogName = name;
        calls.push_back("dialog name " + name);
    }
    std::string dialogFileName() override { return dialogName; }
    void setDialogFilter(const std::string& filter) override { dialogFilter = filter; }
    void setDialogFilterIndex(int index) override { dialogFilterIndex = index; }
    bool showOpenDialog() override { return answer("open dialog"); }
    bool showSaveDialog() override { return answer("save dialog"); }
    void showWarningMessage(std::string_view text) override
    {
        warnings.emplace_back(text);
        calls.push_back("warning " + std::string(text));
    }

    // The calls whose text starts with one of the prefixes, in order.
    std::vector<std::string> only(std::initializer_list<std::string_view> prefixes) const
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

private:
    static std::string number(double x)
    {
        return std::to_string(static_cast<long long>(x));
    }

    bool answer(const std::string& what)
    {
        calls.push_back(what);
        if (!dialogAnswer) {
            return false;
        }
        dialogName = *dialogAnswer;
        return true;
    }
};

} // namespace varnook::test
