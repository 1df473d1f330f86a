#ifndef CORVANE_QUOTED_TEXT_H
#define CORVANE_QUOTED_TEXT_H

#include <string>

// A token or a name as messages show it: in double quotes, with every byte a
// user could not see written as \xHH (control bytes, NUL, DEL and bytes above
// 127, such as an invisible byte-order mark), so that what is wrong shows.
inline std::string quoted(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown = "\"";
    for (char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7F) {
            shown += "\\x";
            shown += hex[byte >> 4];
            shown += hex[byte & 0x0F];
        } else {
            shown += ch;
        }
    }
    return shown + "\"";
}

#endif
