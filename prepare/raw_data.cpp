#include "raw_data.h"

#include <algorithm>

#include "errors.h"

namespace prepare {

std::size_t RawLocus::haplotype_index(Haplotype haplotype)
{
    const auto found = index_of_name_.find(haplotype.name);
    if (found != index_of_name_.end())
        return found->second;
    const std::size_t index = haplotypes.size();
    index_of_name_.emplace(haplotype.name, index);
    haplotypes.push_back(std::move(haplotype));
    return index;
}

void RawLocus::add_copies(std::size_t population, std::size_t haplotype, std::int64_t copies)
{
    if (counts.size() <= population)
        counts.resize(population + 1);
    auto& row = counts[population];
    if (row.size() <= haplotype)
        row.resize(haplotype + 1, 0);
    row[haplotype] = copies_added(row[haplotype], copies,
                                  "the copies of haplotype " + quoted(haplotypes[haplotype].name) + " at locus " +
                                      quoted(name));
}

std::int64_t RawLocus::count(std::size_t population, std::size_t haplotype) const
{
    if (population >= counts.size() || haplotype >= counts[population].size())
        return 0;
    return counts[population][haplotype];
}

void RawLocus::drop(std::size_t population, const std::string& reason, std::int64_t copies)
{
    if (dropped.size() <= population)
        dropped.resize(population + 1);
    tally(dropped[population], reason, copies);
}

std::size_t RawData::population_index(const std::string& name)
{
    const auto found = std::find(populations.begin(), populations.end(), name);
    if (found != populations.end())
        return static_cast<std::size_t>(found - populations.begin());
    populations.push_back(name);
    return populations.size() - 1;
}

void RawData::leave_out(const std::string& reason, std::int64_t copies)
{
    tally(copies_left_out, reason, copies);
}

void RawData::add_file_locus(RawLocus locus, const std::string& option)
{
    for (const RawLocus& earlier : loci)
        if (earlier.name == locus.name)
            throw UsageError("two " + option + " files give the locus name " + quoted(locus.name) +
                             "; a locus is named after its file, so rename one of them");
    loci.push_back(std::move(locus));
}

std::int64_t copies_added(std::int64_t a, std::int64_t b, const std::string& what)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        throw DataError(what + " add up to more than 9223372036854775807");
    return sum;
}

std::int64_t sum_of_copies(const std::vector<std::int64_t>& copies, const std::string& what)
{
    std::int64_t sum = 0;
    for (std::int64_t c : copies)
        sum = copies_added(sum, c, what);
    return sum;
}

void tally(std::vector<std::pair<std::string, std::int64_t>>& reasons, const std::string& reason,
           std::int64_t copies)
{
    if (copies == 0)
        return;
    for (auto& entry : reasons)
        if (entry.first == reason) {
            entry.second = copies_added(entry.second, copies, "the copies left out (" + reason + ")");
            return;
        }
    reasons.emplace_back(reason, copies);
}

}  // namespace prepare
