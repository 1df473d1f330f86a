#ifndef CORVANE_DATASET_H
#define CORVANE_DATASET_H

// The in-memory description of a data set that the converters fill (from
// sequences, genotypes, tables or a simulation) and hand to one writer, which
// turns it into the token layout the estimator reads and into a key file that
// names every haplotype. The estimator itself never links this library.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace dataset {

// The largest number of distinct haplotypes the estimator accepts at one locus.
constexpr int max_haplotypes_per_locus = 1000;

struct Locus {
    // The label written in both sections of the data file (white space in it is
    // written as '_', since a label is one token).
    std::string name;
    // One name per haplotype (allele, size or sequence); index = data file index.
    std::vector<std::string> haplotypes;
    // The full square of distances between haplotypes, symmetric.
    std::vector<std::vector<double>> distances;
    // counts[p][h]: copies of haplotype h in population p; p = 0 is the hybrid,
    // 1..P the parental populations in the order of the estimates mY1..mYP.
    std::vector<std::vector<std::int64_t>> counts;
};

struct DataSet {
    double time_since_admixture = 0;
    double mutation_rate = 0;
    // populations[0] is the hybrid, then the parental populations in mY order.
    std::vector<std::string> populations;
    std::vector<Locus> loci;
};

// What makes a data set unwritable (a locus whose tables do not match its
// haplotypes, more haplotypes than the estimator accepts, a count beyond 32
// bits, fewer than two parental populations, no locus); empty when it can be
// written.
std::string problem_with(const DataSet& data);

// Writes the data file: the time and the rate, the number of parental
// populations and of loci, every locus's distance section, then every locus's
// count section with sample sizes equal to the sums of the counts, hybrid first.
// Whole distances are written as whole numbers, others in the shortest decimal
// text that reads back to the same double.
void write_data_file(std::ostream& out, const DataSet& data);

// Writes the key file: the header lines (each written after "# "), then one
// tab-separated line per haplotype of every locus: the locus, the haplotype's
// index in the data file, its name, and its count in each population, with a
// column header naming the populations.
void write_key_file(std::ostream& out, const DataSet& data, const std::vector<std::string>& header_lines);

// The key file's name beside a data file: the data file's name without its
// extension, with .haplotypes.tsv.
std::string key_file_beside(const std::string& data_file);

// One real number as the writer prints it.
std::string real_text(double value);

// A locus name as one token of the data file.
std::string label_token(const std::string& name, std::size_t locus_index);

}  // namespace dataset

#endif
