#include "errors.h"

namespace prepare {

std::string at_line(const std::string& file, long line, long column)
{
    std::string place = file + ", line " + std::to_string(line);
    if (column > 0)
        place += ", column " + std::to_string(column);
    return place + ": ";
}

std::string quoted(const std::string& token)
{
    return "\"" + token + "\"";
}

void print_error(std::ostream& err, const std::string& message)
{
    err << "corvane-prepare: error: " << message << '\n';
}

}  // namespace prepare
