#ifndef CORVANE_RUN_DRIVER_H
#define CORVANE_RUN_DRIVER_H

#include <istream>
#include <ostream>

// One whole run of the program over the given console streams: the banner, the
// data file, the estimate, the optional bootstrap, the report and the closing
// lines. Returns the process exit status: 1 after a complete run, 0 after an
// error stop. Never calls exit, so tests and the fuzzer can drive runs in process.
int run_corvane(std::istream& console_in, std::ostream& console_out);

#endif
