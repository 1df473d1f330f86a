#include "command_line.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "COEF_ADMIX.h"
#include "bootstrap_outputs.h"
#include "bootstrap_summary.h"
#include "build_info.h"
#include "dialogue.h"
#include "interruption.h"
#include "number_format.h"
#include "output_folder.h"
#include "population_names.h"
#include "quoted_text.h"
#include "replicate_threads.h"
#include "run_driver.h"
#include "run_record.h"
#include "usage_hints.h"
#include "whole_number.h"

namespace {

constexpr int exit_complete = 0;
constexpr int exit_error_stop = 1;
constexpr int exit_usage = 2;
const char* const record_name = "run_record.json";

struct Options {
    std::string data_file;
    bool no_divergence = false;
    int replicates = 0;
    std::uint32_t seed = 1;
    std::string output_folder;
    bool quiet = false;
    std::string resample = "auto";
    std::string key_file;
    std::optional<float> time_since_admixture;
    std::optional<float> mutation_rate;
    bool plot = false;
    // Said on standard error once the options are all read.
    std::vector<std::string> warnings;
    int threads = 0;  // 0: the default, the cores available
    std::string log = "full";
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A whole number as the console reads one (sign, automatic base detection),
// but the whole option value must be the number.
ScannedWholeNumber whole_option(const std::string& option, const std::string& text)
{
    ScannedWholeNumber number;
    bool whole = false;
    if (scan_whole_text(text, number, whole) != WholeNumberScan::ok || !whole)
        throw UsageError(option + " needs a whole number of at most 32 bits, not " + quoted(text));
    return number;
}

int replicates_option(const std::string& text)
{
    int value = 0;
    if (!whole_number_to_int(whole_option("--bootstrap", text), value) || value < 0)
        throw UsageError("--bootstrap needs a number of replicates from 0 to 2147483647, not " + quoted(text));
    return value;
}

// At most this many threads: far more than any machine's cores, little enough
// that their working sets are never the first thing to exhaust memory.
constexpr int most_threads = 256;

int threads_option(const std::string& text)
{
    int value = 0;
    if (!whole_number_to_int(whole_option("--threads", text), value) || value < 1 || value > most_threads)
        throw UsageError("--threads needs a number of threads from 1 to " + std::to_string(most_threads) +
                         ", not " + quoted(text));
    return value;
}

std::uint32_t seed_option(const std::string& text)
{
    std::uint32_t value = 0;
    if (!whole_number_to_uint32(whole_option("--seed", text), value))
        throw UsageError("--seed needs a whole number of at most 32 bits, not " + quoted(text));
    return value;
}

// The front's own messages, in the form every program of the project uses; the
// run's messages keep the console's texts.
std::string front_error(const std::string& text)
{
    return "corvane: error: " + text + "\n";
}

// A time or a rate: a decimal number, not negative, within the single-precision
// range in which the data file's values are kept.
float non_negative_real_option(const std::string& option, const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !(value >= 0) ||
        value > static_cast<double>(std::numeric_limits<float>::max()))
        throw UsageError(option + " needs a number of at least 0, such as 50 or 1e-4, not " + quoted(text));
    return static_cast<float>(value);
}

const char* const help_footer = R"(
The data file is read as at the console; the files are those of a console run
with the same answers: DIR/result_admix.txt (the report), DIR/log_file_admix.txt
(the log), DIR/bootstrap.txt (one line per replicate), and DIR/run_record.json
(what produced them: version, command line, data file checksum, answers, times,
exit status, estimates, warnings). A bootstrap also writes DIR/bootstrap.tsv,
one row per replicate with a column per parental population; --plot writes
DIR/bootstrap.svg. A run first removes all these files of an earlier run from
DIR (the log it empties), so that DIR never mixes two runs.

T and MU: the model adds 2 T MU to each parental population's own mean
coalescence time, so MU is the mutation rate per locus and per unit of T (per
generation with T in generations, per year with T in years).

Populations are named by the key file that corvane-prepare writes beside the
data file (DATA.haplotypes.tsv for DATA.txt), used when present; without one
they are parent1, parent2, ...

--resample: with loci each replicate draws L loci with replacement and
estimates from them as from a data file holding those loci in the drawn order;
its log block lists the loci drawn. It reflects how the loci's genealogies
vary, which resampling copies leaves out. auto, the default, resamples loci
from 20 loci on and copies below, and says which on standard error; copies
writes the same files as the console's bootstrap.

Standard output: a tab-separated table with a header line, one line per
parental population: parent, population, mY and, with a bootstrap, boot_mean,
boot_sd and q2.5, q97.5, the 2.5 % and 97.5 % quantiles of that parent's
replicate values, computed like R's default quantile (type 7: linear
interpolation between order statistics). Report the estimate mY with its SD or its quantile interval.

