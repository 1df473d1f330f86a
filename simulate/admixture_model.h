#ifndef CORVANE_SIMULATE_ADMIXTURE_MODEL_H
#define CORVANE_SIMULATE_ADMIXTURE_MODEL_H

// The model the simulator draws from, with time in units of 2N generations:
// the sampled populations are the leaves of a tree of populations (see
// population_tree.h), every population of N diploid individuals; the hybrid
// population, also of size N, was founded t ago, each of its lineages still
// separate at t moving to sampled population k with probability m_k (a source
// k still apart from its sister populations at t). Within each population every
// pair of lineages coalesces at rate 1, one pair at a time. Mutations fall on
// every lineage at rate theta/2; under infinite sites two copies differ at as
// many sites as mutations lie on the path between them, under the stepwise
// model each mutation adds or removes one repeat, with equal chance, and the
// distance is the squared difference of the repeat numbers. Loci are
// independent.
//
// Expected distances (pairs of copies), under either mutation model: theta
// within a sampled population, theta (1 + h_kl) between populations k and l
// whose lineages first meet at height h_kl, and
// theta sum_k m_k (1 + (k = l ? t : h_kl)) between the hybrid and population l.
// The star of P populations split tau ago (one inner node at height tau) is the
// model of the program's first options.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset.h"
#include "population_tree.h"
#include "random_draws.h"

namespace simulate {

enum class Mutation { infinite_sites, stepwise };

struct Scenario {
    PopulationTree tree;                // its leaves are the sampled populations 1 .. P
    std::vector<double> mix;            // m_1 .. m_P, one per leaf, summing to 1
    double admixture_time = 0;          // t, at most the height where a source joins its ancestor
    double theta = 1;
    std::vector<std::int64_t> copies;   // sample sizes, hybrid first: n_0 .. n_P
    std::int64_t loci = 1;
    std::uint64_t seed = 1;
    std::string hybrid = "hybrid";      // the hybrid population's name
    Mutation mutation = Mutation::infinite_sites;
};

// A simulated locus that the data file cannot hold: more distinct haplotypes
// than the estimator accepts.
class UnwritableLocus : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One locus: a genealogy of all sampled copies, mutations on its branches, and
// the copies grouped into distinct haplotypes (listed in order of first
// appearance, hybrid copies first) with the distances between them. Throws
// UnwritableLocus beyond dataset::max_haplotypes_per_locus.
dataset::Locus simulate_locus(const Scenario& scenario, RandomDraws& draws, std::int64_t locus_index);

// Every locus in turn from one generator seeded with scenario.seed; the first
// line's time is t and its rate theta/2, so that the estimator's 2 T mu is
// theta t, the extra expected distance between a hybrid copy and a copy of the
// population its lineage moved to. The populations are named: the hybrid,
// then the leaves in the tree's order.
dataset::DataSet simulate_data_set(const Scenario& scenario);

// The least memory the data set of a scenario takes while it is drawn: every
// locus with at least one haplotype, its distance and its counts, and the
// genealogy of one locus. In long double, so that no size wraps around.
long double least_memory_bytes(const Scenario& scenario);

}  // namespace simulate

#endif
