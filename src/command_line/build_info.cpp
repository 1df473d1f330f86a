#include "build_info.h"

#include "build_commit.h"  // generated at build time: CORVANE_COMMIT

const char* const program_version = "2.0";

std::string built_from_commit()
{
    return CORVANE_COMMIT;
}

std::string version_line(const std::string& program)
{
    const std::string commit = built_from_commit();
    return program + " " + program_version + (commit.empty() ? "" : " (commit " + commit + ")");
}
