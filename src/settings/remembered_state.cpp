#include "remembered_state.h"

#include "module1.h"
#include "setting_conversions.h"

#include <variant>

namespace varnook::settings {
namespace {

// How a value is read from its text and written back.
enum class Form { Measure, State, Boolean, CheckBox, Text };

struct Key {
    const char* section;
    const char* key;
    const char* fallback; // what ReadSetting gives for a missing or empty value
    Form form;
    std::variant<double RememberedState::*, int RememberedState::*, bool RememberedState::*,
                 std::string RememberedState::*>
        field;
};

const Key kKeys[] = {
    {"Window", "Top", "", Form::Measure, &RememberedState::top},
    {"Window", "Left", "", Form::Measure, &RememberedState::left},
    {"Window", "Height", "", Form::Measure, &RememberedState::height},
    {"Window", "Width", "", Form::Measure, &RememberedState::width},
    {"Window", "State", "", Form::State, &RememberedState::state},
    {"Option", "ReadHP", "True", Form::Boolean, &RememberedState::readHp},
    {"Option", "ReadTXT", "False", Form::Boolean, &RememberedState::readTxt},
    {"Option", "WriteHP", "False", Form::Boolean, &RememberedState::writeHp},
    {"Option", "WriteTXT", "True", Form::Boolean, &RememberedState::writeTxt},
    {"Option", "AddLineNum", "0", Form::CheckBox, &RememberedState::addLineNum},
    {"Option", "Start", "10", Form::Text, &RememberedState::start},
    {"Option", "Step", "10", Form::Text, &RememberedState::step},
};

// The order the window writes them: State first, as its unload step decides
// the state before it returns the window to its normal size.
const int kWriteOrder[] = {4, 0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11};

} // namespace

RememberedState RememberedState::read()
{
    RememberedState state;
    for (const Key& key : kKeys) {
        const std::string text = Module1::ReadSetting(key.section, key.key, key.fallback);
        std::visit(
            [&](auto member) {
                auto& value = state.*member;
                using Value = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<Value, double>) {
                    value = readNumberSetting(text);
                } else if constexpr (std::is_same_v<Value, int>) {
                    value = readWholeNumberSetting(text);
                } else if constexpr (std::is_same_v<Value, bool>) {
                    value = key.form == Form::CheckBox ? readCheckBoxSetting(text) == 1
                                                       : readBooleanSetting(text, std::string(key.fallback) == "True");
                } else {
                    value = text;
                }
            },
            key.field);
    }
    return state;
}

void RememberedState::write() const
{
    for (const int index : kWriteOrder) {
        const Key& key = kKeys[index];
        const std::string text = std::visit(
            [&](auto member) -> std::string {
                const auto& value = this->*member;
                using Value = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<Value, double>) {
                    return formatMeasure(value);
                } else if constexpr (std::is_same_v<Value, int>) {
                    return std::to_string(value);
                } else if constexpr (std::is_same_v<Value, bool>) {
                    return key.form == Form::CheckBox ? (value ? "1" : "0") : formatBoolean(value);
                } else {
                    return value;
                }
            },
            key.field);
        Module1::WriteSetting(key.section, key.key, text);
    }
}

} // namespace varnook::settings