Standard error: bootstrap progress, the key and the resampling scheme used,
warnings (the record keeps them too) and error messages.

The record says "running" from the moment the run takes its folder; the
checksum is of the bytes read.

Exit status: 0 complete, 1 an error stop (no report written; also a table that
could not be written), 2 a usage error (an empty option value is one), 130 or
143 interrupted by SIGINT or SIGTERM between two stages or replicates.

Started without arguments, corvane asks its questions on the console instead.
corvane-prepare writes the data file from alignments, microsatellite genotypes,
allele tables, phased VCF and Arlequin files; corvane-simulate simulates data
files with known admixture proportions. Each has its --help and manual page.)";

// Where the user guide, the description of the data file and the examples are installed.
std::string documentation_note()
{
    return std::string("\n\nDocumentation (README.md, readme_Corvane2_0.txt, examples/): ") + documentation_folder +
           "\nManual pages: man corvane, man corvane-prepare, man corvane-simulate.\n";
}

// Passes the text on to standard error a line at a time (standard error is
// unbuffered: character by character it would take a write each) and keeps
// each finished line, so that the run record lists the warnings the user saw.
class LinesKept : public std::streambuf {
public:
    explicit LinesKept(std::streambuf* target) : _target(target) {}
    ~LinesKept() override { pass_on(); }
    LinesKept(const LinesKept&) = delete;
    LinesKept& operator=(const LinesKept&) = delete;
    const std::vector<std::string>& lines() const { return _lines; }

protected:
    int overflow(int ch) override
    {
        if (ch == traits_type::eof())
            return 0;
        _unwritten += static_cast<char>(ch);
        if (ch != '\n') {
            _line += static_cast<char>(ch);
            return ch;
        }
        _lines.push_back(_line);
        _line.clear();
        return pass_on() ? ch : traits_type::eof();
    }
    int sync() override { return pass_on() ? _target->pubsync() : -1; }

private:
    bool pass_on()
    {
        const auto size = static_cast<std::streamsize>(_unwritten.size());
        const bool written = _target->sputn(_unwritten.data(), size) == size;
        _unwritten.clear();
        return written;
    }

    std::streambuf* _target;
    std::string _line;
    std::string _unwritten;
    std::vector<std::string> _lines;
};

// The command line's side of the dialogue: every question is answered from the
// options, the dialogue's own text goes nowhere, messages and warnings go to
// standard error, and progress is drawn there.
class OptionsDialogue : public Dialogue {
public:
    OptionsDialogue(const Options& options, std::ostream& err, std::ostream& warnings, bool err_is_terminal)
        : _options(options), _err(err), _warnings(warnings), _terminal(err_is_terminal), _nowhere(nullptr)
    {
    }

    bool data_file_name(std::string& name) override
    {
        name = _options.data_file;
        return true;
    }
    bool divergence_answer(char& answer) override
    {
        answer = _options.no_divergence ? 'n' : 'y';
        return true;
    }
    bool bootstrap_answer(char& answer) override
    {
        answer = _options.replicates > 0 ? 'y' : 'n';
        return true;
    }
    bool replicate_count(int& count) override
    {
        count = _options.replicates;
        return true;
    }
    bool seed(std::uint32_t& seed) override
    {
        seed = _options.seed;
        return true;
    }
    void closing() override {}
    void data_file_read(const std::string& bytes) override { _data_digest = digest_of_bytes(bytes); }
    const std::optional<FileDigest>& data_digest() const { return _data_digest; }

