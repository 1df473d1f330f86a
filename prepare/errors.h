#ifndef CORVANE_PREPARE_ERRORS_H
#define CORVANE_PREPARE_ERRORS_H

// The two kinds of refusal of corvane-prepare and the one printer of its
// messages. A data error (exit status 1) is something wrong in an input file or
// in what the inputs hold for the chosen populations; a usage error (exit
// status 2) is something the command line must change.

#include <ostream>
#include <stdexcept>
#include <string>

namespace prepare {

constexpr int exit_success = 0;
constexpr int exit_data_error = 1;
constexpr int exit_usage_error = 2;

struct DataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "FILE, line N: " (and ", column C" when a column is given), the prefix of
// every message about a place in an input file.
std::string at_line(const std::string& file, long line, long column = 0);

// A token as it appears in a message: quoted, so that an empty or blank token shows.
std::string quoted(const std::string& token);

// Writes "corvane-prepare: error: MESSAGE" on its own line; every refusal of the
// program goes through here.
void print_error(std::ostream& err, const std::string& message);

}  // namespace prepare

#endif
