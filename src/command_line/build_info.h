#ifndef CORVANE_BUILD_INFO_H
#define CORVANE_BUILD_INFO_H

#include <string>

// The program's name and version, and the commit it was built from when the
// build knew it ("" otherwise).
extern const char* const program_version;
std::string built_from_commit();

// "corvane 2.0 (commit abc1234)" or "corvane 2.0" when the commit is unknown.
std::string version_line(const std::string& program);

#endif