    std::ostream& dialogue_text() override { return _nowhere; }
    std::ostream& messages() override { return _err; }
    std::ostream& warnings() override { return _warnings; }

    // On a terminal one line redrawn in place; otherwise a plain line at each
    // quarter of the replicates, so that a log of a batch stays short.
    void replicate_starting(int replicate, int replicates) override
    {
        if (_options.quiet)
            return;
        const int done = replicate - 1;
        if (_terminal)
            _err << "\rbootstrap: " << done << "/" << replicates << " replicates" << std::flush;
        else if (done > 0 && quarter(done, replicates) > quarter(done - 1, replicates))
            _err << "bootstrap: " << done << " of " << replicates << " replicates done" << std::endl;
    }
    void replicates_done(int replicates) override
    {
        if (_options.quiet)
            return;
        if (_terminal)
            _err << "\rbootstrap: " << replicates << "/" << replicates << " replicates" << std::endl;
        else
            _err << "bootstrap: " << replicates << " of " << replicates << " replicates done" << std::endl;
    }
    void draw_found_no_copy(int random_number) override
    {
        _err << "random_number: " << random_number << std::endl;
        _err << "Problem ! Should never be the case !" << std::endl;
    }

private:
    static long long quarter(long long done, long long replicates) { return 4 * done / replicates; }

    const Options& _options;
    std::ostream& _err;
    std::ostream& _warnings;
    bool _terminal;
    std::ostream _nowhere;
    std::optional<FileDigest> _data_digest;
};

std::vector<ParentResult> results_of(const RunOutcome& outcome, const std::vector<std::string>& names)
{
    std::vector<ParentResult> rows;
    for (std::size_t p = 0; p < outcome.estimates.size(); ++p) {
        ParentResult row;
        row.parent = static_cast<int>(p + 1);
        row.population = names[p];
        row.estimate = outcome.estimates[p];
        if (outcome.replicates > 0) {
            std::vector<double> values;
            const std::size_t parents = outcome.estimates.size();
            values.reserve(outcome.replicate_estimates.size() / parents);
            for (std::size_t at = p; at < outcome.replicate_estimates.size(); at += parents)
                values.push_back(outcome.replicate_estimates[at]);
            row.bootstrap_mean = outcome.bootstrap_means[p];
            row.bootstrap_sd = outcome.bootstrap_sds[p];
            row.quantile_2_5 = quantile_type7(values, 0.025);
            row.quantile_97_5 = quantile_type7(values, 0.975);
        }
        rows.push_back(row);
    }
    return rows;
}

template <class Value>
std::string cell(const std::optional<Value>& value)
{
    return value ? format_real(*value) : "NA";
}

// The columns depend on the options only, so that scripts can rely on them: a
// bootstrap asked for but impossible shows NA in its columns.
bool write_table(std::ostream& out, const std::vector<ParentResult>& rows, bool bootstrap_asked)
{
    out << "parent\tpopulation\tmY";
    if (bootstrap_asked)
        out << "\tboot_mean\tboot_sd\tq2.5\tq97.5";
    out << "\n";
    for (const ParentResult& row : rows) {
        out << row.parent << "\t" << row.population << "\t" << format_real(row.estimate);
        if (bootstrap_asked)
            out << "\t" << cell(row.bootstrap_mean) << "\t" << cell(row.bootstrap_sd) << "\t"
                << cell(row.quantile_2_5) << "\t" << cell(row.quantile_97_5);
        out << "\n";
    }
    return static_cast<bool>(out << std::flush);
}

// The resampling schemes, checked without CLI11's own list of them, which the
// help would show beside the option's name a second time.
std::string resampling_problem(std::string& value)
{
    if (value == "auto" || value == "loci" || value == "copies")
        return "";
    return "--resample is auto, loci or copies, not " + ::quoted(value);
}

