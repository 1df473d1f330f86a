#ifndef CORVANE_COMMAND_LINE_H
#define CORVANE_COMMAND_LINE_H

#include <ostream>
#include <string>
#include <vector>

// `corvane [options] DATA_FILE`: one run without questions. The options become
// the answers of the console dialogue, the same run writes the same three files
// (in the output folder), and the front adds a results table on standard
// output, progress and messages on standard error, a run record, and the usual
// exit statuses: 0 complete, 1 an error stop, 2 a usage error.
int run_command_line(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                     bool err_is_terminal);

#endif
