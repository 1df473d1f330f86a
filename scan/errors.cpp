#include "errors.h"

namespace scan {

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

void print_error(std::ostream& err, const std::string& message, bool usage)
{
    err << "corvane-scan: error: " << message << '\n';
    if (usage)
        err << "Run \"corvane-scan --help\" for the options.\n";
    err.flush();
}

}  // namespace scan
