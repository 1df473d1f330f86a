#include <gtest/gtest.h>

#include <cmath>

#include "engine_fixture.h"
#include "number_format.h"

namespace {

// Two haplotypes at distance 1; the first parental sample holds only the first,
// the second only the second, and the hybrid three of one and one of the other.
LocusData two_haplotype_locus()
{
    return {{{0, 1}, {1, 0}}, {{3, 1}, {4, 0}, {0, 4}}};
}

// The three-parent, two-locus test vector.
std::vector<LocusData> three_parent_loci()
{
    LocusData first{{{0, 2, 3}, {2, 0, 1}, {3, 1, 0}}, {{2, 3, 1}, {6, 0, 0}, {0, 5, 1}, {1, 1, 4}}};
    LocusData second{{{0, 1}, {1, 0}}, {{3, 3}, {5, 1}, {1, 5}, {3, 3}}};
    return {first, second};
}

std::vector<std::string> tail(const std::vector<std::string>& lines, std::size_t count)
{
    return std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(count), lines.end());
}

}  // namespace

using CoalescenceTimes = EngineTest;

TEST_F(CoalescenceTimes, TwoHaplotypeLocusGivesPairSumsMeansAndLogBlock)
{
    load(0, 0, {two_haplotype_locus()});
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    EXPECT_FLOAT_EQ(c._hybrid_parental_coal_times[0], 0.25f);
    EXPECT_FLOAT_EQ(c._hybrid_parental_coal_times[1], 0.75f);
    EXPECT_EQ(c._parental_coal_times[0][0], 0.0f);
    EXPECT_EQ(c._parental_coal_times[0][1], 1.0f);
    EXPECT_EQ(c._parental_coal_times[1][0], 1.0f);
    EXPECT_EQ(c._parental_coal_times[1][1], 0.0f);
    const std::vector<std::string> expected = {
        "-----",
        "Time to admix event: 0",
        "Hybrid-parental 0: Tot_diff:4 Count_diff:16 Times:0.25",
        "Hybrid-parental 1: Tot_diff:12 Count_diff:16 Times:0.75",
        "Parentals 0,0: Tot_diff:0 Count_diff:6 Times:0",
        "Parentals 0,1: Tot_diff:16 Count_diff:16 Times:1",
        "Parentals 1,1: Tot_diff:0 Count_diff:6 Times:0",
    };
    EXPECT_EQ(log_lines(), expected);
}

TEST_F(CoalescenceTimes, ThreeParentVectorLogsLastLocusSumsAndMeansOverLoci)
{
    load(50, 0.0002f, three_parent_loci());
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    const std::vector<std::string> expected = {
        "-----",
        "Time to admix event: 50",
        "Hybrid-parental 0: Tot_diff:18 Count_diff:36 Times:1",
        "Hybrid-parental 1: Tot_diff:18 Count_diff:36 Times:0.722222",
        "Hybrid-parental 2: Tot_diff:18 Count_diff:36 Times:0.944444",
        "Parentals 0,0: Tot_diff:5 Count_diff:15 Times:0.166667",
        "Parentals 0,1: Tot_diff:26 Count_diff:36 Times:1.44444",
        "Parentals 1,1: Tot_diff:5 Count_diff:15 Times:0.333333",
        "Parentals 0,2: Tot_diff:18 Count_diff:36 Times:1.41667",
        "Parentals 1,2: Tot_diff:18 Count_diff:36 Times:0.722222",
        "Parentals 2,2: Tot_diff:9 Count_diff:15 Times:0.9",
    };
    EXPECT_EQ(log_lines(), expected);

    c.add_time_to_admix_event();
    EXPECT_EQ(format_real(c._parental_coal_times[0][0]), "0.186667");
    EXPECT_EQ(format_real(c._parental_coal_times[1][1]), "0.353333");
    EXPECT_EQ(format_real(c._parental_coal_times[2][2]), "0.92");
    // Only the diagonal moves.
    EXPECT_EQ(format_real(c._parental_coal_times[1][0]), "1.44444");
    EXPECT_EQ(format_real(c._hybrid_parental_coal_times[0]), "1");
}

TEST_F(CoalescenceTimes, RepeatedCallsDoNotAccumulate)
{
    load(50, 0.0002f, three_parent_loci());
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    const float first_hybrid = c._hybrid_parental_coal_times[2];
    const float first_between = c._parental_coal_times[2][0];
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    EXPECT_EQ(c._hybrid_parental_coal_times[2], first_hybrid);
    EXPECT_EQ(c._parental_coal_times[2][0], first_between);
}

