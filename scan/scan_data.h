#ifndef CORVANE_SCAN_SCAN_DATA_H
#define CORVANE_SCAN_SCAN_DATA_H

// The data file as the scan needs it: the hybrid (population 0) and every
// candidate source (1..C), locus by locus, with the distances as the estimator
// reads them (the same float from the same token) and the counts; and the
// populations' names from the key file.

#include <string>
#include <vector>

namespace scan {

struct ScanLocus {
    int haplotypes = 0;
    std::vector<float> distances;              // haplotypes x haplotypes, both triangles, row by row
    std::vector<int> counts;                   // populations x haplotypes, the hybrid's row first

    int count(int population, int haplotype) const
    {
        return counts[static_cast<std::size_t>(population) * static_cast<std::size_t>(haplotypes) +
                      static_cast<std::size_t>(haplotype)];
    }
};

struct ScanData {
    float time_since_admixture = 0;
    float mutation_rate = 0;
    int candidates = 0;                        // C: the populations after the hybrid
    std::vector<ScanLocus> loci;
    std::vector<std::string> names;            // C + 1 names, the hybrid's first
    std::string contents;                      // the bytes read, for the run record
};

// Reads the data file; throws RunError naming the file, the value expected and
// the token found when it cannot be read.
ScanData read_scan_data(const std::string& path);

// The key file's name that corvane-prepare gives by default: the data file's
// name with its extension replaced by ".haplotypes.tsv".
std::string default_key_path(const std::string& data_file);

// The populations' names from the key file's column header (locus, index,
// haplotype, then one column per population, the hybrid first); throws
// RunError when the file cannot be read or names another number of populations.
std::vector<std::string> read_key_names(const std::string& path, int populations);

// "1", "2", ... when no key file is at hand: the candidates as corvane numbers
// its parental populations, the hybrid called "hybrid".
std::vector<std::string> numbered_names(int candidates);

// Throws RunError when a locus gives the hybrid no copy, or one of the chosen
// candidates (rows of the table) fewer than two: their mean times would be
// divisions by zero.
void check_copies(const ScanData& data, const std::vector<int>& candidate_rows, const std::string& path);

}  // namespace scan

#endif
