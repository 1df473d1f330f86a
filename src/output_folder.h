#ifndef CORVANE_OUTPUT_FOLDER_H
#define CORVANE_OUTPUT_FOLDER_H

#include <functional>
#include <string>
#include <vector>

// The folder a run writes its files into, claimed for the whole run: the log is
// opened without being emptied and locked, so that a second run in the same
// folder stops before it writes anything instead of interleaving its lines with
// the first run's; and a data file that is one of the run's output files is
// recognised before any output file is created or emptied.
class OutputFolder {
public:
    static constexpr const char* log_name = "log_file_admix.txt";
    static constexpr const char* report_name = "result_admix.txt";
    static constexpr const char* bootstrap_name = "bootstrap.txt";

    // An empty folder stands for the current folder.
    explicit OutputFolder(std::string folder = "");
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    enum class Claim { claimed, log_not_creatable, held_by_another_run };
    Claim claim();
    // Releases the claim; a log that this run created and never wrote is removed.
    void release();

    // A further file the run writes in the folder, guarded like the others.
    void guard(const std::string& file_name);

    std::string path_of(const std::string& file_name) const;
    // The folder as messages name it: its absolute path.
    std::string shown_name() const;

    // The name of the output file that `data_file` is (the same file, reached
    // through any spelling of its path or a link), or "" when it is none of them.
    std::string output_file_matching(const std::string& data_file) const;

    // True when the claim created the log, so that it is still empty.
    bool log_created_empty() const { return _created_log && !_log_written; }
    // The log has been opened for writing: from now on it is this run's.
    void log_taken();
    // The run keeps no log: the folder is taken as by log_taken(), an earlier
    // run's log is emptied, and the log is removed on release, so that no log
    // of another run lies beside this run's report.
    void log_not_kept();
    // Called once, when the log is taken: the moment the run first writes in
    // its folder, before any other file there is created or emptied.
    void when_taken(std::function<void()> call) { _when_taken = std::move(call); }

private:
    std::string _folder;
    std::vector<std::string> _file_names;
    int _lock = -1;
    bool _created_log = false;
    bool _log_written = false;
    std::function<void()> _when_taken;
};

// The error line of a run that found its folder claimed by another.
std::string folder_held_message(const OutputFolder& folder);
// The error line of a data file that is one of the run's output files.
std::string data_file_is_output_message(const std::string& data_file, const std::string& output_file,
                                        const OutputFolder& folder);

#endif
