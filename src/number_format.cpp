#include "number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ostream>

char* format_real_to(char* first, double value)
{
    const auto spell = [first](const char* word) {
        std::memcpy(first, word, 4);
        return first + 4;
    };
    if (std::isnan(value))
        return spell("-NAN");
    if (std::isinf(value))
        return spell(value < 0 ? "-INF" : "+INF");
    // General notation with precision 6 is printf's %g exactly (the language
    // defines it so): six significant digits, fixed unless the exponent is
    // below -4 or at least 6, trailing zeros dropped, exponent with sign and at
    // least two digits. The longest text, "-1.23457e-308", takes 13 characters.
    return std::to_chars(first, first + longest_real_text, value, std::chars_format::general, 6).ptr;
}

std::string format_real(double value)
{
    char text[longest_real_text];
    return std::string(text, format_real_to(text, value));
}

TextLine& TextLine::operator<<(long long value)
{
    char* first = room(24);
    // Counts below 1000, the most common, digit by digit; the rest by to_chars.
    if (value >= 0 && value < 1000) {
        char* digit = first;
        if (value >= 100)
            *digit++ = static_cast<char>('0' + value / 100);
        if (value >= 10)
            *digit++ = static_cast<char>('0' + value / 10 % 10);
        *digit++ = static_cast<char>('0' + value % 10);
        _size += static_cast<std::size_t>(digit - first);
        return *this;
    }
    _size += static_cast<std::size_t>(std::to_chars(first, first + 24, value).ptr - first);
    return *this;
}

TextLine& TextLine::real(double value)
{
    char* first = room(longest_real_text);
    _size += static_cast<std::size_t>(format_real_to(first, value) - first);
    return *this;
}

char* RealTextCache::format_to(char* first, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    // Multiplied by an odd constant, the bits' high part spreads nearby values
    // over the whole table.
    Entry& entry = _entries[(bits * 2654435761u) >> (32 - index_bits)];
    if (entry.length > 0 && entry.bits == bits) {
        std::memcpy(first, entry.text, entry.length);
        return first + entry.length;
    }
    char* const end = format_real_to(first, value);
    const std::size_t length = static_cast<std::size_t>(end - first);
    if (length <= sizeof entry.text) {
        entry.bits = bits;
        entry.length = static_cast<std::uint8_t>(length);
        std::memcpy(entry.text, first, length);
    }
    return end;
}

TextLine& TextLine::real(float value, RealTextCache& cache)
{
    char* first = room(longest_real_text);
    _size += static_cast<std::size_t>(cache.format_to(first, value) - first);
    return *this;
}

void TextLine::end(std::ostream& out)
{
    *this << '\n';
    out.write(_buffer.data(), static_cast<std::streamsize>(_size));
    out.flush();
    _size = 0;
}
