// Lenient number reading: blanks never change the value, whole-number
// reading either fails or gives a value in the 32-bit range near the number.

#include "check.h"

#include "core/base/failure.h"
#include "core/text/number_reading.h"

#include <cmath>
#include <string>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(data, data + size);
    std::string compact;
    for (const char c : text) {
        if (c != ' ' && c != '\t') {
            compact += c;
        }
    }
    const double value = readNumber(text);
    const double same = readNumber(compact);
    FUZZ_CHECK((std::isnan(value) && std::isnan(same)) || value == same);
    FUZZ_CHECK(!std::isnan(value));
    try {
        const std::int32_t whole = readWholeNumber(text);
        FUZZ_CHECK(std::fabs(static_cast<double>(whole) - value) <= 0.5);
    } catch (const Failure&) {
        FUZZ_CHECK(!(std::nearbyint(value) >= -2147483648.0 && std::nearbyint(value) <= 2147483647.0));
    }
    return 0;
}
