#pragma once

#include <string>
#include <string_view>

// How remembered values are read from and written to their stored text.
namespace varnook::settings {

// Lenient number reading: blanks ignored, the longest leading decimal number,
// 0 when there is none.
double readNumberSetting(std::string_view text);

// Number reading rounded half to even; 0 outside the 32-bit range.
int readWholeNumberSetting(std::string_view text);

// "True" and "False" in any letter case, or a number (true unless 0); any
// other text gives the fallback.
bool readBooleanSetting(std::string_view text, bool fallback);

// A check box: 1 (checked) for the whole number 1, else 0.
int readCheckBoxSetting(std::string_view text);

// A window measure in twips: up to seven significant digits, no decimal
// point when whole, "-" for a negative value.
std::string formatMeasure(double twips);

std::string formatBoolean(bool value);

} // namespace varnook::settings
