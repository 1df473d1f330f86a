#ifndef CORVANE_SCAN_SCAN_RECORD_H
#define CORVANE_SCAN_SCAN_RECORD_H

// DIR/run_record.json of a scan: what produced the table, as corvane's record
// says it for an estimate: the program, its version and commit, the command
// line, the data file (path, size and SHA-256 of the bytes analysed), the key,
// the options, the start (UTC), the state (running, complete, error stop or
// interrupted), the duration and exit status once ended, an error's message,
// and the models.

#include <string>
#include <vector>

#include "model_fit.h"
#include "options.h"

namespace scan {

struct ScanRecord {
    std::vector<std::string> command_line;
    std::string working_folder;
    std::string data_file;
    const std::string* data_bytes = nullptr;  // what was read; null when nothing was
    std::string key_file;                     // empty when the candidates were numbered
    Options options;
    std::string output_folder;
    std::string started_utc;
    bool running = true;  // written so once the folder is the scan's, before any model
    double duration_seconds = 0;
    int exit_status = 0;
    std::string error_message;
    const std::vector<ModelResult>* results = nullptr;
    const std::vector<std::string>* names = nullptr;
};

// The record as JSON text.
std::string record_text(const ScanRecord& record);

}  // namespace scan

#endif