std::string log_detail_problem(std::string& value)
{
    if (value == "full" || value == "summary" || value == "none")
        return "";
    return "--log is full, summary or none, not " + ::quoted(value);
}

// The long names of the options, for suggesting the one a mistyped name meant.
std::vector<std::string> long_option_names(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
    return names;
}

// An unknown option named with the one it most likely meant, or CLI11's own
// message when no argument looks like a mistyped option.
std::string unknown_option_message(const CLI::App& app, const std::vector<std::string>& arguments,
                                   const std::string& message)
{
    const std::vector<std::string> known = long_option_names(app);
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument.compare(0, 2, "--") != 0)
            continue;
        const std::string name = argument.substr(0, argument.find('='));
        if (std::find(known.begin(), known.end(), name) != known.end())
            continue;
        const std::string closest = closest_option(name, known);
        return "unknown option " + quoted(name) + (closest.empty() ? "" : "; did you mean " + closest + "?");
    }
    return message;
}

// Options that only a bootstrap uses, given without one.
void warn_about_options_without_bootstrap(const CLI::App& app, Options& options)
{
    if (options.replicates > 0)
        return;
    for (const char* option : {"--seed", "--resample"})
        if (app.count(option) > 0)
            options.warnings.push_back(std::string("Warning: ") + option +
                                       " is used by a bootstrap only; without --bootstrap N it has no effect");
}

// `finished` names the text written when the options asked for it alone
// (the help, the version), and is left empty otherwise.
Options parse_options(const std::vector<std::string>& arguments, std::ostream& out, std::string& finished)
{
    Options options;
    std::string replicates_text;
    std::string seed_text;
    std::string time_text;
    std::string rate_text;
    CLI::App app("Estimates the admixture proportions mY of a hybrid population from a data file of haplotype "
                 "counts and distances.",
                 "corvane");
    app.add_flag("-n,--no-divergence", options.no_divergence,
                 "distances 1 between different haplotypes and 0 to themselves, instead of the file's");
    CLI::Option* replicates = app.add_option("-b,--bootstrap", replicates_text,
                                             "bootstrap replicates, read as the console reads a number (010 is "
                                             "octal 8, 0x10 is 16; default 0: none)")
                                  ->type_name("N");
    CLI::Option* seed = app.add_option("-s,--seed", seed_text,
                                       "seed of the random number generator, read as the console reads it "
                                       "(default 1)")
                            ->type_name("S");
    app.add_option("--resample", options.resample,
                   "what a bootstrap replicate draws: loci (L loci with replacement), copies (each sample's "
                   "copies anew from its counts, as at the console) or auto (the default: loci from 20 loci on, "
                   "copies below)")
        ->check(CLI::Validator(resampling_problem, ""))
        ->type_name("auto|loci|copies");
    app.add_option("--time", time_text, "time since the admixture event, instead of the data file's")
        ->type_name("T");
    app.add_option("--rate", rate_text, "mutation rate per locus and per unit of T, instead of the data file's")
        ->type_name("MU");
    app.add_option("--key", options.key_file,
                   "key file naming the populations (default: the one corvane-prepare writes beside the data "
                   "file, when present)")
        ->type_name("FILE");
    app.add_flag("--plot", options.plot, "draw the bootstrap's histograms, or the estimates, in DIR/bootstrap.svg");
    CLI::Option* output_folder = app.add_option("-o,--output-dir", options.output_folder,
                                                "folder for the files, created if missing (default: the current "
                                                "folder)")
                                     ->type_name("DIR");
    std::string threads_text;
    CLI::Option* threads = app.add_option("--threads", threads_text,
                                          "threads that read the data file and estimate bootstrap replicates "
                                          "(default: the cores available, " + std::to_string(default_thread_count()) +
                                              " here); every file is the same whatever the number")
                               ->type_name("N");
    app.add_option("--log", options.log,
                   "what the log holds: full (the default: every intermediate result of every replicate), "
                   "summary (the data, the estimate and one line per replicate) or none (no log)")
        ->check(CLI::Validator(log_detail_problem, ""))
        ->type_name("full|summary|none");
    app.add_flag("-q,--quiet", options.quiet, "no progress on standard error");
    app.set_version_flag("--version", version_line("corvane"), "the program's version and commit");
    app.add_option("DATA_FILE", options.data_file, "the data file")->required()->type_name("");
    app.footer(help_footer + documentation_note());
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        finished = "the help";
        return options;
    } catch (const CLI::CallForVersion&) {
        out << version_line("corvane") << "\n";
        finished = "the version line";
        return options;
    } catch (const CLI::ExtrasError& error) {
        throw UsageError(unknown_option_message(app, arguments, error.what()));
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    // An empty value is a mistake, not the default: `-b "$N"` with N unset
    // must not quietly run no bootstrap.
    if (replicates->count() > 0)
        options.replicates = replicates_option(replicates_text);
    if (seed->count() > 0)
        options.seed = seed_option(seed_text);
    if (output_folder->count() > 0 && options.output_folder.empty())
        throw UsageError("--output-dir needs the name of a folder, not \"\"");
    if (threads->count() > 0)
        options.threads = threads_option(threads_text);
    if (!time_text.empty())
        options.time_since_admixture = non_negative_real_option("--time", time_text);
    if (!rate_text.empty())
        options.mutation_rate = non_negative_real_option("--rate", rate_text);
    std::error_code ignored;
    if (!options.output_folder.empty() && std::filesystem::exists(options.output_folder, ignored) &&
        !std::filesystem::is_directory(options.output_folder, ignored))
        throw UsageError("-o names " + ::quoted(options.output_folder) +
                         ", which is a file, not a folder; give a folder for the output files");
    warn_about_options_without_bootstrap(app, options);
    return options;
}

