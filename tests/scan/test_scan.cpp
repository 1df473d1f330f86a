// corvane-scan's parts that no whole run shows on its own: the F tail against
// values worked out independently, and the jackknife against the brute force of
// deleting each locus from the data and starting afresh.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "f_distribution.h"
#include "locus_tables.h"
#include "model_fit.h"
#include "scan_data.h"
#include "scan_run.h"

namespace {

// P(F(d1, d2) >= f) from tests/tools/f_tail_reference.py: the F density
// integrated numerically with Python's standard library (Simpson's rule after
// x = f / u^2), which for d1 = 2 and d2 = 2 agrees with the closed forms
// (1 + 2f/d2)^(-d2/2) and 1 - (d1 f / (2 + d1 f))^(d1/2) to all 12 digits printed.
struct FTail {
    double d1, d2, f, tail;
};
const FTail known_tails[] = {
    {1, 10, 4.9646, 0.0500000521929}, {2, 10, 4.10, 0.0500775484811}, {2, 28, 0.5, 0.611843665668},
    {3, 27, 2.96, 0.0500180842212},   {4, 96, 2.47, 0.0497341071126}, {5, 2, 19.3, 0.0499910273931},
    {7, 3, 0.8, 0.637906351434},      {1, 1, 1.0, 0.5},               {10, 40, 25.0, 3.75923741109e-14},
    {30, 70, 1.0, 0.483535632809},
};

TEST(FDistribution, UpperTailMatchesIndependentIntegration)
{
    for (const FTail& known : known_tails)
        EXPECT_NEAR(scan::f_upper_tail(known.d1, known.d2, known.f) / known.tail, 1.0, 1e-9)
            << "F(" << known.d1 << ", " << known.d2 << ") >= " << known.f;
}

TEST(FDistribution, UpperTailAtItsEnds)
{
    EXPECT_EQ(scan::f_upper_tail(3, 12, 0), 1.0);
    EXPECT_EQ(scan::f_upper_tail(3, 12, INFINITY), 0.0);
    EXPECT_TRUE(std::isnan(scan::f_upper_tail(3, 12, NAN)));
}

const std::string hand_case = std::string(CORVANE_SCAN_CASES_DIR) + "/three_loci_by_hand/data.txt";

// The estimate of one model on a data set, from pair sums computed afresh.
scan::ModelEstimate estimate_of(const scan::ScanData& data, const std::vector<int>& sources)
{
    const scan::LocusTables tables(data, 1);
    const std::vector<std::vector<int>> no_draws;
    scan::ModelFitter fitter(tables, data.time_since_admixture, data.mutation_rate, no_draws);
    std::vector<int> loci(data.loci.size());
    std::iota(loci.begin(), loci.end(), 0);
    return fitter.estimate(sources, loci);
}

// Each locus deleted from the data file itself, everything computed anew: the
// jackknife's SE and Q must be those of these deletions.
TEST(Jackknife, AgreesWithDeletingEachLocusFromTheData)
{
    const scan::ScanData data = scan::read_scan_data(hand_case);
    const std::vector<int> sources{1, 2}, references{3};
    const scan::LocusTables tables(data, 2);
    const std::vector<std::vector<int>> no_draws;
    scan::ModelFitter fitter(tables, data.time_since_admixture, data.mutation_rate, no_draws);
    const scan::ModelResult result = fitter.fit(sources, references);
    ASSERT_TRUE(result.fitted) << result.fit_note;

    const int L = static_cast<int>(data.loci.size());
    std::vector<std::vector<float>> mY;
    std::vector<double> e;
    for (int l = 0; l < L; ++l) {
        scan::ScanData without = data;
        without.loci.erase(without.loci.begin() + l);
        const scan::ModelEstimate deleted = estimate_of(without, sources);
        ASSERT_TRUE(deleted.refusal.empty()) << deleted.refusal;
        mY.push_back(deleted.mY);
        const scan::LocusTables fresh(without, 1);
        scan::ModelFitter fresh_fitter(fresh, data.time_since_admixture, data.mutation_rate, no_draws);
        std::vector<int> loci(without.loci.size());
        std::iota(loci.begin(), loci.end(), 0);
        e.push_back(fresh_fitter.residuals(sources, references, loci, deleted.mY)[0]);
    }
    const double scale = (L - 1.0) / L;
    for (std::size_t k = 0; k < sources.size(); ++k) {
        double mean = 0, squares = 0;
        for (const auto& values : mY)
            mean += values[k];
        mean /= L;
        for (const auto& values : mY)
            squares += (values[k] - mean) * (values[k] - mean);
        EXPECT_EQ(result.standard_errors[k], std::sqrt(scale * squares));
    }
    const double e_mean = std::accumulate(e.begin(), e.end(), 0.0) / L;
    double variance = 0;
    for (double value : e)
        variance += (value - e_mean) * (value - e_mean);
    variance *= scale;
    std::vector<int> all(static_cast<std::size_t>(L));
    std::iota(all.begin(), all.end(), 0);
    const double e_all = fitter.residuals(sources, references, all, result.mY)[0];
    EXPECT_NEAR(result.Q, e_all * e_all / variance, 1e-12 * result.Q);
}

TEST(ModelList, CombinationsInLexicographicOrder)
{
    const auto sets = scan::combinations(4, 2);
    ASSERT_EQ(sets.size(), 6u);
    EXPECT_EQ(sets.front(), (std::vector<int>{0, 1}));
    EXPECT_EQ(sets[2], (std::vector<int>{0, 3}));
    EXPECT_EQ(sets.back(), (std::vector<int>{2, 3}));
    EXPECT_TRUE(scan::combinations(3, 4).empty());
}

}  // namespace
