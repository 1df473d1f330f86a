#ifndef CORVANE_WHOLE_NUMBER_H
#define CORVANE_WHOLE_NUMBER_H

#include <cstddef>
#include <cstdint>
#include <string>

// Whole numbers are written with an optional sign and automatic base detection:
// a leading 0x or 0X makes them hexadecimal, any other leading 0 octal, and
// otherwise they are decimal. The data file reader and the console reader both
// scan them here, so the two accept exactly the same numbers.

enum class WholeNumberScan { ok, not_a_number, out_of_range };

struct ScannedWholeNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;  // saturates just above 2^32: larger is out of range anyway
};

inline int digit_value(int ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return 99;
}

// Scans the longest prefix of the source that forms a whole number, the way a
// stream extracts one: "25abc" gives 25 and leaves "abc", "08" gives 0 and leaves
// "8". The source offers peek() (-1 at its end) and next().
template <class Source>
WholeNumberScan scan_whole_number(Source& source, ScannedWholeNumber& number)
{
    constexpr std::uint64_t saturation = (std::uint64_t{1} << 32) + 1;
    number = ScannedWholeNumber{};
    if (source.peek() == '+' || source.peek() == '-') {
        number.negative = source.peek() == '-';
        source.next();
    }
    int base = 10;
    int digits = 0;
    if (source.peek() == '0') {
        source.next();
        digits = 1;
        base = 8;
        if (source.peek() == 'x' || source.peek() == 'X') {
            source.next();
            base = 16;
            digits = 0;  // "0x" needs at least one hexadecimal digit after it
        }
    }
    while (digit_value(source.peek()) < base) {
        std::uint64_t next = number.magnitude * base + digit_value(source.peek());
        number.magnitude = next > saturation ? saturation : next;
        source.next();
        ++digits;
    }
    if (digits == 0)
        return WholeNumberScan::not_a_number;
    return number.magnitude >= saturation ? WholeNumberScan::out_of_range : WholeNumberScan::ok;
}

// A signed 32-bit value, or false when the number lies outside that range.
inline bool whole_number_to_int(const ScannedWholeNumber& number, int& value)
{
    const std::uint64_t limit = number.negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (number.magnitude > limit)
        return false;
    value = number.negative ? static_cast<int>(-static_cast<std::int64_t>(number.magnitude))
                            : static_cast<int>(number.magnitude);
    return true;
}

// An unsigned 32-bit value; a minus sign gives the value modulo 2^32 (-1 is
// 4294967295). False when the magnitude does not fit 32 bits.
inline bool whole_number_to_uint32(const ScannedWholeNumber& number, std::uint32_t& value)
{
    if (number.magnitude > 0xFFFFFFFFu)
        return false;
    const auto magnitude = static_cast<std::uint32_t>(number.magnitude);
    value = number.negative ? 0u - magnitude : magnitude;
    return true;
}

// Scans the whole of a text (a data file token, an option's value) as a whole
// number; `whole` tells whether the number took every character of it.
inline WholeNumberScan scan_whole_text(const std::string& text, ScannedWholeNumber& number, bool& whole)
{
    struct TextSource {
        const std::string& text;
        std::size_t pos;
        int peek() const { return pos < text.size() ? static_cast<unsigned char>(text[pos]) : -1; }
        void next() { ++pos; }
    } source{text, 0};
    const WholeNumberScan scan = scan_whole_number(source, number);
    whole = source.pos == text.size();
    return scan;
}

// A token of the data file that must be wholly a signed 32-bit whole number:
// "12abc" or "1.5" is not a number, "2147483648" is out of range. The value is
// stored only when the result is ok.
inline WholeNumberScan parse_whole_token(const std::string& token, int& value)
{
    ScannedWholeNumber number;
    bool whole = false;
    const WholeNumberScan scan = scan_whole_text(token, number, whole);
    if (scan == WholeNumberScan::not_a_number || (scan == WholeNumberScan::ok && !whole))
        return WholeNumberScan::not_a_number;
    if (scan == WholeNumberScan::out_of_range || !whole_number_to_int(number, value))
        return WholeNumberScan::out_of_range;
    return WholeNumberScan::ok;
}

#endif
