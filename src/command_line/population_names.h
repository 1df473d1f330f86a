#ifndef CORVANE_POPULATION_NAMES_H
#define CORVANE_POPULATION_NAMES_H

#include <optional>
#include <string>
#include <vector>

// The names of the populations, from the key file that corvane-prepare writes
// beside its data file: its column header is "locus", "index", "haplotype",
// then the hybrid and the parental populations in the order of mY1, mY2, ...
struct PopulationNames {
    std::string key_file;              // where they were read
    std::string hybrid;
    std::vector<std::string> parents;
};

// The key corvane-prepare writes for `data_file` when no --key is given: the
// data file's name with its extension, if any, replaced by ".haplotypes.tsv".
std::string default_key_path(const std::string& data_file);

// The names in a key file; nothing, and the reason in `problem`, when it cannot
// be read or has no column header of a key.
std::optional<PopulationNames> read_key_names(const std::string& path, std::string& problem);

// The names of P parental populations: the key's when it names P of them,
// otherwise parent1, parent2, ...
std::vector<std::string> parent_names(const std::optional<PopulationNames>& names, std::size_t parents);

#endif