// Creates the output folder when missing and tries writing in it; the message
// of an error stop, with the system's reason, when it cannot be written.
std::string prepare_output_folder(const std::string& folder)
{
    const std::string shown = folder.empty() ? "." : folder;
    std::error_code error;
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    if (error)
        return front_error("the output folder " + quoted(shown) + " could not be created: " + error.message());
    std::string probe = shown + "/.corvane-write-test-XXXXXX";
    const int descriptor = mkstemp(&probe[0]);
    if (descriptor < 0)
        return front_error("the output folder " + quoted(shown) + " cannot be written: " + std::strerror(errno));
    close(descriptor);
    std::remove(probe.c_str());
    return "";
}

// The status of a run whose whole output is a text on standard output (--help,
// --version): a text that could not be written is an error.
int written(std::ostream& out, const std::string& what, std::ostream& err)
{
    if (out << std::flush)
        return exit_complete;
    err << front_error(what + " could not be written to standard output") << std::flush;
    return exit_error_stop;
}

// Writes the record; when it cannot be written, no record stays in its place
// (an earlier run's, or the one this run wrote as it started).
void keep_record(const std::string& path, const RunRecord& record, std::ostream& err)
{
    if (write_run_record(path, record))
        return;
    ::unlink(path.c_str());
    err << "Warning: the run record " << quoted(path) << " could not be written" << std::endl;
}

