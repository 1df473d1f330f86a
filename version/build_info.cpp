#include "build_info.h"

#include "build_commit.h"     // generated at build time: CORVANE_COMMIT
#include "corvane_version.h"  // generated at configure time: the version and the folders

const char* const program_version = CORVANE_VERSION;
const char* const documentation_folder = CORVANE_DOC_DIR;
const char* const manual_folder = CORVANE_MAN_DIR;

std::string built_from_commit()
{
    return CORVANE_COMMIT;
}

std::string version_line(const std::string& program)
{
    const std::string commit = built_from_commit();
    return program + " " + program_version + (commit.empty() ? "" : " (commit " + commit + ")");
}
