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
    explicit DataFileTokens(std::string contents) : _text(std::move(contents)) {}

    // The next token, or false at the end of the file.
    bool next(std::string& token)
    {
        while (_pos < _text.size() && is_white_space(static_cast<unsigned char>(_text[_pos])))
            ++_pos;
        if (_pos >= _text.size())
            return false;
        const std::size_t start = _pos;
        while (_pos < _text.size() && !is_white_space(static_cast<unsigned char>(_text[_pos])))
            ++_pos;
        token.assign(_text, start, _pos - start);
        return true;
    }

private:
    std::string _text;
    std::size_t _pos = 0;
};

#endif
