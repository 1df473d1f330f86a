#ifndef CORVANE_SCAN_SCAN_RUN_H
#define CORVANE_SCAN_SCAN_RUN_H

#include <ostream>
#include <string>
#include <vector>

namespace scan {

// One run of corvane-scan on its command line (arguments[0] the program's
// name): the table on `out`, progress and messages on `err`; the exit status.
int run_scan(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// Every set of `size` items out of `count` (0 .. count-1), each in ascending
// order, the sets in lexicographic order.
std::vector<std::vector<int>> combinations(int count, int size);

}  // namespace scan

#endif
