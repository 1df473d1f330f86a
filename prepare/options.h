#ifndef CORVANE_PREPARE_OPTIONS_H
#define CORVANE_PREPARE_OPTIONS_H

// The command line of corvane-prepare: one input format, the chosen populations,
// the distance and the output files.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace prepare {

struct Options {
    std::vector<std::string> fasta;
    std::string genepop;
    std::string table;
    std::string vcf;
    std::string regions;
    std::vector<std::string> arlequin;
    std::string populations;
    std::string hybrid;
    std::vector<std::string> parents;
    double time_since_admixture = 0;
    double mutation_rate = 0;
    std::string output;
    std::string key;
    std::string distance;       // empty: the natural one of the input
    std::string repeat_length;  // a number, or a per-locus table file
    std::string loci;           // --loci: a list or a file of the loci to keep
    std::string exclude_loci;   // --exclude-loci: a list or a file of the loci to leave out
    bool verbose = false;       // one line per locus and every per-locus note
    bool quiet = false;         // no summary at all
    std::string command_line;   // as typed, for the key file's header
};

// The program's name and version, as the key file's header gives them.
std::string program_version();
// The same with the htslib it reads with, for --version.
std::string version_text();

// Parses the command line. Help and --version are written to `out` and give no
// options; anything wrong throws a UsageError.
std::optional<Options> parse_options(int argc, const char* const* argv, std::ostream& out);

// The key file's name when --key is not given: the data file's name with its
// extension replaced by ".haplotypes.tsv".
std::string default_key_name(const std::string& data_file);

}  // namespace prepare

#endif
