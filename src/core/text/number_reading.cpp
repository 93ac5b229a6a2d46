#include "number_reading.h"

#include "core/base/failure.h"

#include <cerrno>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdlib>
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

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 170000
// This libc++ (the browser page's) has no from_chars for double: the same
// decimal form, read by strtod (its locale is always "C").
std::from_chars_result fromChars(const char* first, const char* last, double& value)
{
    const char* end = first + (first != last && *first == '-' ? 1 : 0);
    const auto digits = [&](const char* at) {
        while (at != last && isDigit(*at)) {
            ++at;
        }
        return at;
    };
    const char* integral = end;
    end = digits(end);
    bool any = end != integral;
    if (end != last && *end == '.') {
        const char* fraction = end + 1;
        end = digits(fraction);
        any = any || end != fraction;
    }
    if (!any) {
        return {first, std::errc::invalid_argument};
    }
    if (end != last && (*end == 'e' || *end == 'E')) {
        const char* sign = end + 1 != last && (end[1] == '+' || end[1] == '-') ? end + 2 : end + 1;
        const char* exponentEnd = digits(sign);
        end = exponentEnd != sign ? exponentEnd : end;
    }
    const std::string copy(first, end);
    errno = 0;
    const double read = std::strtod(copy.c_str(), nullptr);
    if (errno == ERANGE) {
        return {end, std::errc::result_out_of_range};
    }
    value = read;
    return {end, std::errc()};
}
#else
std::from_chars_result fromChars(const char* first, const char* last, double& value)
{
    return std::from_chars(first, last, value, std::chars_format::general);
}
#endif

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

std::string withoutBlanks(std::string_view text)
{
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (!isBlank(c)) {
            compact += c;
        }
    }
    return compact;
}

// The decimal number at the start of the text: its value (infinite or 0
// beyond a double's range) and its length, 0 when there is none.
struct Scanned {
    double value = 0.0;
    std::size_t length = 0;
};

Scanned scanNumber(std::string_view text)
{
    const std::size_t plus = !text.empty() && text[0] == '+' ? 1 : 0; // from_chars takes no '+'
    const char* first = text.data() + plus;
    const char* last = text.data() + text.size();
    const char* mantissa = first + (plus == 0 && first != last && *first == '-' ? 1 : 0);
    // Digits or a point first: from_chars would take "inf" and "nan" too.
    if (mantissa == last || !(isDigit(*mantissa) || *mantissa == '.')) {
        return {};
    }
    Scanned scanned;
    const auto [end, error] = fromChars(first, last, scanned.value);
    if (error == std::errc::invalid_argument) {
        return {};
    }
    if (error == std::errc::result_out_of_range) {
        const double size =
            decimalOrder(std::string_view(mantissa, static_cast<std::size_t>(end - mantissa))) > 0 ? HUGE_VAL : 0.0;
        scanned.value = mantissa != first ? -size : size;
    }
    scanned.length = static_cast<std::size_t>(end - text.data());
    return scanned;
}

} // namespace

double readNumber(std::string_view text)
{
    return scanNumber(withoutBlanks(text)).value;
}

bool isOnlyANumber(std::string_view text)
{
    const std::string compact = withoutBlanks(text);
    return scanNumber(compact).length == compact.size() && !compact.empty();
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
