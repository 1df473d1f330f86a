#ifndef CORVANE_RUN_RECORD_H
#define CORVANE_RUN_RECORD_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One line of the results table: a parental population's estimate and, after
// a bootstrap, the summary of its replicate values.
struct ParentResult {
    int parent = 0;  // 1..P, as in mY1..mYP
    std::string population;  // its name, from the key file or parent1, parent2, ...
    float estimate = 0;
    std::optional<float> bootstrap_mean;
    std::optional<float> bootstrap_sd;
    std::optional<double> quantile_2_5;
    std::optional<double> quantile_97_5;
};

// The SHA-256 of the bytes a run analysed, in hexadecimal, and their number.
struct FileDigest {
    std::uint64_t size = 0;
    std::string sha256;
};
// Nothing when the digest cannot be formed.
std::optional<FileDigest> digest_of_bytes(const std::string& bytes);

// What a command-line run records about itself, so that a result can be traced
// to its data, answers and program. The record is written once the run takes
// its folder, saying "running", and again when the run ends, however it ends.
struct RunRecord {
    std::vector<std::string> command_line;
    std::string working_folder;
    std::string data_file;
    std::optional<FileDigest> data_file_digest;  // of the bytes read; none before they are
    bool divergence = true;
    int replicates = 0;
    std::uint32_t seed = 1;
    std::string resample = "copies";
    std::string output_folder;
    std::string started_utc;  // ISO 8601
    double duration_seconds = 0;
    bool running = false;  // written as the run starts: no end, status or results yet
    int exit_status = 0;
    std::string error_message;  // the message lines of an error stop
    std::string bootstrap_refusal;
    int replicates_summarised = 0;
    std::string resampling_used;  // "loci" or "copies" after a bootstrap, else ""
    int replicates_outside_0_1 = 0;  // replicates with a proportion below 0 or above 1
    int replicate_threads = 0;       // the threads that estimated them
    std::string log_detail = "full";  // what the log holds: full, summary or none
    std::vector<ParentResult> results;
    // The time since admixture and the mutation rate: the data file's, and the
    // options' that replaced them.
    std::optional<float> data_file_time, data_file_rate;
    std::optional<float> time_option, rate_option;
    std::string key_file;  // where the names came from; "" without a key
    std::string hybrid;
    std::vector<std::string> warnings;  // every warning line of the run
};

// Writes the record as JSON to `path`, through a temporary file of a name no
// other file has (created, never opened if it exists) renamed into place, so
// that a record on disk is always whole and no file or link that happens to
// lie beside it is written through. Names that are not UTF-8 are written with
// their stray bytes as \xHH, as messages show them. False when it could not be
// written.
bool write_run_record(const std::string& path, const RunRecord& record);

// The current time in UTC, ISO 8601 to the second ("2026-12-07T11:02:03Z").
std::string utc_now_iso8601();

#endif
