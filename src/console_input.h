#ifndef CORVANE_CONSOLE_INPUT_H
#define CORVANE_CONSOLE_INPUT_H

#include <cstdint>
#include <istream>
#include <string>

struct ScannedWholeNumber;

// Reads the user's answers from one buffered console stream, token by token:
// whatever a typed line holds beyond the token that a question takes stays in
// the input for the next question. A read that fails (end of input, or no
// number where one is expected) stores nothing, and from then on every read
// fails at once without waiting, so a run fed from a pipe that ends early
// cannot hang.
class ConsoleInput {
public:
    explicit ConsoleInput(std::istream& in);

    bool read_word(std::string& word);           // skips white space, ends before the next
    bool read_char(char& answer);                // the first character that is not white space
    bool read_int(int& value);                   // signed, automatic base detection
    bool read_uint32(std::uint32_t& value);      // a minus sign wraps modulo 2^32

    bool failed() const { return failed_; }

    // What is left of the token the last read stopped in (the "es" of a "yes"
    // that gave one letter, the "e6" of a "1e6" that gave a number), without
    // consuming it: the next read still sees it.
    std::string rest_of_token();
    // The characters the last whole-number read consumed ("1" of "1e6").
    const std::string& last_number_text() const { return number_text_; }

    // Used by the whole-number scanner: the next character, or -1 at the end.
    int peek();
    void next();

private:
    bool skip_white_space();
    bool read_whole_number(ScannedWholeNumber& number);

    std::istream& in_;
    std::string looked_ahead_;  // characters taken from in_ but not yet consumed
    std::string number_text_;
    bool recording_number_ = false;
    bool failed_ = false;
};

// Blank, tab, line feed, carriage return, vertical tab, form feed; inline, since
// the data file's reader asks it of every character.
inline bool is_white_space(int ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

#endif
