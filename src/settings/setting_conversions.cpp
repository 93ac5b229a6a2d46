#include "setting_conversions.h"

#include "core/base/failure.h"
#include "core/text/number_reading.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <charconv>
#include <string>

namespace varnook::settings {
namespace {

std::string lowered(std::string_view text)
{
    std::string result;
    for (const char c : text) {
        if (c != ' ' && c != '\t') {
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return result;
}

} // namespace

double readNumberSetting(std::string_view text)
{
    return readNumber(text);
}

int readWholeNumberSetting(std::string_view text)
{
    try {
        return readWholeNumber(text);
    } catch (const Failure&) {
        return 0;
    }
}

bool readBooleanSetting(std::string_view text, bool fallback)
{
    const std::string word = lowered(text);
    if (word == "true") {
        return true;
    }
    if (word == "false") {
        return false;
    }
    if (isOnlyANumber(text)) {
        return readNumber(text) != 0.0;
    }
    return fallback;
}

int readCheckBoxSetting(std::string_view text)
{
    return readWholeNumberSetting(text) == 1 ? 1 : 0;
}

std::string formatMeasure(double twips)
{
    if (!std::isfinite(twips)) {
        return "0";
    }
    char buffer[32];
#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 170000
    // The browser page's libc++ has no to_chars for double; its locale is always "C".
    std::string text(buffer, static_cast<std::size_t>(std::snprintf(buffer, sizeof buffer, "%.7G", twips)));
#else
    // to_chars, unlike printf, does not follow the locale's decimal comma.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, twips, std::chars_format::general, 7);
    std::string text(buffer, result.ptr);
#endif
    std::replace(text.begin(), text.end(), 'e', 'E');
    return text == "-0" ? std::string("0") : text;
}

std::string formatBoolean(bool value)
{
    return value ? "True" : "False";
}

} // namespace varnook::settings
