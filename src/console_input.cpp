#include "console_input.h"

#include "whole_number.h"

ConsoleInput::ConsoleInput(std::istream& in) : in_(in) {}

int ConsoleInput::peek()
{
    if (!looked_ahead_.empty())
        return static_cast<unsigned char>(looked_ahead_.front());
    const auto ch = in_.peek();
    return ch == std::istream::traits_type::eof() ? -1 : ch;
}

void ConsoleInput::next()
{
    if (recording_number_ && peek() >= 0)
        number_text_ += static_cast<char>(peek());
    if (!looked_ahead_.empty())
        looked_ahead_.erase(0, 1);
    else
        in_.get();
}

std::string ConsoleInput::rest_of_token()
{
    if (failed_)
        return "";
    // Everything up to the next white space, kept for the reads to come.
    while (true) {
        const auto ch = in_.peek();
        if (ch == std::istream::traits_type::eof() || is_white_space(ch))
            break;
        looked_ahead_ += static_cast<char>(in_.get());
    }
    std::string rest;
    for (char ch : looked_ahead_) {
        if (is_white_space(static_cast<unsigned char>(ch)))
            break;
        rest += ch;
    }
    return rest;
}

// Leaves the stream at the first character that is not white space; false when
// the input ends first (and the reader is then failed for good).
bool ConsoleInput::skip_white_space()
{
    if (failed_)
        return false;
    while (is_white_space(peek()))
        next();
    if (peek() < 0)
        failed_ = true;
    return !failed_;
}

bool ConsoleInput::read_word(std::string& word)
{
    if (!skip_white_space())
        return false;
    std::string text;
    while (peek() >= 0 && !is_white_space(peek())) {
        text += static_cast<char>(peek());
        next();
    }
    word = text;
    return true;
}

bool ConsoleInput::read_char(char& answer)
{
    if (!skip_white_space())
        return false;
    answer = static_cast<char>(peek());
    next();
    return true;
}

bool ConsoleInput::read_whole_number(ScannedWholeNumber& number)
{
    if (!skip_white_space())
        return false;
    number_text_.clear();
    recording_number_ = true;
    const WholeNumberScan scan = scan_whole_number(*this, number);
    recording_number_ = false;
    if (scan != WholeNumberScan::ok)
        failed_ = true;
    return !failed_;
}

bool ConsoleInput::read_int(int& value)
{
    ScannedWholeNumber number;
    if (!read_whole_number(number))
        return false;
    int converted = 0;
    if (!whole_number_to_int(number, converted)) {
        failed_ = true;
        return false;
    }
    value = converted;
    return true;
}

bool ConsoleInput::read_uint32(std::uint32_t& value)
{
    ScannedWholeNumber number;
    if (!read_whole_number(number))
        return false;
    std::uint32_t converted = 0;
    if (!whole_number_to_uint32(number, converted)) {
        failed_ = true;
        return false;
    }
    value = converted;
    return true;
}
