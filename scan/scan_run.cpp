#include "scan_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include <sys/stat.h>

#include "build_info.h"
#include "run_record.h"
#include "errors.h"
#include "interruption.h"
#include "locus_tables.h"
#include "model_fit.h"
#include "options.h"
#include "parallel_items.h"
#include "random_numbers.h"
#include "scan_data.h"
#include "scan_figure.h"
#include "scan_output.h"
#include "scan_record.h"

namespace scan {

namespace {

const char* const table_name = "scan.tsv";
const char* const figure_name = "scan.svg";
const char* const record_name = "run_record.json";
// A scan of more models than this would run for days: the command line is refused.
constexpr double most_models = 1e6;

struct Model {
    std::vector<int> sources;
    std::vector<int> references;
};

std::string joined_names(const std::vector<std::string>& names, std::size_t first)
{
    std::string text;
    for (std::size_t i = first; i < names.size(); ++i)
        text += (i > first ? ", " : "") + names[i];
    return text;
}

int row_of(const std::string& name, const std::vector<std::string>& names, const char* option)
{
    for (std::size_t row = 1; row < names.size(); ++row)
        if (names[row] == name)
            return static_cast<int>(row);
    if (name == names[0])
        throw UsageError(std::string(option) + " names " + quoted(name) + ", the hybrid; the candidates are " +
                         joined_names(names, 1));
    throw UsageError(std::string(option) + " names " + quoted(name) + ", which the data file does not hold; the " +
                     "candidates are " + joined_names(names, 1));
}

std::vector<int> candidate_rows(const Options& options, const std::vector<std::string>& names)
{
    std::vector<int> rows;
    if (options.candidates.empty()) {
        for (std::size_t row = 1; row < names.size(); ++row)
            rows.push_back(static_cast<int>(row));
        return rows;
    }
    for (const std::string& name : options.candidates)
        rows.push_back(row_of(name, names, "--candidates"));
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<int> others_than(const std::vector<int>& rows, const std::vector<int>& sources)
{
    std::vector<int> others;
    for (int row : rows)
        if (std::find(sources.begin(), sources.end(), row) == sources.end())
            others.push_back(row);
    return others;
}

// The models of the command line: the one --model names, or every set of each
// size of --sources, in the candidates' order.
std::vector<Model> list_models(const Options& options, const std::vector<int>& rows,
                               const std::vector<std::string>& names)
{
    std::vector<Model> models;
    if (!options.model.empty()) {
        Model model;
        for (const std::string& name : options.model) {
            const int row = row_of(name, names, "--model");
            if (std::find(rows.begin(), rows.end(), row) == rows.end())
                throw UsageError("--model names " + quoted(name) + ", which is not among --candidates");
            model.sources.push_back(row);
        }
        model.references = others_than(rows, model.sources);
        models.push_back(model);
        return models;
    }
    const int C = static_cast<int>(rows.size());
    if (options.fewest_sources > C)
        throw UsageError("--sources asks for models of " + std::to_string(options.fewest_sources) +
                         " sources, but there are " + std::to_string(C) + " candidates");
    double count = 0;
    for (int K = options.fewest_sources; K <= std::min(options.most_sources, C); ++K)
        count += std::round(std::exp(std::lgamma(C + 1.0) - std::lgamma(K + 1.0) - std::lgamma(C - K + 1.0)));
    if (count > most_models)
        throw UsageError("--sources " + std::to_string(options.fewest_sources) + "-" +
                         std::to_string(options.most_sources) + " of " + std::to_string(C) + " candidates makes " +
                         std::to_string(static_cast<long long>(count)) + " models, more than " +
                         std::to_string(static_cast<long long>(most_models)) +
                         "; narrow --sources or --candidates");
    for (int K = options.fewest_sources; K <= std::min(options.most_sources, C); ++K)
        for (const std::vector<int>& chosen : combinations(C, K)) {
            Model model;
            for (int index : chosen)
                model.sources.push_back(rows[static_cast<std::size_t>(index)]);
            model.references = others_than(rows, model.sources);
            models.push_back(model);
        }
    return models;
}

// The loci of every bootstrap replicate, drawn as corvane's locus bootstrap
// draws them from the same seed, once for all models.
std::vector<std::vector<int>> draw_bootstrap_loci(int replicates, std::uint32_t seed, int loci)
{
    std::vector<std::vector<int>> draws(static_cast<std::size_t>(replicates));
    corvane::srand(seed);
    for (std::vector<int>& drawn : draws) {
        drawn.resize(static_cast<std::size_t>(loci));
        for (int& locus : drawn)
            locus = static_cast<int>(even_random_below(loci));
    }
    return draws;
}

// Progress on standard error: a line at each quarter of the models.
class Progress {
public:
    Progress(std::ostream& err, std::size_t models, bool quiet) : _err(err), _models(models), _quiet(quiet) {}
    void model_done()
    {
        const std::size_t done = ++_done;
        if (_quiet || 4 * done / _models == 4 * (done - 1) / _models)
            return;
        std::lock_guard<std::mutex> lock(_mutex);
        _err << "corvane-scan: " << done << " of " << _models << " models done" << std::endl;
    }

private:
    std::ostream& _err;
    std::size_t _models;
    bool _quiet;
    std::atomic<std::size_t> _done{0};
    std::mutex _mutex;
};

// An interrupt (SIGINT) or a request to end (SIGTERM) noted during the scan:
// the models stop being handed out, and the scan ends without its table.
struct Interrupted {
    int signal_number;
};

void stop_when_interrupted()
{
    if (const int signal_number = interrupting_signal())
        throw Interrupted{signal_number};
}

// Each model on the first free thread; its result in its own place, so that the
// output does not depend on the number of threads.
std::vector<ModelResult> fit_models(const std::vector<Model>& models, const LocusTables& tables,
                                    const ScanData& data, const std::vector<std::vector<int>>& draws,
                                    int threads, Progress& progress)
{
    std::vector<ModelResult> results(models.size());
    for_each_item_on_threads(models.size(), threads, [&] {
        auto fitter = std::make_shared<ModelFitter>(tables, data.time_since_admixture, data.mutation_rate, draws);
        return [&, fitter](std::size_t m) {
            stop_when_interrupted();
            results[m] = fitter->fit(models[m].sources, models[m].references);
            progress.model_done();
        };
    });
    return results;
}

std::string path_in(const std::string& folder, const char* name)
{
    return folder.empty() ? std::string(name) : (std::filesystem::path(folder) / name).string();
}

void prepare_output_folder(const std::string& folder)
{
    if (folder.empty())
        return;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        throw RunError("the output folder " + quoted(folder) + " could not be created" +
                       (error ? ": " + error.message() : ": a file of that name exists"));
}

// An input that is one of the files the scan writes would be replaced by it.
void refuse_input_among_outputs(const std::string& input, const std::string& folder)
{
    struct stat input_status {};
    if (input.empty() || ::stat(input.c_str(), &input_status) != 0)
        return;
    for (const char* name : {table_name, figure_name, record_name}) {
        struct stat output_status {};
        const std::string output = path_in(folder, name);
        if (::stat(output.c_str(), &output_status) == 0 && output_status.st_dev == input_status.st_dev &&
            output_status.st_ino == input_status.st_ino)
            throw RunError("the input " + quoted(input) + " is the file " + quoted(output) +
                           " that the scan writes; give it another name or choose another output folder");
    }
}

std::vector<std::string> population_names(const Options& options, const ScanData& data, std::string& key_used)
{
    key_used = options.key_file.empty() ? default_key_path(options.data_file) : options.key_file;
    if (options.key_file.empty() && !std::filesystem::exists(key_used)) {
        key_used.clear();
        return numbered_names(data.candidates);
    }
    return read_key_names(key_used, data.candidates + 1);
}

// The scan's files of an earlier run, removed once this run has its input, so
// that the folder never mixes two runs: the record then says "running" until
// the scan ends.
void take_output_folder(const std::string& folder, const ScanRecord& record)
{
    for (const char* name : {table_name, figure_name})
        std::remove(path_in(folder, name).c_str());
    write_whole_file(path_in(folder, record_name), record_text(record));
}

std::string folder_shown(const std::string& folder)
{
    std::error_code ignored;
    return std::filesystem::absolute(folder.empty() ? "." : folder, ignored).lexically_normal().string();
}

}  // namespace

std::vector<std::vector<int>> combinations(int count, int size)
{
    std::vector<std::vector<int>> sets;
    if (size < 0 || size > count)
        return sets;
    std::vector<int> chosen(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        chosen[static_cast<std::size_t>(i)] = i;
    for (;;) {
        sets.push_back(chosen);
        int i = size - 1;
        while (i >= 0 && chosen[static_cast<std::size_t>(i)] == count - size + i)
            --i;
        if (i < 0)
            return sets;
        ++chosen[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < size; ++j)
            chosen[static_cast<std::size_t>(j)] = chosen[static_cast<std::size_t>(j - 1)] + 1;
    }
}

int run_scan(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    const auto start = std::chrono::steady_clock::now();
    ScanRecord record;
    record.command_line = arguments;
    record.started_utc = utc_now_iso8601();
    std::error_code ignored;
    record.working_folder = std::filesystem::current_path(ignored).string();
    Options options;
    try {
        const std::optional<Options> parsed = parse_options({arguments.begin() + 1, arguments.end()}, out);
        if (!parsed)
            return out.flush() ? exit_complete : (print_error(err, "the help could not be written"), exit_run_error);
        options = *parsed;
    } catch (const UsageError& error) {
        print_error(err, error.what(), true);
        return exit_usage_error;
    }
    record.options = options;
    record.data_file = options.data_file;
    record.output_folder = folder_shown(options.output_folder);
    try {
        prepare_output_folder(options.output_folder);
    } catch (const RunError& error) {
        print_error(err, error.what());
        return exit_run_error;
    }

    ScanData data;
    std::vector<std::string> names;
    std::vector<ModelResult> results;
    int status = exit_complete;
    note_interruptions();
    try {
        refuse_input_among_outputs(options.data_file, options.output_folder);
        data = read_scan_data(options.data_file);
        record.data_bytes = &data.contents;
        names = population_names(options, data, record.key_file);
        refuse_input_among_outputs(record.key_file, options.output_folder);
        take_output_folder(options.output_folder, record);
        data.names = names;
        const std::vector<int> rows = candidate_rows(options, names);
        const std::vector<Model> models = list_models(options, rows, names);
        check_copies(data, rows, options.data_file);
        const int loci = static_cast<int>(data.loci.size());
        const std::vector<std::vector<int>> draws = draw_bootstrap_loci(options.replicates, options.seed, loci);
        const LocusTables tables(data, options.threads);
        Progress progress(err, models.size(), options.quiet);
        stop_when_interrupted();
        results = fit_models(models, tables, data, draws, options.threads, progress);
        stop_when_interrupted();
        complete_p_values(results);
        sort_models(results);
        const std::string table = table_text(results, names, options.replicates > 0);
        write_whole_file(path_in(options.output_folder, table_name), table);
        write_whole_file(path_in(options.output_folder, figure_name), scan_figure(results, names));
        out << table << std::flush;
        if (!out)
            throw RunError("the table could not be written to standard output");
    } catch (const UsageError& error) {
        status = exit_usage_error;
        record.error_message = error.what();
        print_error(err, error.what(), true);
    } catch (const RunError& error) {
        status = exit_run_error;
        record.error_message = error.what();
        print_error(err, error.what());
    } catch (const std::bad_alloc&) {
        status = exit_run_error;
        record.error_message = "not enough memory for the scan of this data file";
        print_error(err, record.error_message);
    } catch (const Interrupted& interrupted) {
        status = 128 + interrupted.signal_number;
        results.clear();
        record.error_message =
            std::string("the scan was interrupted by ") + signal_name(interrupted.signal_number) + "; no table written";
        print_error(err, record.error_message);
    }
    record.running = false;
    record.exit_status = status;
    record.results = &results;
    record.names = &names;
    record.duration_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    try {
        write_whole_file(path_in(options.output_folder, record_name), record_text(record));
    } catch (const RunError& error) {
        print_error(err, error.what());
        return exit_run_error;
    }
    return status;
}

}  // namespace scan
