#ifndef CORVANE_SIMULATE_ADMIXTURE_MODEL_H
#define CORVANE_SIMULATE_ADMIXTURE_MODEL_H

// The model the simulator draws from, with time in units of 2N generations:
// P parental populations of N diploid individuals split from one ancestral
// population tau ago; the hybrid population, also of size N, was founded t ago
// (t <= tau), each of its lineages still separate at t moving to parental
// population k with probability m_k. Within each population every pair of
// lineages coalesces at rate 1, one pair at a time; before tau all lineages are
// in the ancestral population, also of size N. Mutations fall on every lineage at rate theta/2
// under infinite sites, so two copies differ at as many sites as mutations lie
// on the path between them. Loci are independent.
//
// Expected distances (pairs of copies): theta within a parental population,
// theta (1 + tau) between two of them, and theta [m_k (1 + t) + (1 - m_k)(1 + tau)]
// between the hybrid and parental population k.

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "dataset.h"
#include "random_draws.h"

namespace simulate {

struct Scenario {
    std::vector<double> mix;            // m_1 .. m_P, summing to 1
    double split_time = 1;              // tau
    double admixture_time = 0;          // t
    double theta = 1;
    std::vector<std::int64_t> copies;   // sample sizes, hybrid first: n_0 .. n_P
    std::int64_t loci = 1;
    std::uint64_t seed = 1;
};

// A simulated locus that the data file cannot hold: more distinct haplotypes
// than the estimator accepts.
class UnwritableLocus : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One locus: a genealogy of all sampled copies, mutations on its branches, and
// the copies grouped into distinct haplotypes (listed in order of first
// appearance, hybrid copies first) with the numbers of differing sites between
// them. Throws UnwritableLocus beyond dataset::max_haplotypes_per_locus.
dataset::Locus simulate_locus(const Scenario& scenario, RandomDraws& draws, std::int64_t locus_index);

// Every locus in turn from one generator seeded with scenario.seed; the first
// line's time is t and its rate theta/2, so that the estimator's 2 T mu is
// theta t, the extra expected distance between a hybrid copy and a copy of the
// parental population its lineage moved to.
dataset::DataSet simulate_data_set(const Scenario& scenario);

}  // namespace simulate

#endif