TEST_F(CoalescenceTimes, IdenticalSingleHaplotypeParentsReturnZeroAfterLogging)
{
    // Both parental samples hold one and the same haplotype, at distance 0 from
    // itself: their mean time between them is 0 and no estimate is possible.
    load(0, 0, {LocusData{{{0, 1}, {1, 0}}, {{2, 2}, {5, 0}, {3, 0}}}});
    Coef_Admixture& c = *record;
    EXPECT_EQ(c.compute_coal_times(c._freq_haplotypes), 0);
    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "Parentals 0,1: Tot_diff:0 Count_diff:15 Times:0");
}

TEST_F(CoalescenceTimes, SingleCopiesPairOnlyWithOtherCopies)
{
    // One copy of each haplotype: no pair of a haplotype with itself, one pair
    // for each pair of haplotypes; a non-zero diagonal distance is never used.
    load(0, 0, {LocusData{{{7, 1, 2}, {1, 7, 4}, {2, 4, 7}}, {{1, 1, 1}, {1, 1, 1}, {2, 0, 0}}}});
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    EXPECT_EQ(c._parental_coal_times[0][0], static_cast<float>(7.0L / 3.0L));
    // Two copies of haplotype 0: one pair at the diagonal distance 7.
    EXPECT_EQ(c._parental_coal_times[1][1], 7.0f);
}

TEST_F(CoalescenceTimes, AdmixtureTimeTermIsAddedToTheDiagonalOnly)
{
    load(100, 0.001f, {two_haplotype_locus()});
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    c.add_time_to_admix_event();
    const float term = static_cast<float>(2.0L * 100.0L * static_cast<long double>(0.001f));
    EXPECT_EQ(c._parental_coal_times[0][0], term);
    EXPECT_EQ(c._parental_coal_times[1][1], term);
    EXPECT_EQ(c._parental_coal_times[0][1], 1.0f);
    EXPECT_EQ(format_real(term), "0.2");
}

using LinearSystem = EngineTest;

TEST_F(LinearSystem, TwoParentsGiveOneEquationWithoutPlusSign)
{
    load(0, 0, {two_haplotype_locus()});
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    c.add_time_to_admix_event();
    c.compute_coefficients_of_linear_equations();
    const std::vector<std::string> expected = {"-----", "Linear equations of admixture coefficients !", "2mu1=1.5"};
    EXPECT_EQ(tail(log_lines(), 3), expected);
    ASSERT_EQ(c.gaussian_elimination(c._admixture_coefficients), 1);
    EXPECT_EQ(c._admixture_coefficients[0], 0.75f);
    EXPECT_EQ(c._admixture_coefficients[1], 0.25f);
}

TEST_F(LinearSystem, ThreeParentVectorGivesNegativeProportionSummingToOne)
{
    load(50, 0.0002f, three_parent_loci());
    Coef_Admixture& c = *record;
    ASSERT_EQ(c.compute_coal_times(c._freq_haplotypes), 1);
    c.add_time_to_admix_event();
    c.compute_coefficients_of_linear_equations();
    const std::vector<std::string> expected = {
        "-----",
        "Linear equations of admixture coefficients !",
        "2.28118mu1+-0.398816mu2=0.524641",
        "-0.398816mu1+0.175967mu2=-0.0164087",
    };
    EXPECT_EQ(tail(log_lines(), 4), expected);
    ASSERT_EQ(c.gaussian_elimination(c._admixture_coefficients), 1);
    EXPECT_EQ(format_real(c._admixture_coefficients[0]), "0.35392");
    EXPECT_EQ(format_real(c._admixture_coefficients[1]), "0.708886");
    EXPECT_EQ(format_real(c._admixture_coefficients[2]), "-0.0628058");
    const long double sum = static_cast<long double>(c._admixture_coefficients[0]) + c._admixture_coefficients[1] +
                            c._admixture_coefficients[2];
    EXPECT_NEAR(static_cast<double>(sum), 1.0, 1e-6);
    // The eliminated system is left in place: below the pivot of row 0 the
    // first column was eliminated and row 1's pivot was updated.
    EXPECT_NE(format_real(c._right_hand_side_matrix[1][1]), "0.175967");
    EXPECT_TRUE(printed.str().empty());
}

