#ifndef CORVANE_PREPARE_OUTPUT_FILES_H
#define CORVANE_PREPARE_OUTPUT_FILES_H

#include <functional>
#include <ostream>
#include <string>

namespace prepare {

// Writes one output file beside `path`, under a new name created exclusively
// (O_EXCL), so that no input or link that happens to have a temporary's name is
// overwritten or written through; returns that name, for the caller to rename
// into place once every output is whole. A failure removes what was begun and
// throws a DataError naming `what` and `path`.
std::string write_beside(const std::string& path, const char* what, const std::function<void(std::ostream&)>& write);

}  // namespace prepare

#endif
