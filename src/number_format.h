#ifndef CORVANE_NUMBER_FORMAT_H
#define CORVANE_NUMBER_FORMAT_H

#include <iosfwd>
#include <string>

// Formats a floating value the one way every stream of the program prints it:
// general notation with six significant digits, trailing zeros and a trailing
// point removed, exponent written as e, a sign and at least two digits
// (1e-05, 1.5e+06), and the infinities and not-a-numbers as +INF, -INF, +NAN
// and -NAN. A single-precision value passed here is widened exactly, so it is
// printed at its true value, not rounded to float digits first.
std::string format_real(double value);

// The same text written at `first`, which has room for longest_real_text
// characters; returns the end of the text.
constexpr int longest_real_text = 24;
char* format_real_to(char* first, double value);

// One line of output built in memory, then written and flushed at once: the
// same bytes as streaming its parts and ending it with std::endl, handed to the
// file in one write, so that the file still holds every finished line.
class TextLine {
public:
    TextLine& operator<<(const char* text)
    {
        _text += text;
        return *this;
    }
    TextLine& operator<<(const std::string& text)
    {
        _text += text;
        return *this;
    }
    TextLine& operator<<(char ch)
    {
        _text += ch;
        return *this;
    }
    TextLine& operator<<(int value) { return *this << static_cast<long long>(value); }
    TextLine& operator<<(long long value);
    TextLine& real(double value);
    // Appends the line end, writes the line, flushes the stream and starts anew.
    void end(std::ostream& out);

private:
    std::string _text;
};

#endif
