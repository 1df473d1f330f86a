// The simulator against its model: over many loci the mean distance between two
// copies, one of population p and one of q, must lie within 3 standard errors
// (from its spread across loci) of the expectation; and the two things the
// same-seed-same-file promise rests on: the engine and the logarithm.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "admixture_model.h"

namespace {

using simulate::Scenario;

// Mean distance over the pairs of distinct copies of populations p and q at one locus.
double mean_pair_distance(const dataset::Locus& locus, std::size_t p, std::size_t q)
{
    double sum = 0, copies_p = 0, copies_q = 0;
    for (std::size_t i = 0; i < locus.haplotypes.size(); ++i) {
        copies_p += locus.counts[p][i];
        copies_q += locus.counts[q][i];
        for (std::size_t j = 0; j < locus.haplotypes.size(); ++j)
            sum += double(locus.counts[p][i]) * double(locus.counts[q][j]) * locus.distances[i][j];
    }
    return sum / (copies_p * (p == q ? copies_q - 1 : copies_q));
}

// Twice the expected coalescence time, times theta/2 per lineage. Two hybrid
// lineages meet before t with probability 1 - e^-t (mean time 1 - e^-t);
// otherwise they join one parental population with probability sum m_k^2.
double expected_distance(const Scenario& s, std::size_t p, std::size_t q)
{
    const double t = s.admixture_time, tau = s.split_time;
    if (p > q)
        std::swap(p, q);
    if (q == 0) {
        double same_parent = 0;
        for (double m : s.mix)
            same_parent += m * m;
        const double apart_at_t = std::exp(-t);
        return s.theta * (1 - apart_at_t + apart_at_t * (same_parent + (1 - same_parent) * (1 + tau - t)));
    }
    if (p == 0)
        return s.theta * (s.mix[q - 1] * (1 + t) + (1 - s.mix[q - 1]) * (1 + tau));
    return p == q ? s.theta : s.theta * (1 + tau);
}

TEST(SimulatedDistances, MeanDistancesMatchTheModelWithinThreeStandardErrors)
{
    const Scenario scenarios[] = {
        {{0.2, 0.8}, 1.5, 0.3, 2, {10, 10, 10}, 600, 7},
        {{0.5, 0.3, 0.2}, 1, 0.25, 3, {8, 6, 7, 5}, 800, 11},
    };
    for (const Scenario& scenario : scenarios) {
        const dataset::DataSet data = simulate::simulate_data_set(scenario);
        const double loci = static_cast<double>(data.loci.size());
        for (std::size_t p = 0; p < data.populations.size(); ++p)
            for (std::size_t q = p; q < data.populations.size(); ++q) {
                double sum = 0, sum_of_squares = 0;
                for (const dataset::Locus& locus : data.loci) {
                    const double d = mean_pair_distance(locus, p, q);
                    sum += d;
                    sum_of_squares += d * d;
                }
                const double mean = sum / loci;
                const double standard_error = std::sqrt((sum_of_squares - loci * mean * mean) / (loci - 1) / loci);
                EXPECT_NEAR(mean, expected_distance(scenario, p, q), 3 * standard_error)
                    << data.populations[p] << " and " << data.populations[q] << " with " << scenario.mix.size()
                    << " parental populations";
            }
    }
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
