#include "output_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "COEF_ADMIX.h"
#include "quoted_text.h"

OutputFolder::OutputFolder(std::string folder)
    : _folder(std::move(folder)), _file_names{log_name, report_name, bootstrap_name}
{
}

OutputFolder::~OutputFolder()
{
    release();
}

std::string OutputFolder::path_of(const std::string& file_name) const
{
    if (_folder.empty())
        return file_name;
    return (std::filesystem::path(_folder) / file_name).string();
}

std::string OutputFolder::shown_name() const
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(_folder.empty() ? "." : _folder, error);
    return error ? _folder : absolute.lexically_normal().string();
}

void OutputFolder::guard(const std::string& file_name)
{
    _file_names.push_back(file_name);
}

// Opens the log without emptying it (creating it when missing, and noting so)
// and takes an exclusive lock on it, without waiting.
OutputFolder::Claim OutputFolder::claim()
{
    const std::string log = path_of(log_name);
    _lock = ::open(log.c_str(), O_RDWR | O_CLOEXEC);
    if (_lock < 0 && errno == ENOENT) {
        _lock = ::open(log.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        _created_log = _lock >= 0;
    }
    if (_lock < 0)
        return Claim::log_not_creatable;
    if (::flock(_lock, LOCK_EX | LOCK_NB) != 0) {
        ::close(_lock);
        _lock = -1;
        _created_log = false;  // not ours: the other run may be using it
        return Claim::held_by_another_run;
    }
    return Claim::claimed;
}

void OutputFolder::log_taken()
{
    if (_log_written)
        return;
    _log_written = true;
    if (_when_taken)
        _when_taken();
}

void OutputFolder::log_not_kept()
{
    if (_lock >= 0 && ::ftruncate(_lock, 0) == 0)
        _created_log = true;
    log_taken();
    _log_written = false;
}

void OutputFolder::release()
{
    if (_lock < 0)
        return;
    if (_created_log && !_log_written)
        ::unlink(path_of(log_name).c_str());
    ::close(_lock);  // closing the descriptor releases the lock
    _lock = -1;
}

std::string OutputFolder::output_file_matching(const std::string& data_file) const
{
    struct stat data {};
    if (::stat(data_file.c_str(), &data) != 0)
        return "";
    for (const std::string& name : _file_names) {
        struct stat output {};
        const bool found = name == log_name && _lock >= 0 ? ::fstat(_lock, &output) == 0
                                                          : ::stat(path_of(name).c_str(), &output) == 0;
        if (found && output.st_dev == data.st_dev && output.st_ino == data.st_ino)
            return name;
    }
    return "";
}

std::string folder_held_message(const OutputFolder& folder)
{
    return error_line("another run is writing its files in the folder " + quoted(folder.shown_name()) +
                      "; wait until it ends, or run in another folder");
}

std::string data_file_is_output_message(const std::string& data_file, const std::string& output_file,
                                        const OutputFolder& folder)
{
    return error_line("the data file " + quoted(data_file) + " is the file " + quoted(output_file) +
                      " that this run writes in the folder " + quoted(folder.shown_name()) +
                      ", which would overwrite it; give the data file another name or run in another folder");
}
