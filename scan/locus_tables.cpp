#include "locus_tables.h"

#include <memory>
#include <vector>

#include "pair_sums.h"
#include "parallel_items.h"

namespace scan {

namespace {

int most_haplotypes(const ScanData& data)
{
    int most = 0;
    for (const ScanLocus& locus : data.loci)
        most = std::max(most, locus.haplotypes);
    return most;
}

}  // namespace

LocusTables::LocusTables(const ScanData& data, int threads)
    : _populations(data.candidates + 1),
      _loci(static_cast<int>(data.loci.size())),
      _cells(static_cast<std::size_t>(_populations) * static_cast<std::size_t>(_populations)),
      _tot(_cells * data.loci.size()),
      _count(_cells * data.loci.size()),
      _precise_tot(_cells * data.loci.size()),
      _precise_count(_cells * data.loci.size())
{
    for_each_item_on_threads(data.loci.size(), threads, [&] {
        // each thread's own working tables, kept over the loci it takes
        auto sums = std::make_shared<PairSums>(_populations, most_haplotypes(data));
        auto distance_rows = std::make_shared<std::vector<const float*>>();
        auto count_rows = std::make_shared<std::vector<const int*>>();
        return [this, &data, sums, distance_rows, count_rows](std::size_t item) {
            const int l = static_cast<int>(item);
            const ScanLocus& locus = data.loci[item];
            const std::size_t n = static_cast<std::size_t>(locus.haplotypes);
            distance_rows->clear();
            for (std::size_t j = 0; j < n; ++j)
                distance_rows->push_back(&locus.distances[j * n]);
            count_rows->clear();
            for (int p = 0; p < _populations; ++p)
                count_rows->push_back(locus.counts.data() + static_cast<std::size_t>(p) * n);
            LocusPairData pair_data;
            pair_data.populations = _populations;
            pair_data.haplotypes = locus.haplotypes;
            pair_data.distance = distance_rows->data();
            pair_data.counts = count_rows->data();
            pair_data.whole_distance_bound = whole_distance_bound(distance_rows->data(), locus.haplotypes);
            pair_data.distances_normal = distances_normal(distance_rows->data(), locus.haplotypes);
            sums->compute(pair_data, &_tot[cell0(l)], &_count[cell0(l)], &_precise_tot[cell0(l)],
                          &_precise_count[cell0(l)]);
        };
    });
}

}  // namespace scan
