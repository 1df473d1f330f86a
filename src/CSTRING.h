#ifndef CORVANE_CSTRING_H
#define CORVANE_CSTRING_H

#include <iosfwd>

// A growable 8-bit text string: a NUL-terminated buffer that also records its
// length and capacity. Text assignments and appends grow the buffer to the
// exact size needed plus two bytes; single-character appends grow it by a
// step of ten bytes. No text longer than 10000 characters is ever built by
// assignment or concatenation: such an operation leaves the string as it was.
class my_string {
protected:
    int tot_space();

public:
    my_string();
    my_string(const char& c);
    my_string(int n);
    my_string(const my_string& s);
    my_string(const char* text);
    ~my_string();

    const char* c_str() const;
    int length() const;
    void Lower();
    void Upper();

    // Reads one token separated by blanks, tabs or newlines, starting afresh
    // with a 10-byte buffer. Unlike the other readers it has no length limit.
    void read_token(std::ifstream& is);

    my_string& operator=(const my_string& s);
    my_string& operator=(const char* text);
    my_string& operator=(const char& c);
    my_string& operator=(int value);
    my_string& operator=(double value);

    my_string& operator+=(const my_string& s);
    my_string& operator+=(const char* text);
    my_string& operator+=(char c);

    char operator[](int pos) const;
    char& operator[](int pos);

    int operator==(const my_string& s) const;
    int operator==(const char* text) const;
    int operator!=(const my_string& s) const;
    int operator!=(const char* text) const;
    int operator<(const my_string& s) const;
    int operator>(const my_string& s) const;

    void to_lower();
    void to_upper();

    // Reads everything up to the delimiter (consumed, not stored) or the end.
    void read_to_delim(std::istream& is, char delim);
    // Takes the first field delimited by delim off the front of the string.
    my_string extract_sub_str(char delim);
    my_string& remove(int pos, int n);
    int find_first_of(const char& s, int pos) const;
    int find_first_of(const char& s) const;
    // Reads one line, skipping leading blanks and tabs; always returns 1.
    int read_line(std::istream& is);
    int is_null();
    int contains(const char* pat) const;
    int contains(char pat) const;
    int contains(const my_string& s) const;
    void assign(const my_string& s);
    // Position of the first (leftmost) occurrence of s, or -1.
    int rfind(const my_string& s);

private:
    char* _data;
    int _del_inc;
    int _nb_char;
    int _tot_space;
    char* _reserve;

    bool grow_keeping_text(int new_buffer_size, int new_capacity);
    bool take_empty_buffer(int size);
    void adopt_buffer(char* buffer, int size);
    bool points_into_buffer(const char* text) const;
    int first_occurrence(const char* pat, int pat_length) const;
};

my_string operator+(const my_string& x, const my_string& y);
my_string operator+(const my_string& x, const char* y);

std::ostream& operator<<(std::ostream& os, const my_string& x);
// Reads one word: leading blanks and tabs are skipped, a tab inside the word
// is kept, and a blank or a newline ends it.
std::istream& operator>>(std::istream& is, my_string& s);

#endif
