#include "number_reading.h"

#include "failure.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <string>

namespace varnook {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The power of ten of a number's leading digit ("123" 2, "0.05" -2, "1e5" 5),
// for numbers too large or too small for a double. Only its sign matters.
long long decimalOrder(std::string_view number)
{
    const std::size_t e = number.find_first_of("eE");
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::size_t i = e + 1;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '-' || number[i] == '+')) {
            ++i;
        }
        for (; i < number.size() && exponent < 1'000'000'000LL; ++i) {
            exponent = exponent * 10 + (number[i] - '0');
        }
        if (negative) {
            exponent = -exponent;
        }
        number = number.substr(0, e);
    }
    const std::size_t point = number.find('.');
    const std::string_view whole = number.substr(0, point);
    const std::size_t firstNonZero = whole.find_first_not_of('0');
    if (firstNonZero != std::string_view::npos) {
        return exponent + static_cast<long long>(whole.size() - firstNonZero) - 1;
    }
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
    const std::size_t leadingZeros = fraction.find_first_not_of('0');
    return exponent - static_cast<long long>(leadingZeros == std::string_view::npos ? 0 : leadingZeros) - 1;
}

} // namespace

double readNumber(std::string_view text)
{
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (!isBlank(c)) {
            compact += c;
        }
    }

    std::size_t i = 0;
    bool negative = false;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-')) {
        negative = compact[i] == '-';
        ++i;
    }
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < compact.size() && isDigit(compact[i])) {
        ++i;
        ++digits;
    }
    if (i < compact.size() && compact[i] == '.') {
        std::size_t j = i + 1;
        std::size_t fraction = 0;
        while (j < compact.size() && isDigit(compact[j])) {
            ++j;
            ++fraction;
        }
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    std::size_t end = i;
    if (i < compact.size() && (compact[i] == 'e' || compact[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < compact.size() && (compact[j] == '+' || compact[j] == '-')) {
            ++j;
        }
        const std::size_t exponentDigits = j;
        while (j < compact.size() && isDigit(compact[j])) {
            ++j;
        }
        if (j > exponentDigits) {
            end = j;
        }
    }

    // from_chars takes no '+', and a mantissa like "5." or ".5" as it stands.
    double value = 0.0;
    const char* first = compact.data() + mantissaStart;
    const auto [ptr, ec] = std::from_chars(first, compact.data() + end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        value =
            decimalOrder(std::string_view(first, static_cast<std::size_t>(end - mantissaStart))) > 0 ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

std::int32_t readWholeNumber(std::string_view text)
{
    const double value = readNumber(text);
    // nearbyint rounds a half to the even neighbour in the default rounding mode.
    const double whole = std::nearbyint(value);
    if (!(whole >= -2147483648.0 && whole <= 2147483647.0)) {
        throw Failure("the number \"" + std::string(text) + "\" lies outside the 32-bit range");
    }
    return static_cast<std::int32_t>(whole);
}

} // namespace varnook
