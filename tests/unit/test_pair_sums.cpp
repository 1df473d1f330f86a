// The pair sums of one locus: every fast path gives the plain arithmetic's
// floats bit for bit, and each is chosen exactly within its bounds.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pair_sums.h"

namespace {

// One locus of hand-made data: a full distance matrix and the counts, one row
// per population.
struct Locus {
    std::vector<std::vector<float>> distances;
    std::vector<std::vector<int>> counts;
};

class PairSumsTest : public ::testing::Test {
protected:
    // The sums by the fast paths and by the plain arithmetic, which must agree
    // bit for bit in every cell; returns the fast ones.
    void compute(const Locus& locus, bool distances_normal_as_found = true)
    {
        const int populations = static_cast<int>(locus.counts.size());
        const int n = static_cast<int>(locus.distances.size());
        std::vector<const float*> rows;
        for (const auto& row : locus.distances)
            rows.push_back(row.data());
        std::vector<const int*> counts;
        for (const auto& row : locus.counts)
            counts.push_back(row.data());
        LocusPairData data;
        data.populations = populations;
        data.haplotypes = n;
        data.distance = rows.data();
        data.counts = counts.data();
        data.whole_distance_bound = whole_distance_bound(rows.data(), n);
        data.distances_normal = distances_normal_as_found && distances_normal(rows.data(), n);
        const std::size_t cells = static_cast<std::size_t>(populations) * populations;
        tot.assign(cells, 0.0f);
        count.assign(cells, 0.0f);
        std::vector<float> plain_tot(cells, 0.0f);
        std::vector<float> plain_count(cells, 0.0f);
        PairSums plain(populations, n);
        sums = std::make_unique<PairSums>(populations, n);
        sums->compute(data, tot.data(), count.data());
        plain.compute_plain(data, plain_tot.data(), plain_count.data());
        EXPECT_EQ(std::memcmp(tot.data(), plain_tot.data(), cells * sizeof(float)), 0) << "pair sums differ";
        EXPECT_EQ(std::memcmp(count.data(), plain_count.data(), cells * sizeof(float)), 0) << "pair counts differ";
    }

