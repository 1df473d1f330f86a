#ifndef CORVANE_RUN_DRIVER_H
#define CORVANE_RUN_DRIVER_H

#include <functional>
#include <iostream>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "dialogue.h"
#include "log_writer.h"

struct RunOutcome;
class OutputFolder;

// How bootstrap replicates are drawn: every sample's copies anew from its
// counts (the console dialogue's bootstrap), or whole loci with replacement, so
// that the replicates also reflect how the genealogies of loci vary. The
// automatic choice takes loci from `loci_enough_for_locus_bootstrap` loci on,
// where drawing loci describes the uncertainty better, and copies below.
enum class Resampling { copies, loci, automatic };
constexpr int loci_enough_for_locus_bootstrap = 20;

// Where a run writes, what more it guards and how it bootstraps.
struct RunSettings {
    std::string output_folder;               // "" for the current folder
    Resampling resampling = Resampling::copies;
    LogDetail log_detail = LogDetail::full;
    // Threads that estimate bootstrap replicates; 0: the default (see
    // default_thread_count), 1: one after the other on the run's own thread.
    int threads = 0;
    std::vector<std::string> guarded_files;  // further files the caller writes there
    // Values that replace the data file's time since admixture and mutation rate.
    std::optional<float> time_since_admixture;
    std::optional<float> mutation_rate;
    // Called as soon as the folder is claimed, before anything is written.
    std::function<void(const OutputFolder&)> after_claim;
    // Called at the end of a run that claimed its folder, while it still holds
    // it, so that the caller's own files are written under the same claim.
    std::function<void(const RunOutcome&)> before_release;
    // Called once the run takes its folder (the data file is known not to be
    // one of the output files, the log is opened), before any other file there
    // is created or emptied.
    std::function<void()> when_folder_taken;
};

// How a run ended and what it found, for the fronts that report more than the
// files (a command line's table, a run record).
struct RunOutcome {
    int status = 0;                  // 1 after a complete run, 0 after an error stop
    std::string error_message;       // the message lines of an error stop
    std::vector<float> estimates;    // mY1..mYP of a complete run
    int replicates = 0;              // the replicates the report summarises (0: none)
    // [replicate * parents + parent], flat: at hundreds of thousands of
    // replicates a row each would take several times the estimates' memory
    std::vector<float> replicate_estimates;
    std::vector<float> bootstrap_means;
    std::vector<float> bootstrap_sds;
    std::string bootstrap_refusal;   // why a bootstrap that was asked for was not run
    // Why an estimate whose elimination went through was refused all the same
    // (its digits were noise): one line, also given on standard error.
    std::string estimate_refusal;
    Resampling resampling = Resampling::copies;  // the scheme the bootstrap used or would have used
    // The data file's time since admixture and mutation rate, once read.
    std::optional<float> data_file_time;
    std::optional<float> data_file_rate;
    // True when the run stopped before writing anything in its folder: another
    // run held it, the log could not be created, or the data file is one of the
    // output files. The folder is then not the run's to write in.
    bool outputs_untouched = false;
    // The signal (SIGINT, SIGTERM) that stopped the run between two stages or
    // two replicates, through the error stop; 0 when none did.
    int interrupted_by = 0;
    // The threads that estimated the replicates (0 when no replicate was).
    int replicate_threads = 0;
};

// One whole run through the given dialogue: the banner, the data file, the
// estimate, the optional bootstrap, the report and the closing lines. Never
// calls exit, so tests and the fuzzer can drive runs in process.
RunOutcome run_estimate(Dialogue& dialogue, const RunSettings& settings);

// A run at the console, in the current folder. Returns the process exit status:
// 1 after a complete run, 0 after an error stop.
int run_corvane(std::istream& console_in, std::ostream& console_out, std::ostream& warnings = std::cerr);

#endif
