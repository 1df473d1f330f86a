#include "options.h"

#include <CLI/CLI.hpp>

#include "build_info.h"
#include "errors.h"
#include "whole_number.h"

namespace scan {

namespace {

const char* const description =
    "Tries sets of source populations for a hybrid population and tests how well each fits: a model\n"
    "scan over the candidates of one data file (the hybrid first, then the candidates, as\n"
    "corvane-prepare --hybrid H --parents A,B,C,... writes it).";

const char* const method =
    R"(
The method. A model is a set S of K candidates taken as sources; the other R = C - K
candidates are its references.
  Estimate: corvane's estimate on the hybrid and S alone, to the last bit the result of
    corvane on the data file cut to those populations (its refusal included).
  Fit: for each reference o the hybrid's mean time to o should be the mixture of the
    sources' times to o: e_o = T(H,o) - sum_k mY_k T(S_k,o) (times in double precision
    from the pair sums before rounding). V is the covariance of e by the delete-one-locus
    jackknife (times and mY recomputed without locus l):
    V = (L-1)/L sum_l (e_(l) - mean)(e_(l) - mean)'. Q = e' V^-1 e is the T^2 statistic of a mean vector and
    p = P(F(R, L-R) >= (L-R)/(R(L-1)) Q). A small p rejects the model. Models with
    R = 0, or L <= R + 1, have no Q (NA).
  Standard errors: the same jackknife of mY, or with -b N the SD of N locus-bootstrap
    replicates (every model draws the same loci; mean, SD and quantiles as corvane -b N
    --resample loci gives them on the cut data file).

Output: a tab-separated table on standard output and in DIR/scan.tsv, one row per model:
sources, mY and se (comma-separated, in the sources' order), with -b also boot_mean,
q2.5 and q97.5, then Q, df (R), p, feasible (every mY within [0, 1]) and refused (why
the estimate was refused, or NA). Rows: feasible models first, then by p, largest
first. DIR/scan.svg draws the models; DIR/run_record.json records the run.

Exit status: 0 complete, 1 an error (data, key or output folder), 2 a usage error,
130 or 143 when SIGINT or SIGTERM stopped the scan.)";

ScannedWholeNumber whole_option(const std::string& option, const std::string& text)
{
    ScannedWholeNumber number;
    bool whole = false;
    if (text.empty() || scan_whole_text(text, number, whole) != WholeNumberScan::ok || !whole)
        throw UsageError(option + " needs a whole number, not " + scan::quoted(text));
    return number;
}

int positive_option(const std::string& option, const std::string& text, int least)
{
    int value = 0;
    if (!whole_number_to_int(whole_option(option, text), value) || value < least)
        throw UsageError(option + " needs a whole number from " + std::to_string(least) + " to 2147483647, not " +
                         scan::quoted(text));
    return value;
}

// "2" or "1-3".
void sources_option(const std::string& text, Options& options)
{
    const std::size_t dash = text.find('-', 1);
    if (dash == std::string::npos) {
        options.fewest_sources = options.most_sources = positive_option("--sources", text, 1);
        return;
    }
    options.fewest_sources = positive_option("--sources", text.substr(0, dash), 1);
    options.most_sources = positive_option("--sources", text.substr(dash + 1), 1);
    if (options.fewest_sources > options.most_sources)
        throw UsageError("--sources " + scan::quoted(text) + " runs backwards; write the smaller size first");
}

std::vector<std::string> name_list(const std::string& option, const std::string& text)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (name.empty())
            throw UsageError(option + " " + scan::quoted(text) + " holds an empty name");
        for (const std::string& earlier : names)
            if (earlier == name)
                throw UsageError(option + " names " + scan::quoted(name) + " twice");
        names.push_back(name);
        if (comma == std::string::npos)
            return names;
        start = comma + 1;
    }
}

}  // namespace

std::optional<Options> parse_options(const std::vector<std::string>& arguments, std::ostream& out)
{
    Options options;
    std::string sources_text, candidates_text, model_text, replicates_text, seed_text, threads_text;
    CLI::App app(description, "corvane-scan");
    app.add_option("--sources", sources_text, "the numbers of sources to try: K or a range K1-K2 (default 2)")
        ->type_name("K|K1-K2");
    app.add_option("--candidates", candidates_text, "the candidates to take sources and references from "
                                                    "(default: every population after the hybrid)")
        ->type_name("NAME,...");
    app.add_option("--model", model_text, "one model only: these sources, in this order")->type_name("NAME,...");
    app.add_option("--key", options.key_file,
                   "the key file that names the populations (default: the data file's name with "
                   ".haplotypes.tsv, as corvane-prepare writes it; without it the candidates are numbered)")
        ->type_name("FILE");
    app.add_option("-b,--bootstrap", replicates_text, "locus-bootstrap replicates for the SE (default 0: the "
                                                      "jackknife SE)")
        ->type_name("N");
    app.add_option("-s,--seed", seed_text, "seed of the bootstrap, read as corvane reads it (default 1)")
        ->type_name("S");
    app.add_option("--resample", options.resample, "what a bootstrap replicate draws: loci (the only scheme here)")
        ->type_name("loci");
    app.add_option("--threads", threads_text, "models estimated in parallel (default 1; the output is the same "
                                              "for every number)")
        ->type_name("N");
    app.add_option("-o,--output-dir", options.output_folder,
                   "folder for scan.tsv, scan.svg and run_record.json, created if missing (default: the current "
                   "folder)")
        ->type_name("DIR");
    app.add_flag("-q,--quiet", options.quiet, "no progress on standard error");
    app.set_version_flag("--version", version_line("corvane-scan"), "the program's version and commit");
    app.add_option("DATA_FILE", options.data_file, "the data file")->required()->type_name("");
    app.footer(method);
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return std::nullopt;
    } catch (const CLI::CallForVersion&) {
        out << version_line("corvane-scan") << "\n";
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    if (app.count("--sources"))
        sources_option(sources_text, options);
    if (app.count("--candidates"))
        options.candidates = name_list("--candidates", candidates_text);
    if (app.count("--model")) {
        if (app.count("--sources"))
            throw UsageError("--model gives one model; --sources would choose others: give one of the two");
        options.model = name_list("--model", model_text);
    }
    if (app.count("--bootstrap"))
        options.replicates = positive_option("--bootstrap", replicates_text, 0);
    if (app.count("--seed") && !whole_number_to_uint32(whole_option("--seed", seed_text), options.seed))
        throw UsageError("--seed needs a whole number of at most 32 bits, not " + scan::quoted(seed_text));
    if (options.resample != "loci")
        throw UsageError("--resample " + scan::quoted(options.resample) +
                         ": the scan's bootstrap draws loci only (--resample loci); draws of copies would need "
                         "every locus's pair sums anew for each replicate");
    if (app.count("--threads"))
        options.threads = positive_option("--threads", threads_text, 1);
    if (app.count("--key") && options.key_file.empty())
        throw UsageError("--key needs a file name");
    if (app.count("--output-dir") && options.output_folder.empty())
        throw UsageError("--output-dir needs a folder name");
    return options;
}

}  // namespace scan
