// Genepop: microsatellite genotypes, the allele codes being sizes in base pairs.
// Each typed diploid genotype gives two copies, a haploid code one; a genotype
// with a zero code is missing and gives none.

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "errors.h"
#include "readers.h"

namespace prepare {

namespace {

bool is_pop_line(const std::string& line)
{
    return upper_case(trimmed(line)) == "POP";
}

// A Pop block without a population map is named after its first individual: the
// name up to its last '_' ("Borgou_1" gives "Borgou"), or the whole name without '_'.
std::string block_name_of(const std::string& individual)
{
    const std::size_t underscore = individual.rfind('_');
    return underscore == std::string::npos || underscore == 0 ? individual : individual.substr(0, underscore);
}

struct Genotype {
    std::vector<long> sizes;  // one code (haploid) or two (diploid); empty when missing
    int copies = 0;           // copies a typed genotype of this width gives
};

Genotype parse_genotype(const std::string& token, const std::string& place)
{
    const bool digits = std::all_of(token.begin(), token.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    const std::size_t n = token.size();
    if (!digits || (n != 2 && n != 3 && n != 4 && n != 6))
        throw DataError(place + "expected a genotype of 2 or 3 digits (haploid) or 4 or 6 digits (diploid), found " +
                        quoted(token));
    Genotype genotype;
    const std::size_t width = (n == 4 || n == 6) ? n / 2 : n;
    genotype.copies = static_cast<int>(n / width);
    for (std::size_t start = 0; start < n; start += width)
        genotype.sizes.push_back(std::stol(token.substr(start, width)));
    if (std::find(genotype.sizes.begin(), genotype.sizes.end(), 0L) != genotype.sizes.end())
        genotype.sizes.clear();
    return genotype;
}

class GenepopReader {
public:
    GenepopReader(const std::string& file, const PopulationMap* map) : reader_(file), map_(map) {}

    RawData read()
    {
        raw_.input_kind = "Genepop";
        if (map_)
            for (const std::string& population : map_->populations)
                raw_.population_index(population);
        std::string line;
        if (!reader_.next(line))
            throw DataError(reader_.file() + ": the file is empty; a Genepop file starts with a title line");
        read_locus_names();
        while (reader_.next(line)) {
            if (is_pop_line(line))
                start_block();
            else if (!trimmed(line).empty())
                read_individual(line);
        }
        return std::move(raw_);
    }

private:
    void read_locus_names()
    {
        std::string line;
        while (reader_.next(line)) {
            if (is_pop_line(line)) {
                if (raw_.loci.empty())
                    throw DataError(reader_.here() + "a Pop line comes before any locus name");
                start_block();
                return;
            }
            for (const std::string& name : split_on(line, ','))
                if (!trimmed(name).empty()) {
                    raw_.loci.emplace_back();
                    raw_.loci.back().name = trimmed(name);
                    raw_.loci.back().payload = Payload::sizes;
                }
        }
        throw DataError(reader_.file() + ": no line \"Pop\" was found; after the title and the locus names, "
                                         "each population's individuals follow a line \"Pop\"");
    }

    void start_block()
    {
        block_line_ = reader_.line_number();
        block_population_.reset();
    }

    // The population of an individual, or none when the map leaves it out.
    std::optional<std::size_t> population_of(const std::string& individual)
    {
        if (map_) {
            const auto found = map_->population_of.find(individual);
            if (found == map_->population_of.end())
                return std::nullopt;
            return raw_.population_index(found->second);
        }
        if (!block_population_) {
            const std::string name = block_name_of(individual);
            const auto earlier = first_line_of_block_name_.find(name);
            if (earlier != first_line_of_block_name_.end())
                throw DataError(at_line(reader_.file(), block_line_) + "this Pop block takes the name " + quoted(name) +
                                " from its first individual " + quoted(individual) + ", as the block at line " +
                                std::to_string(earlier->second) +
                                " does; rename the individuals or give --populations MAP");
            first_line_of_block_name_.emplace(name, block_line_);
            block_population_ = raw_.population_index(name);
        }
        return block_population_;
    }

    void read_individual(const std::string& line)
    {
        if (block_line_ == 0)
            throw DataError(reader_.here() + "an individual comes before the first Pop line");
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos || trimmed(line.substr(0, comma)).empty())
            throw DataError(reader_.here() + "expected an individual's name, a comma and " +
                            std::to_string(raw_.loci.size()) + " genotypes, found " + quoted(line));
        const std::string individual = trimmed(line.substr(0, comma));
        const auto [earlier, added] = line_of_individual_.emplace(individual, reader_.line_number());
        if (!added)
            throw DataError(reader_.here() + "individual " + quoted(individual) + " is listed a second time (first at line " +
                            std::to_string(earlier->second) + "); each individual is listed once");
        const std::optional<std::size_t> population = population_of(individual);
        std::size_t locus = 0;
        std::size_t column = comma + 1;
        while (true) {
            const std::size_t start = line.find_first_not_of(" \t", column);
            if (start == std::string::npos)
                break;
            const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
            const std::string token = line.substr(start, end - start);
            if (locus == raw_.loci.size())
                throw DataError(reader_.here(static_cast<long>(start + 1)) + "individual " + quoted(individual) +
                                " has more genotypes than the " + std::to_string(raw_.loci.size()) +
                                " loci, found " + quoted(token));
            const std::string place = reader_.here(static_cast<long>(start + 1));
            const Genotype genotype = parse_genotype(token, place);
            check_width(token, place);
            add_genotype(raw_.loci[locus++], genotype, population);
            column = end;
        }
        if (locus != raw_.loci.size())
            throw DataError(reader_.here() + "individual " + quoted(individual) + " has " + std::to_string(locus) +
                            " genotypes; expected one for each of the " + std::to_string(raw_.loci.size()) + " loci");
    }

    // A file writes every genotype with one number of digits, which its first
    // genotype sets: "183" in a file of "183183" is a typing error, not a haploid copy.
    void check_width(const std::string& token, const std::string& place)
    {
        if (first_genotype_place_.empty()) {
            genotype_width_ = token.size();
            first_genotype_place_ = place;
        } else if (token.size() != genotype_width_) {
            throw DataError(place + "the genotype " + quoted(token) + " has " + std::to_string(token.size()) +
                            " digits but the file's genotypes have " + std::to_string(genotype_width_) + " (the first: " +
                            first_genotype_place_.substr(0, first_genotype_place_.size() - 2) +
                            "); every genotype of a Genepop file has one number of digits");
        }
    }

    void add_genotype(RawLocus& locus, const Genotype& genotype, std::optional<std::size_t> population)
    {
        if (genotype.sizes.empty()) {
            raw_.leave_out("copies of missing genotypes, with a zero allele code", genotype.copies);
            return;
        }
        if (!population) {
            raw_.leave_out("copies of individuals not in the population map", genotype.copies);
            return;
        }
        for (long size : genotype.sizes) {
            const std::size_t haplotype =
                locus.haplotype_index(Haplotype{std::to_string(size), "", {}, {static_cast<double>(size)}});
            locus.add_copies(*population, haplotype, 1);
        }
    }

    LineReader reader_;
    const PopulationMap* map_;
    RawData raw_;
    long block_line_ = 0;
    std::optional<std::size_t> block_population_;
    std::map<std::string, long> first_line_of_block_name_;
    std::map<std::string, long> line_of_individual_;
    std::size_t genotype_width_ = 0;
    std::string first_genotype_place_;  // "FILE, line N, column C: " of the genotype that set the width
};

}  // namespace

RawData read_genepop(const std::string& file, const PopulationMap* map)
{
    return GenepopReader(file, map).read();
}

}  // namespace prepare
