#pragma once

#include <cstdint>
#include <string_view>

namespace varnook {

// Reads a number the lenient way stored and typed values are read: blanks
// anywhere are ignored, the longest leading decimal number (optional sign,
// digits, optional "." and digits, optional exponent) is taken and the rest
// ignored; a text without one reads as 0.
double readNumber(std::string_view text);

// True when the text, blanks aside, is nothing but a decimal number (as
// readNumber takes one), whole or not.
bool isOnlyANumber(std::string_view text);

// readNumber rounded to the nearest whole number, a half to the even
// neighbour. Throws Failure when the result lies outside the 32-bit range.
std::int32_t readWholeNumber(std::string_view text);

} // namespace varnook
