#include "run_prepare.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include "build_dataset.h"
#include "errors.h"
#include "options.h"
#include "readers.h"

namespace prepare {

namespace {

RawData read_input(const Options& o)
{
    if (!o.fasta.empty())
        return read_fasta(o.fasta, read_population_map(o.populations));
    if (!o.genepop.empty()) {
        if (o.populations.empty())
            return read_genepop(o.genepop, nullptr);
        const PopulationMap map = read_population_map(o.populations);
        return read_genepop(o.genepop, &map);
    }
    if (!o.table.empty())
        return read_table(o.table);
    if (!o.vcf.empty())
        return read_vcf(o.vcf, read_regions(o.regions), read_population_map(o.populations));
    return read_arlequin(o.arlequin);
}

RepeatLengths repeat_lengths_of(const std::string& text)
{
    RepeatLengths lengths;
    if (text.empty())
        return lengths;
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end != text.c_str() && *end == '\0') {
        if (!(number > 0))
            throw UsageError("--repeat-length must be greater than 0, found " + quoted(text));
        lengths.for_all = number;
        return lengths;
    }
    return read_repeat_lengths(text);
}

Choice choice_of(const Options& o)
{
    Choice choice;
    choice.hybrid = o.hybrid;
    choice.parents = o.parents;
    if (choice.parents.size() < 2)
        throw UsageError("--parents needs at least 2 parental populations, found " +
                         std::to_string(choice.parents.size()));
    if (o.distance == "sites")
        choice.distance = Distance::sites;
    else if (o.distance == "repeats2")
        choice.distance = Distance::repeats2;
    else if (o.distance == "01")
        choice.distance = Distance::zero_one;
    choice.repeat_lengths = repeat_lengths_of(o.repeat_length);
    choice.time_since_admixture = o.time_since_admixture;
    choice.mutation_rate = o.mutation_rate;
    return choice;
}

std::vector<std::string> key_header(const Options& o, const dataset::DataSet& data)
{
    std::string parents;
    for (std::size_t p = 1; p < data.populations.size(); ++p)
        parents += (p > 1 ? ", " : "") + data.populations[p] + " (mY" + std::to_string(p) + ")";
    return {program_version(), "command: " + o.command_line, "data file: " + o.output,
            "hybrid: " + data.populations[0] + "; parents: " + parents};
}

// Writes one output file beside its final name; nothing is in place until both
// files are whole (see write_outputs). A failure removes what was begun.
template <typename Write>
std::string write_beside(const std::string& path, const char* what, Write write)
{
    const std::string partial = path + ".partial";
    std::ofstream out(partial);
    if (out)
        write(out);
    out.close();
    if (!out) {
        std::remove(partial.c_str());
        throw DataError("the " + std::string(what) + " " + quoted(path) + " could not be written");
    }
    return partial;
}

// An output file that would replace one of the inputs would lose data the user
// has nowhere else; refused before anything is read.
void refuse_outputs_that_are_inputs(const Options& o)
{
    std::vector<std::string> inputs = o.fasta;
    inputs.insert(inputs.end(), o.arlequin.begin(), o.arlequin.end());
    for (const std::string* single : {&o.genepop, &o.table, &o.vcf, &o.regions, &o.populations, &o.repeat_length})
        if (!single->empty())
            inputs.push_back(*single);
    for (const std::string* output : {&o.output, &o.key}) {
        std::error_code missing;
        for (const std::string& input : inputs)
            if (std::filesystem::equivalent(*output, input, missing))
                throw UsageError("the output file " + quoted(*output) + " is the input file " + quoted(input) +
                                 ", which it would overwrite; choose another name");
    }
    std::error_code missing;
    if (std::filesystem::equivalent(o.output, o.key, missing) || o.output == o.key)
        throw UsageError("the data file and the key file are both " + quoted(o.output) + "; choose another --key");
}

// The data file and its key come as a pair: both are written beside their
// names first and moved into place only when both are whole, so that a failure
// never leaves a data file without its key or an old key beside a new file.
void write_outputs(const Options& o, const dataset::DataSet& data)
{
    const std::string data_partial =
        write_beside(o.output, "data file", [&](std::ostream& file) { dataset::write_data_file(file, data); });
    std::string key_partial;
    try {
        key_partial = write_beside(o.key, "key file", [&](std::ostream& file) {
            dataset::write_key_file(file, data, key_header(o, data));
        });
    } catch (...) {
        std::remove(data_partial.c_str());
        throw;
    }
    if (std::rename(data_partial.c_str(), o.output.c_str()) != 0 || std::rename(key_partial.c_str(), o.key.c_str()) != 0) {
        std::remove(data_partial.c_str());
        std::remove(key_partial.c_str());
        throw DataError("the data file " + quoted(o.output) + " and its key " + quoted(o.key) +
                        " could not be put in place");
    }
}

void print_summary(std::ostream& err, const RawData& raw, const Outcome& outcome, const Options& o)
{
    const dataset::DataSet& data = outcome.data;
    err << "corvane-prepare: " << raw.loci.size() << (raw.loci.size() == 1 ? " locus" : " loci") << " read ("
        << raw.input_kind << "), " << data.loci.size() << " written to " << o.output << ", key in " << o.key << '\n';
    err << "locus\thaplotypes";
    for (const std::string& population : data.populations)
        err << '\t' << population;
    err << '\n';
    std::vector<std::int64_t> totals(data.populations.size(), 0);
    for (const LocusOutcome& locus : outcome.loci) {
        if (!locus.left_out_because.empty())
            continue;
        err << dataset::label_token(locus.name, 0) << '\t' << locus.haplotypes;
        for (std::size_t p = 0; p < locus.copies.size(); ++p) {
            err << '\t' << locus.copies[p];
            totals[p] += locus.copies[p];
        }
        err << '\n';
    }
    err << "all loci\t";
    for (std::int64_t total : totals)
        err << '\t' << total;
    err << '\n';
    for (const LocusOutcome& locus : outcome.loci) {
        if (!locus.left_out_because.empty())
            err << "locus left out: " << quoted(locus.name) << ": " << locus.left_out_because << '\n';
        if (locus.fractional_repeat_pairs > 0)
            err << "note: at locus " << quoted(locus.name) << ' ' << locus.fractional_repeat_pairs
                << " pair(s) of allele sizes differ by a fraction of the repeat length (first: "
                << locus.first_fractional_pair << "); their distance is the exact (difference / length)^2\n";
    }
    for (const auto& [reason, copies] : outcome.copies_left_out)
        err << "copies left out (" << reason << "): " << copies << '\n';
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const std::optional<Options> options = parse_options(argc, argv, out);
    if (!options)
        return exit_success;
    const Choice choice = choice_of(*options);
    refuse_outputs_that_are_inputs(*options);
    const RawData raw = read_input(*options);
    const Outcome outcome = build_dataset(raw, choice);
    const std::string problem = dataset::problem_with(outcome.data);
    if (!problem.empty())
        throw DataError(problem);
    write_outputs(*options, outcome.data);
    print_summary(err, raw, outcome, *options);
    return exit_success;
}

}  // namespace

int run_prepare(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    try {
        return run(argc, argv, out, err);
    } catch (const UsageError& error) {
        print_error(err, error.what());
        return exit_usage_error;
    } catch (const DataError& error) {
        print_error(err, error.what());
        return exit_data_error;
    } catch (const std::bad_alloc&) {
        print_error(err, "not enough memory for the data of these inputs");
        return exit_data_error;
    }
}

}  // namespace prepare
