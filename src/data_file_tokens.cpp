#include "data_file_tokens.h"

#include <charconv>
#include <cstdlib>

namespace {

bool is_digit(char ch)
{
    return ch >= '0' && ch <= '9';
}

}  // namespace

// A decimal number with optional sign, point and exponent, and nothing else:
// no infinity, no not-a-number, no hexadecimal floating notation.
bool is_decimal_number(const std::string& token)
{
    std::size_t pos = 0;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
        ++pos;
    std::size_t mantissa_digits = 0;
    while (pos < token.size() && is_digit(token[pos])) { ++pos; ++mantissa_digits; }
    if (pos < token.size() && token[pos] == '.') {
        ++pos;
        while (pos < token.size() && is_digit(token[pos])) { ++pos; ++mantissa_digits; }
    }
    if (mantissa_digits == 0)
        return false;
    if (pos < token.size() && (token[pos] == 'e' || token[pos] == 'E')) {
        ++pos;
        if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
            ++pos;
        std::size_t exponent_digits = 0;
        while (pos < token.size() && is_digit(token[pos])) { ++pos; ++exponent_digits; }
        if (exponent_digits == 0)
            return false;
    }
    return pos == token.size();
}

// A decimal token's value rounded to the nearest float. from_chars and strtof
// both round correctly, so they agree; from_chars is the faster, and strtof
// serves what from_chars leaves (a leading '+', a magnitude beyond the floats
// or below them, which strtof makes infinite or zero).
float decimal_to_float(const std::string& token)
{
    float value = 0;
    const char* end = token.data() + token.size();
    const auto [stop, problem] = std::from_chars(token.data(), end, value);
    if (problem == std::errc() && stop == end)
        return value;
    return std::strtof(token.c_str(), nullptr);
}

