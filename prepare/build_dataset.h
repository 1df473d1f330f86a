#ifndef CORVANE_PREPARE_BUILD_DATASET_H
#define CORVANE_PREPARE_BUILD_DATASET_H

// From what a reader found to the data set the writer writes: the chosen
// populations (hybrid first), the haplotypes they hold in a fixed order, the
// distances between them, and the loci that can be written.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dataset.h"
#include "raw_data.h"

namespace prepare {

enum class Distance { sites, repeats2, zero_one };

// The repeat length in base pairs of every locus: one for all, or one per locus
// from a table file.
struct RepeatLengths {
    double for_all = 0;                   // 0 when a table is given
    std::map<std::string, double> per_locus;
    std::string table_file;               // named in the message for a locus it lacks

    bool given() const { return for_all > 0 || !table_file.empty(); }
    double for_locus(const std::string& locus) const;
};

struct Choice {
    std::string hybrid;
    std::vector<std::string> parents;
    std::optional<Distance> distance;  // none: the natural one of each locus's data
    RepeatLengths repeat_lengths;
    double time_since_admixture = 0;
    double mutation_rate = 0;
};

// What became of one locus of the input.
struct LocusOutcome {
    std::string name;
    std::string left_out_because;        // empty when the locus is written
    std::size_t haplotypes = 0;          // among the chosen populations
    std::vector<std::int64_t> copies;    // per chosen population, hybrid first
    // Pairs of allele sizes whose difference is not a whole number of repeats.
    std::int64_t fractional_repeat_pairs = 0;
    std::string first_fractional_pair;   // e.g. "101 and 104"
};

struct Outcome {
    dataset::DataSet data;
    std::vector<LocusOutcome> loci;
    std::vector<std::pair<std::string, std::int64_t>> copies_left_out;
};

Outcome build_dataset(const RawData& raw, const Choice& choice);

// The order of haplotypes in the data file: by sequence (byte order of the
// upper-case letters), then by size or repeat numbers (numerically), then by name
// with runs of digits compared as numbers. True when a comes first.
bool comes_before(const Haplotype& a, const Haplotype& b);

// Names with runs of digits compared by their value: "A2" before "A10".
bool natural_less(const std::string& a, const std::string& b);

// True for `--parents all`: every population of the input but the hybrid, in the
// input's order, as candidates for a model scan.
inline bool every_other_population(const std::vector<std::string>& parents)
{
    return parents.size() == 1 && parents[0] == "all";
}

// The distance between two haplotypes of a locus; repeat_length is used for sizes.
double distance_between(const Haplotype& a, const Haplotype& b, Payload payload, Distance kind,
                        double repeat_length);

std::string distance_name(Distance kind);

}  // namespace prepare

#endif
