#ifndef CORVANE_PREPARE_RAW_DATA_H
#define CORVANE_PREPARE_RAW_DATA_H

// What a reader hands on: per locus, the haplotypes it met (each with what its
// distances are measured from) and the copies of each in every population of the
// input, before any population is chosen and any haplotype ordered.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace prepare {

// What the haplotypes of a locus carry, which decides the distances they allow.
enum class Payload {
    names_only,      // identifiers and counts only: 0/1 distances
    sequence,        // aligned DNA letters: differing A/C/G/T sites
    states,          // one state per position (VCF alleles, RFLP or standard data): differing positions
    sizes,           // allele size in base pairs: squared difference in repeat units
    repeat_numbers,  // repeat numbers of one or more microsatellites: sum of squared differences
};

// The state of a position that holds no usable value (a missing allele or the
// file's missing-data symbol): such a position is left out of a pair's distance.
constexpr int missing_state = -1;

struct Haplotype {
    std::string name;             // what the key file shows; identity within the locus
    std::string sequence;         // upper-case letters, when Payload::sequence
    std::vector<int> states;      // when Payload::states
    std::vector<double> numbers;  // one size, or repeat numbers (NaN where missing)
};

struct RawLocus {
    std::string name;
    Payload payload = Payload::names_only;
    // Set by a reader when the locus cannot be written whatever is chosen.
    std::string left_out_because;
    std::vector<Haplotype> haplotypes;
    // counts[population][haplotype], populations indexed as in RawData::populations;
    // rows grow as copies are added.
    std::vector<std::vector<std::int64_t>> counts;
    // Copies of each population the reader left out at this locus, by reason, so
    // that a locus left out for want of copies can say where they went.
    std::vector<std::vector<std::pair<std::string, std::int64_t>>> dropped;

    // The index of the haplotype of this name, added when new.
    std::size_t haplotype_index(Haplotype haplotype);
    void add_copies(std::size_t population, std::size_t haplotype, std::int64_t copies);
    std::int64_t count(std::size_t population, std::size_t haplotype) const;
    void drop(std::size_t population, const std::string& reason, std::int64_t copies);

private:
    std::unordered_map<std::string, std::size_t> index_of_name_;
};

struct RawData {
    std::string input_kind;                // "FASTA", "Genepop", ... for the summary
    std::vector<std::string> populations;  // in order of first appearance
    std::vector<RawLocus> loci;
    // Copies the reader could not use, by reason, in order of first mention.
    std::vector<std::pair<std::string, std::int64_t>> copies_left_out;
    // What the reader decided that the user should know (one line each).
    std::vector<std::string> notes;

    // The index of the population of this name, added when new.
    std::size_t population_index(const std::string& name);
    void leave_out(const std::string& reason, std::int64_t copies);
    // Adds the locus of one input file (named after the file); two files that give
    // one name are a usage error naming the option.
    void add_file_locus(RawLocus locus, const std::string& option);
};

// a + b copies, or a DataError saying that `what` add up to more than a 64-bit
// count holds (counts are read as 64-bit numbers, so sums of them can overflow).
std::int64_t copies_added(std::int64_t a, std::int64_t b, const std::string& what);
std::int64_t sum_of_copies(const std::vector<std::int64_t>& copies, const std::string& what);

// Adds `copies` under `reason` to a list of reasons kept in order of first mention.
void tally(std::vector<std::pair<std::string, std::int64_t>>& reasons, const std::string& reason,
           std::int64_t copies);

}  // namespace prepare

#endif
