#ifndef CORVANE_NUMBER_FORMAT_H
#define CORVANE_NUMBER_FORMAT_H

#include <iosfwd>
#include <string>

// Formats a floating value the one way every stream of the program prints it:
// general notation with six significant digits, trailing zeros and a trailing
// point removed, exponent written as e, a sign and at least two digits
// (1e-05, 1.5e+06), and the infinities as +INF and -INF. A not-a-number is
// -NAN whatever its sign bit: the program reads none, so each comes from an
// invalid operation (inf - inf, 0 * inf), whose sign the processor chooses
// (x86-64 sets it, ARM64 clears it); x86-64's text is the same on every
// processor. A single-precision value passed here is widened exactly, so it is
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
    TextLine& operator<<(const char* text) { return append(text, std::char_traits<char>::length(text)); }
    TextLine& operator<<(const std::string& text) { return append(text.data(), text.size()); }
    TextLine& operator<<(char ch) { return append(&ch, 1); }
    TextLine& operator<<(int value) { return *this << static_cast<long long>(value); }
    TextLine& operator<<(long long value);
    TextLine& real(double value);
    // Appends the line end, writes the line, flushes the stream and starts anew.
    void end(std::ostream& out);

private:
    // Room for `more` characters after the text, which is `_size` long.
    char* room(std::size_t more)
    {
        if (_buffer.size() < _size + more)
            _buffer.resize(2 * (_size + more));
        return &_buffer[_size];
    }
    TextLine& append(const char* text, std::size_t length)
    {
        std::char_traits<char>::copy(room(length), text, length);
        _size += length;
        return *this;
    }

    std::string _buffer;
    std::size_t _size = 0;
};

#endif
