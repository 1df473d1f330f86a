#ifndef CORVANE_SCAN_ERRORS_H
#define CORVANE_SCAN_ERRORS_H

// The two refusals of corvane-scan and its one printer of messages. A run error
// (exit status 1) is something wrong in the data, the key or the output folder;
// a usage error (exit status 2) is something the command line must change.

#include <ostream>
#include <stdexcept>
#include <string>

namespace scan {

constexpr int exit_complete = 0;
constexpr int exit_run_error = 1;
constexpr int exit_usage_error = 2;

struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A name or a token as it appears in a message: quoted, so that an empty one shows.
std::string quoted(const std::string& text);

// Writes "corvane-scan: error: MESSAGE" on its own line, and for a usage error
// a hint to --help; every refusal of the program goes through here.
void print_error(std::ostream& err, const std::string& message, bool usage = false);

}  // namespace scan

#endif
