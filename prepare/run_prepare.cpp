#include "run_prepare.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <set>
#include <tuple>

#include "build_dataset.h"
#include "errors.h"
#include "options.h"
#include "output_files.h"
#include "readers.h"
#include "text_input.h"

namespace prepare {

namespace {

// The names, or the first ten of them and how many there are in all.
std::string listed_briefly(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < 10; ++i)
        text += (i ? ", " : "") + names[i];
    return names.size() > 10 ? text + ", ... (" + std::to_string(names.size()) + " in all)" : text;
}

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
        return read_vcf(o.vcf, o.regions, read_regions(o.regions), read_population_map(o.populations));
    return read_arlequin(o.arlequin);
}

RepeatLengths repeat_lengths_of(const std::string& text)
{
    RepeatLengths lengths;
    if (text.empty())
        return lengths;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return read_repeat_lengths(text);
    try {
        lengths.for_all = parse_repeat_length(text, "--repeat-length: ");
    } catch (const DataError& error) {
        throw UsageError(error.what());
    }
    return lengths;
}

Choice choice_of(const Options& o)
{
    Choice choice;
    choice.hybrid = o.hybrid;
    choice.parents = o.parents;
    if (choice.parents.size() < 2 && !every_other_population(choice.parents))
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

// An output file that would replace one of the inputs would lose data the user
// has nowhere else; refused before anything is read.
void refuse_outputs_that_are_inputs(const Options& o)
{
    std::vector<std::string> inputs = o.fasta;
    inputs.insert(inputs.end(), o.arlequin.begin(), o.arlequin.end());
    for (const std::string* single :
         {&o.genepop, &o.table, &o.vcf, &o.regions, &o.populations, &o.repeat_length, &o.loci, &o.exclude_loci})
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

std::string plural(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// One line per written locus: its haplotypes and the copies of each population.
void print_locus_table(std::ostream& err, const Outcome& outcome)
{
    err << "locus\thaplotypes";
    for (const std::string& population : outcome.data.populations)
        err << '\t' << population;
    err << '\n';
    for (std::size_t l = 0, written = 0; l < outcome.loci.size(); ++l) {
        const LocusOutcome& locus = outcome.loci[l];
        if (!locus.left_out_because.empty())
            continue;
        err << dataset::label_token(locus.name, written++) << '\t' << locus.haplotypes;
        for (std::int64_t copies : locus.copies)
            err << '\t' << copies;
        err << '\n';
    }
}

std::string fractional_note(const LocusOutcome& locus)
{
    return "note: at locus " + quoted(locus.name) + " " + std::to_string(locus.fractional_repeat_pairs) +
           " pair(s) of allele sizes differ by a fraction of the repeat length (first: " +
           locus.first_fractional_pair + "); their distance is the exact (difference / length)^2";
}

// The loci left out and the notes on fractional repeats: every one with --verbose,
// otherwise the first of each and how many more there are.
void print_locus_notes(std::ostream& err, const Outcome& outcome, bool verbose)
{
    std::vector<const LocusOutcome*> left_out, fractional;
    for (const LocusOutcome& locus : outcome.loci) {
        if (!locus.left_out_because.empty())
            left_out.push_back(&locus);
        if (locus.fractional_repeat_pairs > 0)
            fractional.push_back(&locus);
    }
    for (std::size_t i = 0; i < left_out.size() && (verbose || i == 0); ++i)
        err << "locus left out: " << quoted(left_out[i]->name) << ": " << left_out[i]->left_out_because << '\n';
    if (!verbose && left_out.size() > 1)
        err << "and " << plural(left_out.size() - 1, "more locus", "more loci") << " left out (--verbose lists them)\n";
    for (std::size_t i = 0; i < fractional.size() && (verbose || i == 0); ++i)
        err << fractional_note(*fractional[i]) << '\n';
    if (!verbose && fractional.size() > 1)
        err << "and " << plural(fractional.size() - 1, "more locus", "more loci")
            << " with such pairs (--verbose lists them)\n";
}

void print_summary(std::ostream& err, const RawData& raw, const Outcome& outcome, const Options& o,
                   std::size_t not_selected)
{
    err << "corvane-prepare: " << plural(raw.loci.size() + not_selected, "locus", "loci") << " read ("
        << raw.input_kind << ")";
    if (not_selected > 0)
        err << ", " << not_selected << " not selected";
    err << ", " << outcome.data.loci.size() << " written to " << o.output << ", key in " << o.key << '\n';
    if (o.verbose)
        print_locus_table(err, outcome);
    err << "copies written:";
    for (std::size_t p = 0; p < outcome.data.populations.size(); ++p) {
        std::int64_t total = 0;
        for (const LocusOutcome& locus : outcome.loci)
            if (locus.left_out_because.empty())
                total += locus.copies[p];
        err << (p ? ", " : " ") << outcome.data.populations[p] << ' ' << total;
    }
    err << '\n';
    print_locus_notes(err, outcome, o.verbose);
    for (const auto& [reason, copies] : outcome.copies_left_out)
        err << "copies left out (" << reason << "): " << copies << '\n';
    for (const std::string& note : raw.notes)
        err << "note: " << note << '\n';
}

// The names of --loci or --exclude-loci: a file of one name a line when one of
// that name exists, otherwise names separated by commas.
std::set<std::string> locus_names_of(const std::string& value)
{
    std::set<std::string> names;
    std::error_code no_file;
    if (std::filesystem::is_regular_file(value, no_file)) {
        LineReader reader(value);
        std::string line;
        while (reader.next(line))
            if (!is_blank_or_comment(line))
                names.insert(trimmed(split_on(line, '\t')[0]));
        return names;
    }
    for (const std::string& name : split_on(value, ','))
        if (!trimmed(name).empty())
            names.insert(trimmed(name));
    return names;
}

// Keeps the loci --loci names and drops those --exclude-loci names; a name the
// input lacks is a usage error (a typing error would otherwise select nothing).
std::size_t select_loci(RawData& raw, const Options& o)
{
    const std::size_t before = raw.loci.size();
    for (const auto& [option, value, keep] : {std::tuple<const char*, const std::string&, bool>{"--loci", o.loci, true},
                                              {"--exclude-loci", o.exclude_loci, false}}) {
        if (value.empty())
            continue;
        const std::set<std::string> names = locus_names_of(value);
        std::vector<std::string> known;
        for (const RawLocus& locus : raw.loci)
            known.push_back(locus.name);
        for (const std::string& name : names)
            if (std::find(known.begin(), known.end(), name) == known.end())
                throw UsageError(std::string(option) + " names the locus " + quoted(name) +
                                 ", which the input does not hold; its loci are: " + listed_briefly(known));
        raw.loci.erase(std::remove_if(raw.loci.begin(), raw.loci.end(),
                                      [&](const RawLocus& locus) { return (names.count(locus.name) > 0) != keep; }),
                       raw.loci.end());
    }
    return before - raw.loci.size();
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const std::optional<Options> options = parse_options(argc, argv, out);
    if (!options)
        return exit_success;
    const Choice choice = choice_of(*options);
    refuse_outputs_that_are_inputs(*options);
    RawData raw = read_input(*options);
    const std::size_t not_selected = select_loci(raw, *options);
    const Outcome outcome = build_dataset(raw, choice);
    const std::string problem = dataset::problem_with(outcome.data);
    if (!problem.empty())
        throw DataError(problem);
    write_outputs(*options, outcome.data);
    if (!options->quiet)
        print_summary(err, raw, outcome, *options, not_selected);
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
        // Written without building a string: memory has just run out.
        err << "corvane-prepare: error: not enough memory for the data of these inputs\n";
        return exit_data_error;
    }
}

}  // namespace prepare
