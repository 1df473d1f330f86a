#ifndef CORVANE_NUMBER_FORMAT_H
#define CORVANE_NUMBER_FORMAT_H

#include <cstdint>
#include <iosfwd>
#include <memory>
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

// The texts of single-precision values met before, for output that repeats a
// few values many times (the distances of a data file, given with a few
// decimals, come back at every locus): a value whose text is kept is copied,
// any other formatted by format_real and kept in place of the text of another
// value, so that the bytes are those of format_real always.
class RealTextCache {
public:
    // The text of `value`, written at `first` (room for longest_real_text
    // characters); returns the end of the text.
    char* format_to(char* first, float value);

private:
    struct Entry {
        std::uint32_t bits = 0;
        std::uint8_t length = 0;  // 0: nothing kept here yet
        char text[15] = {};
    };
    static constexpr int index_bits = 12;
    static constexpr std::size_t entries = std::size_t{1} << index_bits;
    std::unique_ptr<Entry[]> _entries{new Entry[entries]};
};

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
    TextLine& real(float value, RealTextCache& cache);
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