std::string without_last_newline(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// The key that names the populations: the one given, or the one corvane-prepare
// writes beside the data file when it is there. A key given but unreadable is
// a usage error; a default key that cannot be read is left aside with a warning.
std::optional<PopulationNames> population_names(const Options& options, std::ostream& err, std::ostream& warnings)
{
    const bool given = !options.key_file.empty();
    const std::string path = given ? options.key_file : default_key_path(options.data_file);
    std::error_code ignored;
    if (!given && !std::filesystem::is_regular_file(path, ignored))
        return std::nullopt;
    std::string problem;
    std::optional<PopulationNames> names = read_key_names(path, problem);
    if (!names && given)
        throw UsageError(problem);
    if (!names)
        warnings << "Warning: " << problem << "; the populations are named parent1, parent2, ..." << std::endl;
    else
        err << "populations named by the key file " << quoted(path) << std::endl;
    return names;
}

// How many replicates gave some proportion below 0 or above 1: such values are
// kept as they come out, but a bootstrap full of them describes a doubtful model.
int replicates_outside_0_1(const RunOutcome& outcome)
{
    int outside = 0;
    const std::size_t width = outcome.estimates.size();
    for (std::size_t at = 0; width > 0 && at < outcome.replicate_estimates.size(); at += width)
        outside += std::any_of(&outcome.replicate_estimates[at], &outcome.replicate_estimates[at] + width,
                               [](float v) { return !(v >= 0.0f && v <= 1.0f); });
    return outside;
}

const std::vector<const char*> earlier_outputs = {OutputFolder::report_name, OutputFolder::bootstrap_name,
                                                  bootstrap_table_name, bootstrap_plot_name, record_name};

// The output files of an earlier run, removed once the folder is this run's
// (the log, which the claim holds, is emptied when it is opened); none when the
// data file is one of them, which the run then refuses to read over.
void remove_earlier_outputs(const OutputFolder& folder, const std::string& data_file)
{
    if (!folder.output_file_matching(data_file).empty())
        return;
    for (const char* name : earlier_outputs)
        std::remove(folder.path_of(name).c_str());
}

// The command line's files beside the report: the tidy table of the
// replicates and the picture.
void write_extra_files(const OutputFolder& folder, const Options& options, const RunOutcome& outcome,
                       const std::vector<ParentResult>& results, const std::vector<std::string>& names,
                       std::ostream& warnings)
{
    const auto write = [&](const char* name, const std::function<void(std::ostream&)>& write_contents) {
        const std::string path = folder.path_of(name);
        if (!write_whole_file(path, write_contents))
            warnings << "Warning: the file " << quoted(path) << " could not be written" << std::endl;
    };
    if (outcome.replicates > 0)
        write(bootstrap_table_name,
              [&](std::ostream& out) { write_bootstrap_table(out, names, outcome.replicate_estimates); });
    if (options.plot)
        write(bootstrap_plot_name,
              [&](std::ostream& out) { out << bootstrap_plot(names, results, outcome.replicate_estimates); });
}

const char* resampling_name(Resampling resampling)
{
    return resampling == Resampling::loci ? "loci" : "copies";
}

}  // namespace

