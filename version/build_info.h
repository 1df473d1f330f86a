#ifndef CORVANE_BUILD_INFO_H
#define CORVANE_BUILD_INFO_H

#include <string>

// The version every program of the project shares, and the commit it was built
// from when the build knew it ("" otherwise).
extern const char* const program_version;
std::string built_from_commit();

// "corvane 2.1 (commit abc1234)", or "corvane 2.1" when the commit is unknown:
// the first line of every program's --version.
std::string version_line(const std::string& program);

// Where `make install` puts the documentation (README, examples) and the manual pages.
extern const char* const documentation_folder;
extern const char* const manual_folder;

#endif
