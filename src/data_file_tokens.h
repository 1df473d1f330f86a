#ifndef CORVANE_DATA_FILE_TOKENS_H
#define CORVANE_DATA_FILE_TOKENS_H

#include <cstddef>
#include <string>
#include <utility>

#include "console_input.h"

// The data file as a sequence of white-space separated tokens (blank, tab, line
// feed, carriage return, vertical tab, form feed). The file is read whole, then
// cut into tokens on demand; line breaks carry no meaning.
class DataFileTokens {
public:
    explicit DataFileTokens(std::string contents)
        : _owned(std::move(contents)), _text(_owned.data()), _size(_owned.size())
    {
    }
    // The tokens of `whole`'s text from `position` on; `whole` must outlive
    // them. Several threads may each read a part of one file so.
    DataFileTokens(const DataFileTokens& whole, std::size_t position)
        : _text(whole._text), _size(whole._size), _pos(position)
    {
    }
    DataFileTokens(const DataFileTokens&) = delete;
    DataFileTokens& operator=(const DataFileTokens&) = delete;

    // The next token, or false at the end of the file.
    bool next(std::string& token)
    {
        const std::size_t start = pass_token();
        if (start == _pos)
            return false;
        token.assign(_text + start, _pos - start);
        return true;
    }

    // Passes over `count` tokens; false when the file ends first.
    bool skip(std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i)
            if (pass_token() == _pos)
                return false;
        return true;
    }

    // The whole text of tokens made from a file's contents.
    const std::string& contents() const { return _owned; }

    // Where the next token is looked for, to come back to it after reading ahead.
    std::size_t position() const { return _pos; }
    void seek(std::size_t position) { _pos = position; }

private:
    // Moves past the next token; returns where it starts (_pos when there is none).
    std::size_t pass_token()
    {
        while (_pos < _size && is_white_space(static_cast<unsigned char>(_text[_pos])))
            ++_pos;
        const std::size_t start = _pos;
        while (_pos < _size && !is_white_space(static_cast<unsigned char>(_text[_pos])))
            ++_pos;
        return start;
    }

    const std::string _owned;  // empty for the tokens of another's text
    const char* const _text;
    const std::size_t _size;
    std::size_t _pos = 0;
};

// A decimal number with optional sign, point and exponent, and nothing else:
// no infinity, no not-a-number, no hexadecimal floating notation.
bool is_decimal_number(const std::string& token);

// A decimal token's value rounded to the nearest float (infinite beyond the
// floats, as strtof gives it).
float decimal_to_float(const std::string& token);

#endif
