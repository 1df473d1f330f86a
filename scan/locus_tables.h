#ifndef CORVANE_SCAN_LOCUS_TABLES_H
#define CORVANE_SCAN_LOCUS_TABLES_H

// The pair sums and pair counts of every locus between all populations of the
// data file (the hybrid and every candidate), computed once: as the estimator
// stores them (floats) and before any rounding (doubles), for the precise
// check. Every model reads its rows from here; leaving populations out of a data
// file leaves the pair sums of the others as they are, so a model's rows are
// those of the data file cut to its populations.

#include <cstddef>
#include <vector>

#include "scan_data.h"

namespace scan {

class LocusTables {
public:
    // Computes the tables of every locus, spreading the loci over `threads` threads.
    LocusTables(const ScanData& data, int threads);

    int populations() const { return _populations; }
    int loci() const { return _loci; }
    const float* tot(int locus) const { return &_tot[cell0(locus)]; }
    const float* count(int locus) const { return &_count[cell0(locus)]; }
    const double* precise_tot(int locus) const { return &_precise_tot[cell0(locus)]; }
    const double* precise_count(int locus) const { return &_precise_count[cell0(locus)]; }

private:
    std::size_t cell0(int locus) const { return static_cast<std::size_t>(locus) * _cells; }

    int _populations;
    int _loci;
    std::size_t _cells;
    std::vector<float> _tot, _count;
    std::vector<double> _precise_tot, _precise_count;
};

}  // namespace scan

#endif
