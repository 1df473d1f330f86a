#ifndef CORVANE_PREPARE_READERS_H
#define CORVANE_PREPARE_READERS_H

// One reader per input format. Each fills a RawData and throws a DataError that
// names the file and the line, column or record of whatever it cannot read.

#include <string>
#include <vector>

#include "build_dataset.h"
#include "raw_data.h"
#include "text_input.h"

namespace prepare {

// Aligned FASTA files (plain, gzip or bgzip), one locus each, named after the file.
RawData read_fasta(const std::vector<std::string>& files, const PopulationMap& map);

// Microsatellite genotypes in Genepop format; populations from the map when one is
// given, otherwise from the names of the Pop blocks' first individuals.
RawData read_genepop(const std::string& file, const PopulationMap* map);

// A long table of allele counts with the columns population, locus, allele, count
// and at most one of size and sequence.
RawData read_table(const std::string& file);

// A region of a BED file: 0-based start, end excluded.
struct Region {
    std::string chromosome;
    long long start = 0;
    long long end = 0;
    std::string name;
    long line = 0;  // in the BED file, for messages
};
// Regions that overlap are refused: a variant site would count in two loci.
std::vector<Region> read_regions(const std::string& bed_file);

// A phased VCF or BCF: one locus per region, one haplotype per distinct string of
// alleles at the region's variant sites.
RawData read_vcf(const std::string& file, const std::string& bed_file, const std::vector<Region>& regions,
                 const PopulationMap& map);

// Arlequin projects of haplotypic data, one locus each, sharing their sample names.
RawData read_arlequin(const std::vector<std::string>& files);

// A per-locus repeat-length table: locus, a tab, the repeat length in base pairs.
RepeatLengths read_repeat_lengths(const std::string& file);

// The letters accepted in an aligned sequence: any letter (bases and ambiguity
// codes), '-' and '.' for gaps, '?' and '*'. Returns the 1-based position of the
// first other character, or 0.
std::size_t first_non_sequence_character(const std::string& sequence, char also_allowed = '\0');

}  // namespace prepare

#endif
