// The simulator against its model: over many loci the mean distance between two
// copies, one of population p and one of q, must lie within 3 standard errors
// (from its spread across loci) of the expectation, for the star and for a tree,
// under infinite sites and the stepwise model, and so must the mean squared
// distance within a sampled population, which tells the two mutation models
// apart; and the two things the same-seed-same-file promise rests on: the engine
// and the logarithm.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "admixture_model.h"

namespace {

using simulate::Scenario;

// Mean distance (or its square) over the pairs of distinct copies of
// populations p and q at one locus.
double mean_pair_distance(const dataset::Locus& locus, std::size_t p, std::size_t q, int power = 1)
{
    double sum = 0, copies_p = 0, copies_q = 0;
    for (std::size_t i = 0; i < locus.haplotypes.size(); ++i) {
        copies_p += locus.counts[p][i];
        copies_q += locus.counts[q][i];
        for (std::size_t j = 0; j < locus.haplotypes.size(); ++j)
            sum += double(locus.counts[p][i]) * double(locus.counts[q][j]) * std::pow(locus.distances[i][j], power);
    }
    return sum / (copies_p * (p == q ? copies_q - 1 : copies_q));
}

// The height at which the lineages of leaves k and l (0-based) can first meet:
// that of their nearest common ancestor.
double meeting_height(const simulate::PopulationTree& tree, std::size_t k, std::size_t l)
{
    std::vector<bool> above_k(tree.nodes.size(), false);
    for (std::size_t n = tree.leaves[k]; n != tree.no_parent; n = tree.nodes[n].parent)
        above_k[n] = true;
    std::size_t n = tree.leaves[l];
    while (!above_k[n])
        n = tree.nodes[n].parent;
    return tree.nodes[n].height;
}

// Twice the expected coalescence time, times theta/2 per lineage (under the
// stepwise model a path of K mutations gives a squared difference of mean K,
// so the expectation is the same). Two copies of leaves k and l meet after
// h_kl + an exponential time of mean 1 (h_kk = 0). Two hybrid lineages meet
// before t with probability 1 - e^-t (mean time 1 - e^-t); otherwise they move
// to sources k and l, which adds 1 + (k = l ? 0 : h_kl - t). A hybrid lineage
// and one of leaf l: 1 + (k = l ? t : h_kl), k the hybrid lineage's source.
double expected_distance(const Scenario& s, std::size_t p, std::size_t q)
{
    const double t = s.admixture_time;
    const std::size_t leaves = s.mix.size();
    if (p > q)
        std::swap(p, q);
    if (q == 0) {
        double after_t = 0;
        for (std::size_t k = 0; k < leaves; ++k)
            for (std::size_t l = 0; l < leaves; ++l)
                after_t += s.mix[k] * s.mix[l] * (1 + (k == l ? 0 : meeting_height(s.tree, k, l) - t));
        const double apart_at_t = std::exp(-t);
        return s.theta * (1 - apart_at_t + apart_at_t * after_t);
    }
    if (p == 0) {
        double time = 0;
        for (std::size_t k = 0; k < leaves; ++k)
            time += s.mix[k] * (1 + (k == q - 1 ? t : meeting_height(s.tree, k, q - 1)));
        return s.theta * time;
    }
    return s.theta * (1 + (p == q ? 0 : meeting_height(s.tree, p - 1, q - 1)));
}

// The mean squared distance between two copies of one sampled population,
// whose coalescence time T is exponential with mean 1: K mutations on the path
// are Poisson with mean theta T, so E[K^2] = theta + 2 theta^2. Under infinite
// sites the distance is K; under the stepwise model it is X^2 for a sum X of K
// steps of +-1, and E[X^4 | K] = 3 K^2 - 2 K gives theta + 6 theta^2.
double expected_squared_distance_within(const Scenario& s)
{
    return s.theta + (s.mutation == simulate::Mutation::stepwise ? 6 : 2) * s.theta * s.theta;
}

Scenario star(std::vector<double> mix, double tau, double t, double theta, std::vector<std::int64_t> copies,
              std::int64_t loci, std::uint64_t seed)
{
    Scenario s;
    s.tree = simulate::star_tree(mix.size(), tau);
    s.mix = std::move(mix);
    s.admixture_time = t;
    s.theta = theta;
    s.copies = std::move(copies);
    s.loci = loci;
    s.seed = seed;
    return s;
}

Scenario stepwise(Scenario s)
{
    s.mutation = simulate::Mutation::stepwise;
    return s;
}

// Four leaves, sources A and C: the pulse lies between C and D's split (0.2)
// and the pair's merge, and D is nearer C than B is to A.
Scenario tree_with_references()
{
    Scenario s = star({0.3, 0, 0.7, 0}, 1, 0.15, 2, {8, 6, 5, 7, 6}, 800, 3);
    s.tree = simulate::parse_newick("((A:0.5,B:0.5):0.7,(C:0.2,D:0.2):1.0);");
    return s;
}

struct MeanAndError {
    double mean, standard_error;
};

template <typename PerLocus>
MeanAndError over_loci(const dataset::DataSet& data, PerLocus per_locus)
{
    double sum = 0, sum_of_squares = 0;
    for (const dataset::Locus& locus : data.loci) {
        const double value = per_locus(locus);
        sum += value;
        sum_of_squares += value * value;
    }
    const double loci = static_cast<double>(data.loci.size());
    const double mean = sum / loci;
    return {mean, std::sqrt((sum_of_squares - loci * mean * mean) / (loci - 1) / loci)};
}

TEST(SimulatedDistances, MeanDistancesMatchTheModelWithinThreeStandardErrors)
{
    const Scenario scenarios[] = {
        star({0.2, 0.8}, 1.5, 0.3, 2, {10, 10, 10}, 600, 7),
        star({0.5, 0.3, 0.2}, 1, 0.25, 3, {8, 6, 7, 5}, 800, 11),
        stepwise(star({0.4, 0.6}, 1, 0.2, 2, {8, 8, 8}, 1500, 5)),
        tree_with_references(),
        stepwise(tree_with_references()),
    };
    for (const Scenario& scenario : scenarios) {
        const dataset::DataSet data = simulate::simulate_data_set(scenario);
        const std::string model = std::to_string(scenario.mix.size()) + " sampled populations, " +
                                  (scenario.mutation == simulate::Mutation::stepwise ? "stepwise" : "sites");
        for (std::size_t p = 0; p < data.populations.size(); ++p) {
            for (std::size_t q = p; q < data.populations.size(); ++q) {
                const MeanAndError d =
                    over_loci(data, [&](const dataset::Locus& locus) { return mean_pair_distance(locus, p, q); });
                EXPECT_NEAR(d.mean, expected_distance(scenario, p, q), 3 * d.standard_error)
                    << data.populations[p] << " and " << data.populations[q] << " with " << model;
            }
            if (p == 0)
                continue;
            const MeanAndError squared =
                over_loci(data, [&](const dataset::Locus& locus) { return mean_pair_distance(locus, p, p, 2); });
            EXPECT_NEAR(squared.mean, expected_squared_distance_within(scenario), 3 * squared.standard_error)
                << "squared distances within " << data.populations[p] << " with " << model;
        }
    }
}

TEST(PopulationTree, HeightsAreTheDeepestLeafBelowWithinTheUltrametricTolerance)
{
    // C lies 4e-7 deeper than A and B: within the tolerance, and the root takes
    // the deeper path, so no parent lies below a child.
    const simulate::PopulationTree tree = simulate::parse_newick(" ((B:0.25,A:0.25) :0.75,\n C:1.0000004);");
    ASSERT_EQ(tree.leaves.size(), 3u);
    EXPECT_EQ(tree.leaf(0).name, "B");
    EXPECT_EQ(tree.leaf(2).name, "C");
    EXPECT_EQ(tree.nodes[tree.leaf(0).parent].height, 0.25);
    EXPECT_EQ(tree.root().height, 1.0000004);
    EXPECT_THROW(simulate::parse_newick("((B:0.25,A:0.25):0.75,C:1.000002);"), simulate::NewickError);
}

TEST(SimulatedDistances, EngineAndLogarithmGiveTheSameDrawsEverywhere)
{
    // The value the C++ standard requires of the 10000th output of a
    // default-constructed std::mt19937_64.
    std::mt19937_64 engine;
    engine.discard(9999);
    EXPECT_EQ(engine(), 9981545732273789042ULL);

    EXPECT_EQ(simulate::natural_log(1.0), 0.0);
    double worst = 0;
    for (double x = 0x1p-60; x < 4; x *= 1 + 0x1p-10)
        worst = std::max(worst, std::fabs(simulate::natural_log(x) - std::log(x)) / std::max(1.0, -std::log(x)));
    EXPECT_LT(worst, 4e-16);
}

}  // namespace
