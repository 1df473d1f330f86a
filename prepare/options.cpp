#include "options.h"

#include <CLI/CLI.hpp>
#include <htslib/hts.h>

#include "dataset.h"
#include "errors.h"
#include "text_input.h"

#ifndef CORVANE_PREPARE_VERSION
#define CORVANE_PREPARE_VERSION "unknown"
#endif

namespace prepare {

namespace {

const char* const description =
    "Writes a data file for corvane, and a key file naming every haplotype, from one of five inputs:\n"
    "aligned FASTA files (one locus each), Genepop microsatellite genotypes, a long allele-count table,\n"
    "a phased VCF/BCF with BED regions (one locus each), or Arlequin haplotypic projects (one locus each).";

const char* const conventions =
    "\nConventions:\n"
    "  Haplotypes are written in ascending order of their sequence (upper-case letters, byte order),\n"
    "  then of their size or repeat numbers (numerically), then of their name (digit runs as numbers).\n"
    "  Genepop without --populations: each Pop block is named after its first individual, up to the\n"
    "  last '_' (Borgou_1 -> Borgou; a name without '_' is taken whole); two blocks of one name are an\n"
    "  error. Missing: a Genepop genotype with a zero code (no copy), a VCF copy whose allele is '.'\n"
    "  or whose genotype is unphased at any site of a region (left out of that region), names absent\n"
    "  from the population map. Left-out copies are counted in the summary on standard error.\n"
    "  A locus where the hybrid holds no copy or a parent fewer than two is left out and said so.\n"
    "  Table columns: population or pop, locus or marker, allele, count or n, then size or sequence\n"
    "  (letter case aside); without them, alleles that are numbers are their sizes in base pairs.\n"
    "  VCF: overlapping BED regions are refused; a genotype such as 1/. is unphased (both copies out).\n"
    "Exit status: 0 success, 1 data error, 2 usage error.\n";

std::string shell_quoted(const std::string& word)
{
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_-+=./,:@%") == std::string::npos;
    if (plain)
        return word;
    std::string quoted_word = "'";
    for (char c : word)
        quoted_word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted_word + "'";
}

std::string command_line_of(int argc, const char* const* argv)
{
    std::string line = "corvane-prepare";
    for (int i = 1; i < argc; ++i)
        line += " " + shell_quoted(argv[i]);
    return line;
}

// A value of the data file's first line: a number that corvane reads back as written.
const CLI::Validator data_file_number(
    [](std::string& text) {
        const double value = std::strtod(text.c_str(), nullptr);
        if (!(value >= 0) || !fits_data_file(value))
            return std::string("must be 0 or a number from 1.2e-38 to 3.4e+38, found " + text);
        return std::string();
    },
    "", "data file number");

void add_options(CLI::App& app, Options& o)
{
    app.add_option("--fasta", o.fasta, "aligned FASTA file, plain or gzip (repeat: one per locus, named after the file)")
        ->type_name("FILE")->allow_extra_args(false);
    app.add_option("--genepop", o.genepop, "Genepop file of microsatellite genotypes (codes are sizes in bp)")
        ->type_name("FILE");
    app.add_option("--table", o.table, "tab-separated table: population, locus, allele, count [, size | sequence]")
        ->type_name("FILE");
    app.add_option("--vcf", o.vcf, "phased VCF or BCF, plain or bgzip (needs --regions and --populations)")
        ->type_name("FILE");
    app.add_option("--regions", o.regions, "BED file: each region is one locus of the VCF")->type_name("BED");
    app.add_option("--arlequin", o.arlequin, "Arlequin project of haplotypic data (repeat: one per locus)")
        ->type_name("FILE")->allow_extra_args(false);
    app.add_option("--populations", o.populations,
                   "tab-separated map: sequence, sample or individual name, then population")
        ->type_name("MAP");
    app.add_option("--hybrid", o.hybrid, "the hybrid population")->type_name("NAME")->required();
    app.add_option("--parents", o.parents, "the parental populations, in the order of mY1, mY2, ...; all: every one but the hybrid")
        ->type_name("NAME[,NAME...]")->delimiter(',')->required();
    app.add_option("--time", o.time_since_admixture, "time since the admixture event (default 0)")
        ->type_name("T")->check(data_file_number);
    app.add_option("--rate", o.mutation_rate, "mutation rate per locus and per unit of T (default 0)")
        ->type_name("MU")->check(data_file_number);
    app.add_option("-o,--output", o.output, "the data file to write")->type_name("FILE")->required();
    app.add_option("--key", o.key, "the key file (default: the data file's name with .haplotypes.tsv)")
        ->type_name("FILE");
    app.add_option("--distance", o.distance,
                   "sites (sequences, VCF, RFLP/standard data), repeats2 (squared difference in repeats: Genepop, "
                   "size tables, microsatellites) or 01; default: the one the input's data give")
        ->type_name("sites|repeats2|01")->check(CLI::IsMember({"sites", "repeats2", "01"}));
    app.add_option("--repeat-length", o.repeat_length,
                   "repeat length in bp of allele sizes, or a tab-separated file of locus and length")
        ->type_name("N|FILE");
    app.add_option("--loci", o.loci, "keep only these loci: names separated by commas, or a file of one name a line")
        ->type_name("LIST|FILE");
    app.add_option("--exclude-loci", o.exclude_loci, "leave out these loci: names separated by commas, or a file")
        ->type_name("LIST|FILE");
    app.add_flag("--verbose", o.verbose, "the summary gives one line per locus and every per-locus note");
    app.add_flag("--quiet", o.quiet, "no summary on standard error (errors are still written)");
}

void check_one_input(const Options& o)
{
    const int inputs = !o.fasta.empty() + !o.genepop.empty() + !o.table.empty() + !o.vcf.empty() + !o.arlequin.empty();
    if (inputs != 1)
        throw UsageError(inputs == 0 ? "no input: give one of --fasta, --genepop, --table, --vcf or --arlequin"
                                     : "give one kind of input: --fasta, --genepop, --table, --vcf or --arlequin");
    if (!o.vcf.empty() && (o.regions.empty() || o.populations.empty()))
        throw UsageError("--vcf needs --regions BED and --populations MAP");
    if (!o.fasta.empty() && o.populations.empty())
        throw UsageError("--fasta needs --populations MAP (sequence name, then population)");
    if (o.vcf.empty() && !o.regions.empty())
        throw UsageError("--regions is used with --vcf only");
    if (o.verbose && o.quiet)
        throw UsageError("--verbose and --quiet exclude each other");
    if ((!o.table.empty() || !o.arlequin.empty()) && !o.populations.empty())
        throw UsageError("--populations is used with --fasta, --vcf and --genepop only; tables and Arlequin "
                         "files name their populations");
}

}  // namespace

std::string program_version()
{
    return std::string("corvane-prepare ") + CORVANE_PREPARE_VERSION;
}

std::string version_text()
{
    return program_version() + " (htslib " + hts_version() + ")";
}

std::string default_key_name(const std::string& data_file)
{
    return dataset::key_file_beside(data_file);
}

std::optional<Options> parse_options(int argc, const char* const* argv, std::ostream& out)
{
    Options options;
    CLI::App app(description, "corvane-prepare");
    app.footer(conventions);
    app.set_version_flag("--version", version_text());
    add_options(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return std::nullopt;
    } catch (const CLI::CallForVersion&) {
        out << version_text() << '\n';
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        throw UsageError(std::string(e.what()) + " (see corvane-prepare --help)");
    }
    check_one_input(options);
    if (options.key.empty())
        options.key = default_key_name(options.output);
    options.command_line = command_line_of(argc, argv);
    return options;
}

}  // namespace prepare
