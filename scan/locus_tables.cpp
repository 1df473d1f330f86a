#include "locus_tables.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "pair_sums.h"

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
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    const auto work = [&] {
        try {
            PairSums sums(_populations, most_haplotypes(data));
            std::vector<const float*> distance_rows;
            std::vector<const int*> count_rows;
            for (int l = next++; l < _loci && !failed; l = next++) {
                const ScanLocus& locus = data.loci[static_cast<std::size_t>(l)];
                const std::size_t n = static_cast<std::size_t>(locus.haplotypes);
                distance_rows.clear();
                for (std::size_t j = 0; j < n; ++j)
                    distance_rows.push_back(&locus.distances[j * n]);
                count_rows.clear();
                for (int p = 0; p < _populations; ++p)
                    count_rows.push_back(locus.counts.data() + static_cast<std::size_t>(p) * n);
                LocusPairData pair_data;
                pair_data.populations = _populations;
                pair_data.haplotypes = locus.haplotypes;
                pair_data.distance = distance_rows.data();
                pair_data.counts = count_rows.data();
                pair_data.whole_distance_bound = whole_distance_bound(distance_rows.data(), locus.haplotypes);
                pair_data.distances_normal = distances_normal(distance_rows.data(), locus.haplotypes);
                sums.compute(pair_data, &_tot[cell0(l)], &_count[cell0(l)], &_precise_tot[cell0(l)],
                             &_precise_count[cell0(l)]);
            }
        } catch (...) {
            if (!failed.exchange(true))
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < std::min(threads, _loci); ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace scan
