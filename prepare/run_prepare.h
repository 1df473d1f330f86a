#ifndef CORVANE_PREPARE_RUN_PREPARE_H
#define CORVANE_PREPARE_RUN_PREPARE_H

#include <ostream>

namespace prepare {

// The whole program: options, one reader, the data set, the two files and the
// summary on `err`. Returns the exit status: 0 success, 1 data error, 2 usage error.
int run_prepare(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace prepare

#endif