    std::unique_ptr<PairSums> sums;
    std::vector<float> tot;
    std::vector<float> count;
};

// Two populations, each holding all its copies of one haplotype, at distance d.
Locus two_separate_populations(float d, int copies_0, int copies_1)
{
    return {{{0, d}, {d, 0}}, {{copies_0, 0}, {0, copies_1}}};
}

TEST_F(PairSumsTest, WholeDistancesTakeTheClosedFormUpTo2To24)
{
    EXPECT_TRUE(whole_sums_are_exact(16777216, 1));
    EXPECT_FALSE(whole_sums_are_exact(16777217, 0));
    EXPECT_TRUE(whole_sums_are_exact(65536, 256));
    EXPECT_FALSE(whole_sums_are_exact(172961, 97));  // 172961 x 97 = 2^24 + 1
    EXPECT_FALSE(whole_sums_are_exact(1, -1));
    // Each case: distance, copies of the two populations, and how many of the
    // three population pairs have pairs (N0 N1 between, N(N-1)/2 within) whose
    // number and number times distance stay at most 2^24.
    struct Case {
        float distance;
        int copies_0, copies_1;
        unsigned closed_form;
    };
    const Case cases[] = {
        {0, 4096, 4096, 3},   // between: exactly 2^24 pairs
        {0, 24929, 673, 1},   // between: 2^24 + 1 pairs; within population 0: 310 million
        {1, 4096, 4096, 3},
        {1, 24929, 673, 1},
        {256, 256, 256, 3},   // between: 65536 pairs x 256 = 2^24
        {97, 257, 673, 1},    // between: 172961 x 97 = 2^24 + 1; within 1: 226128 x 97
    };
    for (const Case& c : cases) {
        compute(two_separate_populations(c.distance, c.copies_0, c.copies_1));
        EXPECT_EQ(sums->closed_form_pairs, c.closed_form) << c.distance << " " << c.copies_0 << " " << c.copies_1;
        EXPECT_EQ(count[1], static_cast<float>(static_cast<double>(c.copies_0) * c.copies_1));
    }
}

TEST_F(PairSumsTest, PairCountsBeyond2To24KeepTheRoundingOfEachAddition)
{
    // Between the populations the counts add 2^24 - 1, then 1, 1 and 1: the
    // running count reaches 2^24 and stays there (2^24 + 1 rounds to even),
    // while the exact number of pairs, 2^24 + 2, is a float.
    const Locus locus{{{0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 0, 1}, {1, 1, 1, 0}},
                      {{16777215, 1, 1, 1}, {1, 0, 0, 0}}};
    compute(locus);
    EXPECT_EQ(count[1], 16777216.0f);
    EXPECT_EQ(tot[1], 3.0f);
}

TEST_F(PairSumsTest, ADoubleSumHalfwayBetweenTwoFloatsIsRedoneInExtendedPrecision)
{
    // Between the populations: 2^24 (distance 2^24, one pair), then 13325 pairs
    // at 80581 x 2^-30, adding 1 + 2^-30. In extended precision the sum lies
    // just above 2^24 + 1 and rounds to 2^24 + 2; in double it rounds to
    // 2^24 + 1, halfway between two floats, whose rounding to even gives 2^24.
    const float small = std::ldexp(80581.0f, -30);
    const Locus locus{{{16777216.0f, small}, {small, 0}}, {{1, 0}, {1, 13325}}};
    for (bool normal : {true, false}) {
        compute(locus, normal);
        EXPECT_EQ(tot[1], 16777218.0f) << (normal ? "sums that stay normal" : "any sums");
        EXPECT_EQ(count[1], 13326.0f);
        EXPECT_EQ(sums->double_chained_pairs, 3u);
    }
}

TEST_F(PairSumsTest, DoubleStepsServeCountsUpTo2To14)
{
    EXPECT_TRUE(double_chain_applies(16384));
    EXPECT_FALSE(double_chain_applies(16385));
    const float decimal = 0.3f;
    compute(two_separate_populations(decimal, 16384, 3));
    EXPECT_EQ(sums->double_chained_pairs, 3u);
    compute(two_separate_populations(decimal, 16385, 3));
    EXPECT_EQ(sums->extended_chained_pairs, 3u);
}

TEST_F(PairSumsTest, RandomLociAgreeWithThePlainArithmetic)
{
    std::mt19937 random(20261207);
    const auto below = [&](int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); };
    for (int trial = 0; trial < 400; ++trial) {
        const int n = 1 + below(12);
        const int populations = 2 + below(5);
        const int kind = below(5);  // whole, decimal, negative, tiny, huge distances
        const int largest_count = std::vector<int>{6, 300, 20000, 3000000}[below(4)];
        Locus locus{std::vector<std::vector<float>>(n, std::vector<float>(n, 0)),
                    std::vector<std::vector<int>>(populations, std::vector<int>(n, 0))};
        for (int x = 0; x < n; ++x)
            for (int y = x; y < n; ++y) {
                float d = static_cast<float>(below(20));
                if (kind == 1)
                    d = static_cast<float>(below(100000)) / 997.0f;
                else if (kind == 2)
                    d = static_cast<float>(below(2000) - 1000) / 7.0f;
                else if (kind == 3)
                    d = std::ldexp(static_cast<float>(below(1000)), -140 + below(20));
                else if (kind == 4)
                    d = std::ldexp(static_cast<float>(1 + below(1000)), 90 + below(27));  // finite, as read
                locus.distances[x][y] = locus.distances[y][x] = x == y && kind != 1 ? 0.0f : d;
            }
        for (auto& row : locus.counts)
            for (int& c : row)
                c = below(3) == 0 ? 0 : below(largest_count + 1);
        compute(locus);
    }
}

}  // namespace
