#include "run_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <string>

#include "COEF_ADMIX.h"
#include "console_dialogue.h"
#include "console_input.h"
#include "interruption.h"
#include "number_format.h"
#include "output_folder.h"
#include "pair_sums.h"
#include "replicate_estimator.h"
#include "replicate_threads.h"

namespace {

const char* const banner_lines[] = {
    "Program Corvane2_0, updated 08/02 by the Corvane2_0 developers",
    "",
    "The relative contributions from any number of parental populations ",
    "to a hybrid population are estimated by computing the estimators mY ",
    "first published for a hybrid population of two parental populations, ",
    "later generalised to any number of parental populations. ",
    "",
    "A short documentation about this program can be found ",
    "in the text file readme_Corvane2_0.txt ",
    "MAXNBALLELES = 1000 ",
};

const char* const cannot_estimate = "Corvane2_0 cannot estimate admixture proportions in this case\n";
const char* const beyond_single_precision =
    "a sum of distances or a time went beyond the largest single-precision value, 3.40282e+38";

bool all_finite(const float* values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

// The run: the claimed output folder, the record, the open "bootstrap.txt"
// while replicates run, and the one error-stop procedure every failure goes
// through.
class RunDriver {
public:
    RunDriver(Dialogue& dialogue, const RunSettings& settings)
        : _dialogue(dialogue),
          _settings(settings),
          _folder(settings.output_folder),
          c(dialogue, _folder),
          _out_of_memory_message(error_line("the machine's memory ran out during the run") + cannot_estimate),
          _memory_reserve(new (std::nothrow) char[memory_reserve_bytes])
    {
        for (const std::string& name : settings.guarded_files)
            _folder.guard(name);
        c.set_log_detail(settings.log_detail);
        c.set_reading_threads(threads_asked());
        if (settings.when_folder_taken)
            _folder.when_taken(settings.when_folder_taken);
    }

    RunOutcome run()
    {
        try {
            _outcome.status = run_stages();
        } catch (const std::bad_alloc&) {
            stop_for_lack_of_memory();
        }
        if (!_outcome.outputs_untouched && _settings.before_release) {
            try {
                _settings.before_release(_outcome);
            } catch (const std::bad_alloc&) {
                // the caller's files could not be made; the run's own are closed
            }
        }
        return _outcome;
    }

private:
    int run_stages()
    {
        if (!claim_folder() || interrupted())
            return 0;
        for (const char* line : banner_lines)
            _dialogue.dialogue_text() << line << std::endl;
        if (!c.read_data_in_file())
            return error_stop(c.error_message());
        take_settings_beyond_the_data_file();
        if (interrupted())
            return 0;
        if (!c.check_observed_pair_counts())
            return error_stop(c.error_message());
        if (!estimate(c._freq_haplotypes, c._admixture_coefficients, false) || interrupted())
            return 0;
        if (!bootstrap_stage() || interrupted())
            return 0;
        // A log that could not be written is an error stop like any other: no
        // report then, so that a report on disk always comes with its whole log.
        if (!c.log_file.flush())
            return error_stop(log_not_written());
        keep_results();  // before the report, so that nothing can fail once it is written
        if (!c.write_results(c._nb_bootstrap))
            return error_stop(c.error_message());
        warn_about_proportions_outside_0_1();
        release_storage();
        _dialogue.closing();
        return 1;
    }

    // The folder is claimed before anything is written, so that a second run
    // in the same folder stops without touching the first one's files.
    bool claim_folder()
    {
        switch (_folder.claim()) {
        case OutputFolder::Claim::claimed:
            if (_settings.after_claim)
                _settings.after_claim(_folder);
            return true;
        case OutputFolder::Claim::log_not_creatable:
            _outcome.error_message =
                error_line("the log file \"log_file_admix.txt\" could not be created in this folder");
            break;
        case OutputFolder::Claim::held_by_another_run:
            _outcome.error_message = folder_held_message(_folder);
            break;
        }
        _dialogue.messages() << _outcome.error_message << std::flush;
        _outcome.outputs_untouched = true;
        return false;
    }

    // The command line's values of T and mu replace the data file's, and its
    // automatic choice of the resampling scheme is made once L is known.
    void take_settings_beyond_the_data_file()
    {
        _outcome.data_file_time = c._time_to_admix_event;
        _outcome.data_file_rate = c._mutation_rate_per_year;
        if (_settings.time_since_admixture)
            c._time_to_admix_event = *_settings.time_since_admixture;
        if (_settings.mutation_rate)
            c._mutation_rate_per_year = *_settings.mutation_rate;
        _resampling = _settings.resampling;
        if (_resampling == Resampling::automatic)
            _resampling = c._nb_loci >= loci_enough_for_locus_bootstrap ? Resampling::loci : Resampling::copies;
        _outcome.resampling = _resampling;
    }

    // The estimation chain on one set of counts, into `target`. On failure the
    // error stop has been made: A or B on the observed data, C or D in a
    // bootstrap replicate.
    int estimate(int*** counts, float* target, bool in_bootstrap)
    {
        return estimate_from_times(c.compute_coal_times(counts), target, in_bootstrap);
    }

    // A replicate of the chosen scheme, into `target`.
    int estimate_replicate(float* target)
    {
        if (locus_bootstrap()) {
            c.bootstrap_loci();
            return estimate_from_times(c.compute_coal_times_of_drawn_loci(), target, true);
        }
        c.bootstrap_pops();
        return estimate(c._freq_hap_boot, target, true);
    }

    // The rest of the chain once the mean coalescence times are formed;
    // `times_usable` is what forming them returned.
    int estimate_from_times(int times_usable, float* target, bool in_bootstrap)
    {
        if (!times_usable)
            return mean_times_zero_stop(in_bootstrap);
        c.add_time_to_admix_event();
        c.compute_coefficients_of_linear_equations();
        // Distances so large that a sum leaves the single-precision range make
        // times and equations infinite or undefined: that is the cause to name,
        // before the elimination would fail on it.
        if (!times_and_equations_finite())
            return not_finite_stop(in_bootstrap);
        if (!c.gaussian_elimination(target))
            return gaussian_stop(c.refusal_message());
        if (!all_finite(target, c._nb_parent_pops))
            return not_finite_stop(in_bootstrap);
        return 1;
    }

    int mean_times_zero_stop(bool in_bootstrap)
    {
        return error_stop(error_line(std::string("2 parental populations with mean coal.times = 0") +
                                     (in_bootstrap ? " during bootstrap" : "")) +
                          cannot_estimate);
    }

    // The Gaussian stop; an estimate refused because its digits are noise
    // says why on standard error first (and in the run record).
    int gaussian_stop(const std::string& refusal)
    {
        if (!refusal.empty()) {
            _outcome.estimate_refusal = refusal;
            _dialogue.warnings() << refusal << std::flush;
        }
        return error_stop(error_line("Gaussian Elimination"));
    }

    int not_finite_stop(bool in_bootstrap)
    {
        return error_stop(error_line(std::string("the admixture proportions") +
                                     (in_bootstrap ? " of a bootstrap replicate" : "") +
                                     " are not finite numbers: " + beyond_single_precision) +
                          cannot_estimate);
    }

    bool times_and_equations_finite() const
    {
        const int n = c._nb_parent_pops;
        if (!all_finite(c._hybrid_parental_coal_times, n) || !all_finite(c._left_hand_side_vector, n))
            return false;
        for (int i = 0; i < n; ++i)
            if (!all_finite(c._parental_coal_times[i], n) || !all_finite(c._right_hand_side_matrix[i], n))
                return false;
        return true;
    }

    int bootstrap_stage()
    {
        char boot_answer = 'n';  // an answer that cannot be read counts as no
        _dialogue.bootstrap_answer(boot_answer);
        if (boot_answer != 'y' && boot_answer != 'Y') {
            c._nb_bootstrap = 0;
            return 1;
        }
        int count = 0;  // a count that cannot be read counts as 0
        _dialogue.replicate_count(count);
        c._nb_bootstrap = count;
        if (c._nb_bootstrap <= 0)
            return 1;
        if (_settings.resampling == Resampling::automatic)
            _dialogue.messages() << "bootstrap: resampling " << (locus_bootstrap() ? "loci" : "copies")
                                 << " (--resample auto: " << c._nb_loci << (c._nb_loci == 1 ? " locus, " : " loci, ")
                                 << (locus_bootstrap() ? "" : "fewer than ") << loci_enough_for_locus_bootstrap
                                 << (locus_bootstrap() ? " or more)" : ")") << std::endl;
        c.set_replicate_threads(replicate_threads_wanted());
        if (!(locus_bootstrap() ? c.check_locus_bootstrap_possible() : c.check_bootstrap_possible())) {
            c.log_file << "-----" << std::endl << c.error_message() << std::flush;
            _dialogue.messages() << c.error_message() << std::flush;
            _outcome.bootstrap_refusal = c.error_message();
            c._nb_bootstrap = 0;
            return 1;
        }
        try {
            if (locus_bootstrap())
                c.allocate_space_for_locus_bootstrap(c._nb_bootstrap);
            else
                c.allocate_space_for_bootstrap(c._nb_bootstrap);
        } catch (const std::bad_alloc&) {
            return error_stop(error_line("not enough memory for " + std::to_string(c._nb_bootstrap) +
                                         " bootstrap replicates"));
        }
        std::uint32_t seed = 0;
        if (!_dialogue.seed(seed))
            return error_stop(error_line("no seed for the random number generator could be read: "
                                         "the console input ended or held no whole number of at most 32 bits"));
        corvane::srand(seed);
        _bootstrap_file.open(c.output_path(OutputFolder::bootstrap_name), std::ios::out | std::ios::trunc);
        if (!_bootstrap_file.is_open())
            return error_stop(error_line("the file \"bootstrap.txt\" could not be created"));
        _bootstrap_file << "Bootstrap values" << std::endl;
        if (!run_replicates())
            return 0;
        _bootstrap_file.close();
        if (!_bootstrap_file)
            return error_stop(bootstrap_not_written());
        c.compute_mean_sd_bootstrap();
        // Replicates that are finite but huge can still give a mean or a
        // standard deviation beyond the float range: no report shows INF or NAN.
        if (!all_finite(c._admix_coef_mean_boot, c._nb_parent_pops) ||
            !all_finite(c._admix_coef_sd_boot, c._nb_parent_pops))
            return error_stop(error_line(std::string("the bootstrap means or standard deviations are not finite "
                                                     "numbers: the replicates' proportions are so large that ") +
                                         "their spread went beyond the largest single-precision value, 3.40282e+38") +
                              cannot_estimate);
        return 1;
    }

    int run_replicates()
    {
        const int threads = replicate_threads();
        _outcome.replicate_threads = threads;
        if (threads > 1)
            return run_replicates_on_threads(threads);
        const int N = c._nb_bootstrap;
        c.write_log_in_background();
        for (int i = 1; i <= N; ++i) {
            if (interrupted())
                return 0;
            _dialogue.replicate_starting(i, N);
            float* row = c._admixture_coef_boot[i - 1];
            if (!estimate_replicate(row))
                return 0;
            write_bootstrap_line(i, row);
            c.end_replicate_log();
            c.log_replicate_summary(i, row);
            if (!replicate_written())
                return 0;
        }
        _dialogue.replicates_done(N);
        return 1;
    }

    // The replicates estimated side by side, each committed in order as the
    // loop above writes it, by whichever thread finds it next in line, this
    // one among them: the commits never overlap, and nothing else touches the
    // files or the dialogue until every thread has ended. A replicate that
    // stops the run is made the error stop only once every thread has ended,
    // since the stop releases the storage the threads read.
    int run_replicates_on_threads(int threads)
    {
        const int N = c._nb_bootstrap;
        const bool log_blocks = c.log_detail() == LogDetail::full;
        ReplicateOutcome stop;
        bool stopped = false;
        bool interrupt_noted = false;
        const auto commit = [&](int replicate, ReplicateOutcome& outcome) {
            if (interrupting_signal() != 0) {
                interrupt_noted = stopped = true;
                return false;
            }
            _dialogue.replicate_starting(replicate, N);
            if (log_blocks)
                c.log_replicate_blocks(outcome.log_text);
            if (outcome.ending != ReplicateOutcome::Ending::estimated) {
                std::swap(stop, outcome);
                stopped = true;
                return false;
            }
            float* row = c._admixture_coef_boot[replicate - 1];
            std::copy(outcome.estimates.begin(), outcome.estimates.end(), row);
            write_bootstrap_line(replicate, row);
            c.log_replicate_summary(replicate, row);
            stopped = !_bootstrap_file || !c.log_written();
            return !stopped;
        };
        _outcome.replicate_threads = estimate_replicates_in_parallel(
            N, threads, [&] { return make_replicate_estimator(c, locus_bootstrap(), log_blocks); }, commit);
        if (interrupt_noted && interrupted())
            return 0;
        if (stopped)
            return stop.ending == ReplicateOutcome::Ending::estimated ? replicate_written()
                                                                      : replicate_stop(stop);
        _dialogue.replicates_done(N);
        return 1;
    }

    // The threads for the replicates: as asked (or the default), no more than
    // the replicates, one when the plain arithmetic is forced (the
    // straightforward implementation runs on one thread), and no more than the
    // storage estimate allowed.
    int replicate_threads() const { return std::min(replicate_threads_wanted(), c.replicate_threads_allowed()); }

    int replicate_threads_wanted() const { return std::max(1, std::min(threads_asked(), c._nb_bootstrap)); }

    // The threads asked for, or the default; one when the plain arithmetic is
    // forced.
    int threads_asked() const
    {
        if (plain_arithmetic_forced())
            return 1;
        return _settings.threads > 0 ? _settings.threads : default_thread_count();
    }

    void write_bootstrap_line(int replicate, const float* row)
    {
        _bootstrap_file << replicate << "\t";
        for (int j = 0; j < c._nb_parent_pops; ++j)
            _bootstrap_file << "mY" << j + 1 << "\t" << format_real(row[j]) << "\t";
        _bootstrap_file << std::endl;
    }

    // A full disk is found at the replicate it happens in, not hours later
    // after the last one.
    int replicate_written()
    {
        if (!_bootstrap_file)
            return error_stop(bootstrap_not_written());
        if (!c.log_written())
            return error_stop(log_not_written());
        return 1;
    }

    // The stop a replicate estimated on a thread ended with, made as the
    // estimate on the run's own thread makes it.
    int replicate_stop(const ReplicateOutcome& outcome)
    {
        switch (outcome.ending) {
        case ReplicateOutcome::Ending::mean_times_zero:
            return mean_times_zero_stop(true);
        case ReplicateOutcome::Ending::not_finite:
            return not_finite_stop(true);
        case ReplicateOutcome::Ending::gaussian:
        case ReplicateOutcome::Ending::refused:
            // As the record's elimination says it, before the stop.
            _dialogue.messages() << "error: Gaussian Elimination, no pivoting\n";
            return gaussian_stop(outcome.refusal);
        case ReplicateOutcome::Ending::estimated:
            break;
        }
        return 1;
    }

    // An interrupt noted since the last look ends the run here, by the error
    // stop, which closes the files as on any other stop.
    bool interrupted()
    {
        const int signal_number = interrupting_signal();
        if (signal_number == 0)
            return false;
        _outcome.interrupted_by = signal_number;
        error_stop(error_line(std::string("the run was interrupted by ") + signal_name(signal_number) +
                              " before its report was written"));
        return true;
    }

    // Memory that ran out where no storage estimate reaches (a log line, a
    // message): the reserve kept for this moment and what the run holds are
    // given back first, and the message was made at the start, so that the
    // stop itself finds room.
    void stop_for_lack_of_memory()
    {
        _memory_reserve.reset();
        std::vector<float>().swap(_outcome.replicate_estimates);
        try {
            release_storage();
            _outcome.status = error_stop(_out_of_memory_message);
        } catch (const std::bad_alloc&) {
            _outcome.status = 0;
            std::fputs(_out_of_memory_message.c_str(), stderr);
        }
    }

    bool locus_bootstrap() const { return _resampling == Resampling::loci; }

    static std::string log_not_written()
    {
        return error_line("the log file \"log_file_admix.txt\" could not be written");
    }

    static std::string bootstrap_not_written()
    {
        return error_line("the file \"bootstrap.txt\" could not be written");
    }

    void keep_results()
    {
        const int P = c._nb_parent_pops;
        _outcome.estimates.assign(c._admixture_coefficients, c._admixture_coefficients + P);
        if (c._nb_bootstrap <= 0)
            return;
        _outcome.replicates = c._nb_bootstrap;
        _outcome.replicate_estimates.reserve(static_cast<std::size_t>(c._nb_bootstrap) * P);
        for (int b = 0; b < c._nb_bootstrap; ++b)
            _outcome.replicate_estimates.insert(_outcome.replicate_estimates.end(), c._admixture_coef_boot[b],
                                                c._admixture_coef_boot[b] + P);
        _outcome.bootstrap_means.assign(c._admix_coef_mean_boot, c._admix_coef_mean_boot + P);
        _outcome.bootstrap_sds.assign(c._admix_coef_sd_boot, c._admix_coef_sd_boot + P);
    }

    // One line for the whole report, since proportions below 0 or above 1 are
    // reported as they come out but are easily misread.
    void warn_about_proportions_outside_0_1()
    {
        std::string outside;
        int how_many = 0;
        for (std::size_t p = 0; p < _outcome.estimates.size(); ++p) {
            const float value = _outcome.estimates[p];
            if (value >= 0.0f && value <= 1.0f)
                continue;
            outside += (how_many ? ", mY" : "mY") + std::to_string(p + 1) + " = " + format_real(value);
            ++how_many;
        }
        if (how_many == 0)
            return;
        _dialogue.warnings() << "Warning: " << outside << (how_many == 1 ? " lies" : " lie")
                             << " outside [0, 1]; this usually means that a parental population that contributed "
                                "to the hybrid is missing from the model, or that parental populations are too "
                                "alike to be told apart"
                             << std::endl;
    }

    // The error stop: "-----" and the messages in the log (when this run has
    // one), the messages on the console, the open files closed, the storage
    // given back. No report is written, so one left by an earlier run stays as
    // it was.
    int error_stop(const std::string& messages)
    {
        c.finish_log_lines();
        _outcome.error_message = messages;
        if (c.log_file.is_open()) {
            c.log_file << "-----" << std::endl;
            c.log_file << messages;
        } else {
            _outcome.outputs_untouched = true;  // the log was never this run's
        }
        _dialogue.messages() << messages << std::flush;
        if (_bootstrap_file.is_open())
            _bootstrap_file.close();
        c.log_file.close();
        release_storage();
        return 0;
    }

    void release_storage()
    {
        if (c._admixture_coef_boot || c._freq_hap_boot)
            c.de_allocate_space_for_bootstrap(c._nb_bootstrap);
        c.de_allocate_space();
    }

    Dialogue& _dialogue;
    const RunSettings& _settings;
    OutputFolder _folder;
    Coef_Admixture c;
    std::ofstream _bootstrap_file;
    RunOutcome _outcome;
    const std::string _out_of_memory_message;
    // Room for the stop when memory runs out: the log lines of the replicate in
    // hand, the messages and the caller's record.
    static constexpr std::size_t memory_reserve_bytes = std::size_t{8} << 20;
    std::unique_ptr<char[]> _memory_reserve;
    Resampling _resampling = Resampling::copies;  // the scheme chosen for this run
};

}  // namespace

RunOutcome run_estimate(Dialogue& dialogue, const RunSettings& settings)
{
    RunDriver driver(dialogue, settings);
    return driver.run();
}

int run_corvane(std::istream& console_in, std::ostream& console_out, std::ostream& warnings)
{
    ConsoleInput answers(console_in);
    ConsoleDialogue dialogue(answers, console_out, warnings);
    return run_estimate(dialogue, RunSettings{}).status;
}