int run_command_line(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                     bool err_is_terminal)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string started = utc_now_iso8601();
    LinesKept warning_lines(err.rdbuf());
    std::ostream warnings(&warning_lines);
    Options options;
    std::optional<PopulationNames> names;
    try {
        std::string finished;
        options = parse_options({arguments.begin() + 1, arguments.end()}, out, finished);
        if (!finished.empty())
            return written(out, finished, err);
        for (const std::string& warning : options.warnings)
            warnings << warning << std::endl;
        names = population_names(options, err, warnings);
    } catch (const UsageError& error) {
        err << front_error(error.what()) << "Run \"corvane --help\" for the options." << std::endl;
        return exit_usage;
    }
    const std::string advice = foreign_format_advice(options.data_file);
    if (!advice.empty()) {
        err << front_error(advice) << std::flush;
        return exit_error_stop;
    }
    const std::string folder_problem = prepare_output_folder(options.output_folder);
    if (!folder_problem.empty()) {
        err << folder_problem << std::flush;
        return exit_error_stop;
    }

    OptionsDialogue dialogue(options, err, warnings, err_is_terminal);
    const OutputFolder shown(options.output_folder);
    const std::string record_path = shown.path_of(record_name);
    // What every version of the record holds; the end, the results and what
    // the data file said are added when the run ends.
    const auto record_so_far = [&] {
        RunRecord record;
        record.command_line = arguments;
        std::error_code ignored;
        record.working_folder = std::filesystem::current_path(ignored).string();
        record.data_file = options.data_file;
        record.data_file_digest = dialogue.data_digest();
        record.divergence = !options.no_divergence;
        record.replicates = options.replicates;
        record.seed = options.seed;
        record.resample = options.resample;
        record.time_option = options.time_since_admixture;
        record.rate_option = options.mutation_rate;
        record.output_folder = shown.shown_name();
        record.log_detail = options.log;
        record.started_utc = started;
        return record;
    };
    RunSettings settings;
    settings.output_folder = options.output_folder;
    settings.resampling = options.resample == "loci"     ? Resampling::loci
                          : options.resample == "copies" ? Resampling::copies
                                                         : Resampling::automatic;
    settings.time_since_admixture = options.time_since_admixture;
    settings.mutation_rate = options.mutation_rate;
    settings.guarded_files = {record_name, bootstrap_table_name, bootstrap_plot_name};
    settings.after_claim = [&](const OutputFolder& folder) { remove_earlier_outputs(folder, options.data_file); };
    settings.threads = options.threads;
    settings.log_detail = options.log == "none"      ? LogDetail::none
                          : options.log == "summary" ? LogDetail::summary
                                                     : LogDetail::full;
    // From the moment the run takes its folder the record says it is running,
    // so that a record left by an earlier run never stands beside this run's
    // files, even when this run is killed.
    settings.when_folder_taken = [&] {
        RunRecord record = record_so_far();
        record.running = true;
        keep_record(record_path, record, err);
    };
    int status = exit_error_stop;
    settings.before_release = [&](const RunOutcome& outcome) {
        const std::vector<std::string> parents = parent_names(names, outcome.estimates.size());
        if (names && !outcome.estimates.empty() && names->parents.size() != outcome.estimates.size())
            warnings << "Warning: the key file " << quoted(names->key_file) << " names " << names->parents.size()
                     << " parental populations, the data file holds " << outcome.estimates.size()
                     << "; the populations are named parent1, parent2, ..." << std::endl;
        RunRecord record = record_so_far();
        record.results = results_of(outcome, parents);
        record.replicates_outside_0_1 = replicates_outside_0_1(outcome);
        if (record.replicates_outside_0_1 > 0)
            warnings << "Warning: " << record.replicates_outside_0_1 << " of " << outcome.replicates
                     << " bootstrap replicates have a proportion below 0 or above 1" << std::endl;
        if (outcome.status == 1)
            write_extra_files(shown, options, outcome, record.results, parents, warnings);
        if (outcome.replicates > 0)
            record.resampling_used = resampling_name(outcome.resampling);
        record.data_file_time = outcome.data_file_time;
        record.data_file_rate = outcome.data_file_rate;
        if (names && names->parents.size() == outcome.estimates.size()) {
            record.key_file = names->key_file;
            record.hybrid = names->hybrid;
        }
        record.error_message = without_last_newline(outcome.error_message + outcome.estimate_refusal);
        status = outcome.status == 1 ? exit_complete : exit_error_stop;
        if (outcome.interrupted_by != 0)
            status = 128 + outcome.interrupted_by;
        // The table goes out while the folder is held, so that a table lost to a
        // full disk or a closed standard output is an error stop in the record.
        if (status == exit_complete && !write_table(out, record.results, options.replicates > 0)) {
            const std::string message = front_error("the results table could not be written to standard output");
            err << message << std::flush;
            record.error_message = without_last_newline(message);
            status = exit_error_stop;
        }
        record.duration_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        record.exit_status = status;
        record.bootstrap_refusal = without_last_newline(outcome.bootstrap_refusal);
        record.replicates_summarised = outcome.replicates;
        record.replicate_threads = outcome.replicate_threads;
        record.warnings = warning_lines.lines();
        keep_record(record_path, record, err);
    };
    const RunOutcome outcome = run_estimate(dialogue, settings);
    if (outcome.outputs_untouched)
        return outcome.interrupted_by != 0 ? 128 + outcome.interrupted_by : exit_error_stop;
    return status;
}
