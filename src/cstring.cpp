#include "CSTRING.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <istream>
#include <new>
#include <ostream>

namespace {

// No assignment or concatenation builds a text longer than this.
constexpr int MAX_TEXT_LENGTH = 10000;
// Capacity of a new string and the step of character-wise growth.
constexpr int START_CAPACITY = 10;
constexpr int GROWTH_STEP = 10;

// Capacities below these thresholds are replaced by the buffer sizes that
// follow them before a character, an integer or a real number is stored.
constexpr int CHAR_THRESHOLD = 4;
constexpr int CHAR_BUFFER_SIZE = 12;
constexpr int INT_THRESHOLD = 20;
constexpr int INT_BUFFER_SIZE = 22;
constexpr int REAL_THRESHOLD = 40;
constexpr int REAL_BUFFER_SIZE = 42;

int text_length(const char* text)
{
    return static_cast<int>(std::strlen(text));
}

// The single-character read yields -1 at the end of the input, which as a
// character is the byte 255: that byte ends a read just as the end does.
bool is_end_of_input(int code)
{
    return code == std::istream::traits_type::eof() || code == 0xFF;
}

bool is_blank_or_tab(int code)
{
    return code == ' ' || code == '\t';
}

bool is_token_separator(int code)
{
    return code == ' ' || code == '\t' || code == '\n';
}

char lower_case_of(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char upper_case_of(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Joins two texts into a new string whose capacity is that of a copy:
// 10 or the joined length + 2, whichever is larger. Too long a result gives
// an empty string.
my_string join_texts(const char* x, const char* y)
{
    const int joined_length = text_length(x) + text_length(y);
    if (joined_length > MAX_TEXT_LENGTH)
        return my_string();
    my_string joined(joined_length + 3);
    joined += x;
    joined += y;
    return my_string(joined);
}

} // namespace

int my_string::tot_space()
{
    return _tot_space;
}

my_string::my_string()
    : _data(new char[START_CAPACITY]), _del_inc(GROWTH_STEP), _nb_char(0),
      _tot_space(START_CAPACITY), _reserve(nullptr)
{
    _data[0] = '\0';
}

my_string::my_string(const char& c) : my_string()
{
    *this = c;
}

// A size below 1 still gets a one-byte buffer, so the string is a valid
// empty text.
my_string::my_string(int n)
    : _data(nullptr), _del_inc(GROWTH_STEP), _nb_char(0), _tot_space(n < 1 ? 1 : n),
      _reserve(nullptr)
{
    _data = new char[_tot_space];
    _data[0] = '\0';
}

my_string::my_string(const my_string& s) : my_string()
{
    *this = s;
}

my_string::my_string(const char* text) : my_string()
{
    *this = text;
}

my_string::~my_string()
{
    delete[] _data;
    delete[] _reserve;
}

const char* my_string::c_str() const
{
    return _data;
}

int my_string::length() const
{
    return _nb_char;
}

void my_string::Lower()
{
    for (char* p = _data; *p != '\0'; ++p)
        *p = lower_case_of(*p);
}

void my_string::Upper()
{
    for (char* p = _data; *p != '\0'; ++p)
        *p = upper_case_of(*p);
}

void my_string::read_token(std::ifstream& is)
{
    if (!take_empty_buffer(START_CAPACITY))
        _data[0] = '\0';
    _del_inc = GROWTH_STEP;
    _nb_char = 0;

    int code = is.get();
    while (is_token_separator(code))
        code = is.get();
    while (!is_token_separator(code) && !is_end_of_input(code)) {
        const bool full = _nb_char >= _tot_space - 1;
        if (full && !grow_keeping_text(_tot_space + _del_inc + 2, _tot_space + _del_inc))
            return;
        _data[_nb_char] = static_cast<char>(code);
        _data[_nb_char + 1] = '\0';
        ++_nb_char;
        code = is.get();
    }
}

my_string& my_string::operator=(const my_string& s)
{
    if (this != &s)
        *this = s._data;
    return *this;
}

my_string& my_string::operator=(const char* text)
{
    const int m = text_length(text);
    if (m > MAX_TEXT_LENGTH)
        return *this;
    if (_tot_space < m + 2) {
        // The new buffer is filled before the old one is released, so a text
        // lying inside this string's own buffer is still readable.
        char* fresh = new (std::nothrow) char[m + 2];
        if (fresh == nullptr)
            return *this;
        std::memcpy(fresh, text, m + 1);
        adopt_buffer(fresh, m + 2);
    } else {
        std::memmove(_data, text, m + 1);
    }
    _nb_char = m;
    return *this;
}

my_string& my_string::operator=(const char& c)
{
    if (_tot_space < CHAR_THRESHOLD && !take_empty_buffer(CHAR_BUFFER_SIZE))
        return *this;
    _data[0] = c;
    _data[1] = '\0';
    _nb_char = 1;
    return *this;
}

my_string& my_string::operator=(int value)
{
    if (_tot_space < INT_THRESHOLD && !take_empty_buffer(INT_BUFFER_SIZE))
        return *this;
    _nb_char = std::snprintf(_data, _tot_space, "%d", value);
    return *this;
}

// Magnitudes from about 1e34 on print more than 41 characters, which do not
// fit the usual 42-byte buffer: the buffer is then enlarged to fit the text.
my_string& my_string::operator=(double value)
{
    const int printed_length = std::snprintf(nullptr, 0, "%f", value);
    int wanted_size = _tot_space < REAL_THRESHOLD ? REAL_BUFFER_SIZE : _tot_space;
    if (wanted_size < printed_length + 1)
        wanted_size = printed_length + 1;
    if (wanted_size != _tot_space && !take_empty_buffer(wanted_size))
        return *this;
    std::snprintf(_data, _tot_space, "%f", value);
    _nb_char = printed_length;
    return *this;
}

my_string& my_string::operator+=(const my_string& s)
{
    return *this += s._data;
}

my_string& my_string::operator+=(const char* text)
{
    const int len = text_length(_data);
    const int m = text_length(text);
    if (len + m > MAX_TEXT_LENGTH)
        return *this;
    if (_tot_space < len + m + 2) {
        // Growing moves the text; a text taken from this very string is
        // found again at the same offset in the new buffer.
        const bool own_text = points_into_buffer(text);
        const int offset = own_text ? static_cast<int>(text - _data) : 0;
        if (!grow_keeping_text(len + m + 2, len + m + 2))
            return *this;
        if (own_text)
            text = _data + offset;
    }
    std::memmove(_data + len, text, m);
    _data[len + m] = '\0';
    _nb_char = len + m;
    return *this;
}

my_string& my_string::operator+=(char c)
{
    const int len = text_length(_data);
    if (len + 1 > MAX_TEXT_LENGTH)
        return *this;
    if (_tot_space < len + 3 && !grow_keeping_text(_del_inc + len + 2, _del_inc + len + 1))
        return *this;
    _data[len] = c;
    _data[len + 1] = '\0';
    _nb_char = len + 1;
    return *this;
}

char my_string::operator[](int pos) const
{
    return _data[pos];
}

char& my_string::operator[](int pos)
{
    return _data[pos];
}

int my_string::operator==(const my_string& s) const
{
    return std::strcmp(_data, s._data) == 0;
}

int my_string::operator==(const char* text) const
{
    return std::strcmp(_data, text) == 0;
}

int my_string::operator!=(const my_string& s) const
{
    return std::strcmp(_data, s._data) != 0;
}

int my_string::operator!=(const char* text) const
{
    return std::strcmp(_data, text) != 0;
}

int my_string::operator<(const my_string& s) const
{
    return std::strcmp(_data, s._data) < 0;
}

int my_string::operator>(const my_string& s) const
{
    return std::strcmp(_data, s._data) > 0;
}

void my_string::to_lower()
{
    Lower();
}

void my_string::to_upper()
{
    Upper();
}

void my_string::read_to_delim(std::istream& is, char delim)
{
    *this = "";
    for (int code = is.get(); !is_end_of_input(code) && static_cast<char>(code) != delim;
         code = is.get())
        *this += static_cast<char>(code);
}

my_string my_string::extract_sub_str(char delim)
{
    int pos = 0;
    while (pos < _nb_char && _data[pos] == delim)
        ++pos;
    my_string field;
    while (pos < _nb_char && _data[pos] != delim) {
        field += _data[pos];
        ++pos;
    }
    if (field.is_null())
        return my_string();
    std::memmove(_data, _data + pos, _nb_char - pos + 1);
    _nb_char -= pos;
    return my_string(field);
}

// Position 0 is treated like any other: remove(0, n) removes from the front.
my_string& my_string::remove(int pos, int n)
{
    if (n <= 0 || pos < 0 || pos >= _nb_char)
        return *this;
    const int kept_after = _nb_char - pos - n;
    if (kept_after <= 0)
        _data[pos] = '\0';
    else
        std::memmove(_data + pos, _data + pos + n, kept_after + 1);
    _nb_char = text_length(_data);
    return *this;
}

// A negative start scans from the first character.
int my_string::find_first_of(const char& s, int pos) const
{
    if (pos > _nb_char || _nb_char == 0)
        return -1;
    for (int i = pos < 0 ? 0 : pos; i < _nb_char; ++i)
        if (_data[i] == s)
            return i;
    return -1;
}

int my_string::find_first_of(const char& s) const
{
    return find_first_of(s, 0);
}

int my_string::read_line(std::istream& is)
{
    *this = "";
    int code = is.get();
    while (is_blank_or_tab(code))
        code = is.get();
    for (; !is_end_of_input(code) && code != '\n'; code = is.get())
        *this += static_cast<char>(code);
    return 1;
}

int my_string::is_null()
{
    return _nb_char == 0;
}

int my_string::contains(const char* pat) const
{
    const int pat_length = text_length(pat);
    if (pat_length == 0 || pat_length > _nb_char)
        return 0;
    return first_occurrence(pat, pat_length) >= 0;
}

int my_string::contains(char pat) const
{
    for (int i = 0; i < _nb_char; ++i)
        if (_data[i] == pat)
            return 1;
    return 0;
}

int my_string::contains(const my_string& s) const
{
    return contains(s._data);
}

void my_string::assign(const my_string& s)
{
    *this = s;
}

int my_string::rfind(const my_string& s)
{
    const int pat_length = text_length(s._data);
    if (pat_length == 0)
        return 0;
    if (pat_length > _nb_char)
        return -1;
    return first_occurrence(s._data, pat_length);
}

// Enlarges the buffer to new_buffer_size bytes keeping the text, which waits
// in the scratch buffer meanwhile. When memory runs out the string keeps its
// old text and false is returned.
bool my_string::grow_keeping_text(int new_buffer_size, int new_capacity)
{
    delete[] _reserve;
    const int len = text_length(_data);
    _reserve = new (std::nothrow) char[len + 2];
    if (_reserve == nullptr)
        return false;
    std::memcpy(_reserve, _data, len + 1);
    delete[] _data;
    _data = new (std::nothrow) char[new_buffer_size];
    if (_data == nullptr) {
        _data = _reserve;
        _tot_space = len + 2;
        _reserve = nullptr;
        return false;
    }
    std::memcpy(_data, _reserve, len + 1);
    _tot_space = new_capacity;
    delete[] _reserve;
    _reserve = nullptr;
    return true;
}

// Replaces the buffer by a new one of size bytes holding the empty text; the
// caller sets the length. Returns false, changing nothing, when memory runs out.
bool my_string::take_empty_buffer(int size)
{
    char* fresh = new (std::nothrow) char[size];
    if (fresh == nullptr)
        return false;
    fresh[0] = '\0';
    adopt_buffer(fresh, size);
    return true;
}

void my_string::adopt_buffer(char* buffer, int size)
{
    delete[] _data;
    _data = buffer;
    _tot_space = size;
}

bool my_string::points_into_buffer(const char* text) const
{
    return std::less_equal<const char*>()(_data, text) &&
           std::less<const char*>()(text, _data + _tot_space);
}

// Leftmost position where pat (of pat_length characters) starts, or -1.
int my_string::first_occurrence(const char* pat, int pat_length) const
{
    for (int start = 0; start <= _nb_char - pat_length; ++start) {
        int matched = 0;
        while (matched < pat_length && _data[start + matched] == pat[matched])
            ++matched;
        if (matched == pat_length)
            return start;
    }
    return -1;
}

my_string operator+(const my_string& x, const my_string& y)
{
    return join_texts(x.c_str(), y.c_str());
}

my_string operator+(const my_string& x, const char* y)
{
    return join_texts(x.c_str(), y);
}

std::ostream& operator<<(std::ostream& os, const my_string& x)
{
    return os << x.c_str();
}

std::istream& operator>>(std::istream& is, my_string& s)
{
    s = "";
    int code = is.get();
    while (is_blank_or_tab(code))
        code = is.get();
    for (; !is_end_of_input(code) && code != ' ' && code != '\n'; code = is.get())
        s += static_cast<char>(code);
    return is;
}