TEST_F(LinearSystem, HybridOutsideTheParentalRangeIsNotClamped)
{
    load(0, 0, {two_haplotype_locus()});
    Coef_Admixture& c = *record;
    float** P = c._parental_coal_times;
    P[0][0] = 0; P[0][1] = 1; P[1][0] = 1; P[1][1] = 0;
    c._hybrid_parental_coal_times[0] = 1.5f;
    c._hybrid_parental_coal_times[1] = 0.0f;
    c.compute_coefficients_of_linear_equations();
    ASSERT_EQ(c.gaussian_elimination(c._admixture_coefficients), 1);
    EXPECT_EQ(c._admixture_coefficients[0], -0.25f);
    EXPECT_EQ(c._admixture_coefficients[1], 1.25f);
}

TEST_F(LinearSystem, SingularSystemFailsWithConsoleLineAndNoDivision)
{
    // The first two parental populations have the same times with every parental
    // population: the normal equations are singular and the second pivot is 0.
    load(0, 0, three_parent_loci());
    Coef_Admixture& c = *record;
    const float times[3][3] = {{1, 1, 2}, {1, 1, 2}, {2, 2, 1}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            c._parental_coal_times[i][j] = times[i][j];
    for (int k = 0; k < 3; ++k)
        c._hybrid_parental_coal_times[k] = 1.5f;
    c.compute_coefficients_of_linear_equations();
    const std::vector<std::string> expected = {"3mu1+3mu2=1.5", "3mu1+3mu2=1.5"};
    EXPECT_EQ(tail(log_lines(), 2), expected);
    c._admixture_coefficients[2] = 42.0f;
    EXPECT_EQ(c.gaussian_elimination(c._admixture_coefficients), 0);
    EXPECT_EQ(printed.str(), "error: Gaussian Elimination, no pivoting\n");
    EXPECT_EQ(c._admixture_coefficients[2], 42.0f);  // the last proportion is left unset
}

TEST_F(LinearSystem, GaussRefusesZeroAndNonFinitePivotsAndAcceptsAnEmptySystem)
{
    load(0, 0, three_parent_loci());
    Coef_Admixture& c = *record;
    float row0[2] = {0, 1};
    float row1[2] = {1, 1};
    float* a[2] = {row0, row1};
    float b[2] = {1, 2};
    float x[2] = {-1, -1};
    EXPECT_EQ(c.GaussNP(2, a, b, x), 0);
    row0[0] = std::nanf("");
    EXPECT_EQ(c.GaussNP(2, a, b, x), 0);
    EXPECT_EQ(x[0], -1.0f);
    EXPECT_EQ(c.GaussNP(0, a, b, x), 1);
    EXPECT_EQ(x[0], -1.0f);
    // A regular 2 x 2 system: 2x + y = 5, x + 3y = 10 gives x = 1, y = 3.
    row0[0] = 2; row0[1] = 1; row1[0] = 1; row1[1] = 3;
    b[0] = 5; b[1] = 10;
    ASSERT_EQ(c.GaussNP(2, a, b, x), 1);
    EXPECT_EQ(x[0], 1.0f);
    EXPECT_EQ(x[1], 3.0f);
}

using ObservedCounts = EngineTest;

TEST_F(ObservedCounts, EveryMeanNeedsPairsOfCopies)
{
    load(0, 0, {two_haplotype_locus(), LocusData{{{0, 1}, {1, 0}}, {{0, 0}, {1, 1}, {2, 0}}}});
    Coef_Admixture& c = *record;
    EXPECT_EQ(c.check_observed_pair_counts(), 0);
    EXPECT_NE(c.error_message().find("at locus 1 the hybrid population (population 0) holds 0 haplotype copies"),
              std::string::npos)
        << c.error_message();
    c._freq_haplotypes[1][0][1] = 1;
    c._freq_haplotypes[1][2][0] = 1;
    EXPECT_EQ(c.check_observed_pair_counts(), 0);
    EXPECT_NE(c.error_message().find("at locus 1 parental population 2 holds 1 haplotype copy; at least 2 are"),
              std::string::npos)
        << c.error_message();
    c._freq_haplotypes[1][2][1] = 1;
    EXPECT_EQ(c.check_observed_pair_counts(), 1);
}
