#include "BuildNumber.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace {

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<qint64> BuildNumber::parse(std::string_view text)
{
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
    // from_chars alone would take "+-3" after the "+" and knows no "+" at all,
    // so the shape is checked here and from_chars only does the arithmetic.
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isAsciiDigit))
        return std::nullopt;

    // Keeping the "-" lets the most negative value parse without overflow.
    const std::string_view number = negative ? text : digits;
    qint64 value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    return value;
}
