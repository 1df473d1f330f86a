// The bootstrap: the program's own generator, the drawing of one replicate, the
// means and standard deviations of the replicates, the refusal of data that
// cannot be resampled, and the reproducibility of whole runs from their seed.

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "COEF_ADMIX.h"
#include "bootstrap_summary.h"
#include "console_dialogue.h"
#include "console_input.h"
#include "number_format.h"
#include "run_driver.h"

namespace {

// The first five numbers of a generator nobody has seeded yet, taken before any
// test runs (the state word is constant-initialised, so it already holds its
// initial value here).
const std::array<int, 5> unseeded_numbers = [] {
    std::array<int, 5> numbers{};
    for (int& number : numbers)
        number = corvane::rand();
    return numbers;
}();

std::vector<int> next_numbers(int how_many)
{
    std::vector<int> numbers;
    for (int i = 0; i < how_many; ++i)
        numbers.push_back(corvane::rand());
    return numbers;
}

std::string file_contents(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// Every test works in a fresh temporary folder, since the record empties
// "log_file_admix.txt" in the current folder when it is built.
class InScratchFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corvane_bootstrap_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        _folder = pattern;
        char* previous = getcwd(nullptr, 0);
        ASSERT_NE(previous, nullptr);
        _previous_folder = previous;
        std::free(previous);
        ASSERT_EQ(chdir(_folder.c_str()), 0);
    }

    void TearDown() override
    {
        ASSERT_EQ(chdir(_previous_folder.c_str()), 0);
        std::filesystem::remove_all(_folder);
    }

private:
    std::string _folder;
    std::string _previous_folder;
};

// A record filled by hand: one locus, the hybrid and `parents` parental
// populations, each population given its sample size and haplotype counts.
class Sample : public InScratchFolder {
protected:
    struct Population {
        int sample_size;
        std::vector<int> counts;
    };

    void SetUp() override
    {
        InScratchFolder::SetUp();
        _record = std::make_unique<Coef_Admixture>(_in, _console);
    }

    void TearDown() override
    {
        if (_record->_freq_hap_boot)
            _record->de_allocate_space_for_bootstrap(_record->_nb_bootstrap);
        if (_record->_freq_haplotypes)
            _record->de_allocate_space();
        _record.reset();
        InScratchFolder::TearDown();
    }

    // Loci given as lists of populations (hybrid first); every locus has as many
    // haplotypes as its populations' count lists, with distance 1 between two
    // different haplotypes.
    Coef_Admixture& fill(const std::vector<std::vector<Population>>& loci, int replicates = 1)
    {
        Coef_Admixture& c = *_record;
        c._nb_loci = static_cast<int>(loci.size());
        c._nb_parent_pops = loci.empty() ? 2 : static_cast<int>(loci[0].size()) - 1;
        std::vector<int> haplotypes_per_locus;
        for (const std::vector<Population>& locus : loci)
            haplotypes_per_locus.push_back(static_cast<int>(locus[0].counts.size()));
        c.allocate_space(haplotypes_per_locus);
        for (int l = 0; l < c._nb_loci; ++l) {
            const int haplotypes = haplotypes_per_locus[l];
            for (int x = 0; x < haplotypes; ++x)
                for (int y = 0; y < haplotypes; ++y)
                    c._dist_haplotypes[l][x][y] = x == y ? 0.0f : 1.0f;
            for (int p = 0; p <= c._nb_parent_pops; ++p) {
                c._sample_sizes[l][p] = loci[l][p].sample_size;
                for (int h = 0; h < haplotypes; ++h)
                    c._freq_haplotypes[l][p][h] = loci[l][p].counts[h];
            }
        }
        c._nb_bootstrap = replicates;
        c.allocate_space_for_bootstrap(replicates);
        return c;
    }

    std::vector<int> resampled(int locus, int population) const
    {
        const Coef_Admixture& c = *_record;
        return std::vector<int>(c._freq_hap_boot[locus][population],
                                c._freq_hap_boot[locus][population] + c._num_alleles_loci[locus]);
    }

    std::istringstream _typed{""};
    ConsoleInput _in{_typed};
    std::ostringstream _console;
    std::unique_ptr<Coef_Admixture> _record;
};

// What a replicate must hold, worked out from the generator's numbers with the
// draw table of one sample: table[r] is the haplotype that random number r
// selects, or -1 when r is drawn again. Returns the counts and how many numbers
// the draws took.
std::pair<std::vector<int>, int> counts_from_table(const std::vector<int>& numbers, int sample_size,
                                                  const std::vector<int>& table, int haplotypes)
{
    std::vector<int> counts(haplotypes, 0);
    int used = 0;
    for (int draw = 0; draw < sample_size; ++draw) {
        int haplotype = -1;
        while (haplotype < 0)
            haplotype = table.at(numbers.at(used++) % sample_size);
        ++counts[haplotype];
    }
    return {counts, used};
}

// ---------------------------------------------------------------------------
// The generator

TEST(Generator, StartsFromStateOneWhenNeverSeeded)
{
    EXPECT_EQ(unseeded_numbers, (std::array<int, 5>{346, 130, 10982, 1090, 11656}));
}

TEST(Generator, SeedsSetTheStateWord)
{
    corvane::srand(1);
    EXPECT_EQ(next_numbers(5), (std::vector<int>{346, 130, 10982, 1090, 11656}));
    corvane::srand(0);
    EXPECT_EQ(next_numbers(5), (std::vector<int>{0, 346, 130, 10982, 1090}));
    // -1 typed at the seed question: 4294967295 * 22695477 + 1 = 4272271820
    // (mod 2^32), whose bits 16 to 30 are 32421.
    corvane::srand(4294967295u);
    EXPECT_EQ(next_numbers(3), (std::vector<int>{32421, 561, 22046}));
    corvane::srand(1);
    EXPECT_EQ(corvane::rand(), 346);  // reseeding restarts the sequence
}

TEST(Generator, JumpsAndSkippedDrawsLandWhereTheStepsLand)
{
    const std::uint32_t start = 123456789u;
    std::uint32_t stepped = start;
    std::uint64_t steps_made = 0;
    for (const std::uint64_t steps : {0u, 1u, 2u, 7u, 8u, 9u, 1000u, 65537u}) {
        for (; steps_made < steps; ++steps_made)
            stepped = corvane::next_state(stepped);
        EXPECT_EQ(corvane::jumped(start, corvane::generator_jump(steps)), stepped) << steps << " steps";
    }
    // The draws of a sample that draws a multiple of its size again: eight
    // states at a time, then one by one.
    for (const int n : {2, 3, 5, 8, 100, 4096, 32767})
        for (const int draws : {0, 1, 7, 8, 9, 200})
            for (const std::uint32_t seed : {1u, 2024u, 4294967295u}) {
                std::uint32_t state = seed;
                for (int kept = 0; kept < draws;) {
                    state = corvane::next_state(state);
                    kept += corvane::output_of(state) % n != 0 ? 1 : 0;
                }
                EXPECT_EQ(corvane::state_after_draws_redrawing_multiples(seed, n, draws), state)
                    << n << " copies, " << draws << " draws, seed " << seed;
            }
}

TEST(Generator, IsNotTheCLibraryGenerator)
{
    corvane::srand(1);
    std::srand(12345);
    (void)std::rand();
    EXPECT_EQ(corvane::rand(), 346);
}

// ---------------------------------------------------------------------------
// Drawing one replicate

using Draws = Sample;

TEST_F(Draws, NumberZeroIsDrawnAgainWhenHaplotypeZeroIsAbsent)
{
    // Counts (0, 3, 2), n = 5: random numbers 1 to 3 select haplotype 1, 4
    // selects haplotype 2, 0 selects nothing and is drawn again. Seed 2024 gives
    // the numbers 4 1 2 4 4 1 1 4 0 0 3 1 ... modulo 5, so the replicates below
    // meet every case, the redraw of 0 included.
    const std::vector<int> table{-1, 1, 1, 1, 2};
    Coef_Admixture& c = fill({{{5, {0, 3, 2}}, {0, {0, 0, 0}}, {0, {0, 0, 0}}}}, 4);
    corvane::srand(2024);
    const std::vector<int> numbers = next_numbers(200);
    corvane::srand(2024);
    std::size_t offset = 0;
    for (int replicate = 0; replicate < 4; ++replicate) {
        const std::vector<int> rest(numbers.begin() + offset, numbers.end());
        const auto [want, used] = counts_from_table(rest, 5, table, 3);
        c.bootstrap_pops();
        EXPECT_EQ(resampled(0, 0), want) << "replicate " << replicate + 1;
        offset += used;
    }
    EXPECT_GT(offset, 20u) << "some 0 must have been drawn again in these replicates";
    EXPECT_EQ(corvane::rand(), numbers[offset]) << "each draw and each repeat takes one number";
    EXPECT_EQ(resampled(0, 1), (std::vector<int>{0, 0, 0})) << "a sample of size 0 holds nothing";
    EXPECT_EQ(resampled(0, 2), (std::vector<int>{0, 0, 0}));
}

TEST_F(Draws, ReservedDrawsAreTheDrawsMadeInOrder)
{
    // Haplotype 0 is absent from some samples, whose draws take a number again
    // now and then, and present in the others, whose draws the generator jumps.
    Coef_Admixture& c = fill({{{5, {0, 3, 2}}, {4, {2, 2, 0}}, {3, {0, 1, 2}}},
                              {{6, {1, 2, 3}}, {2, {0, 2, 0}}, {40, {0, 30, 10}}}});
    ASSERT_TRUE(c.copy_draws_reservable());
    const auto all_counts = [&] {
        std::vector<int> counts;
        for (int l = 0; l < 2; ++l)
            for (int p = 0; p < 3; ++p)
                for (int count : resampled(l, p))
                    counts.push_back(count);
        return counts;
    };
    for (const unsigned seed : {3u, 2024u}) {
        corvane::srand(seed);
        std::vector<std::vector<int>> drawn;
        for (int replicate = 0; replicate < 3; ++replicate) {
            c.draw_copies(c._freq_hap_boot);
            drawn.push_back(all_counts());
        }
        const std::uint32_t after_draws = corvane::generator::state;
        corvane::srand(seed);
        std::vector<std::uint32_t> starts;
        for (int replicate = 0; replicate < 3; ++replicate)
            starts.push_back(c.reserve_copy_draws());
        EXPECT_EQ(corvane::generator::state, after_draws) << "seed " << seed;
        for (int replicate = 2; replicate >= 0; --replicate) {
            c.draw_copies_from(starts[static_cast<std::size_t>(replicate)], c._freq_hap_boot);
            EXPECT_EQ(all_counts(), drawn[static_cast<std::size_t>(replicate)]) << "replicate " << replicate + 1;
        }
    }
}

TEST_F(Draws, HaplotypeZeroTakesTheNumberZeroAndTheLastPresentHaplotypeOneNumberLess)
{
    // Counts (1, 2, 2), n = 5: 0 and 1 select haplotype 0, 2 and 3 haplotype 1,
    // 4 haplotype 2.
    const std::vector<int> table{0, 0, 1, 1, 2};
    Coef_Admixture& c = fill({{{5, {1, 2, 2}}, {2, {2, 0, 0}}, {2, {0, 0, 2}}}}, 1);
    corvane::srand(77);
    const std::vector<int> numbers = next_numbers(50);
    corvane::srand(77);
    c.bootstrap_pops();
    EXPECT_EQ(resampled(0, 0), counts_from_table(numbers, 5, table, 3).first);
}

TEST_F(Draws, ASingleHaplotypeAlwaysYieldsTheWholeSample)
{
    Coef_Admixture& c = fill({{{4, {0, 0, 4}}, {3, {3, 0, 0}}, {2, {0, 2, 0}}},
                              {{1, {1, 0}}, {6, {0, 6}}, {2, {2, 0}}}},
                             1);
    for (unsigned seed : {0u, 1u, 99u, 4294967295u}) {
        corvane::srand(seed);
        for (int replicate = 0; replicate < 5; ++replicate) {
            c.bootstrap_pops();
            EXPECT_EQ(resampled(0, 0), (std::vector<int>{0, 0, 4})) << "seed " << seed;
            EXPECT_EQ(resampled(0, 1), (std::vector<int>{3, 0, 0}));
            EXPECT_EQ(resampled(0, 2), (std::vector<int>{0, 2, 0}));
            EXPECT_EQ(resampled(1, 0), (std::vector<int>{1, 0}));
            EXPECT_EQ(resampled(1, 1), (std::vector<int>{0, 6}));
            EXPECT_EQ(resampled(1, 2), (std::vector<int>{2, 0}));
        }
    }
    EXPECT_EQ(_console.str(), "") << "consistent data never reach the guard";
}

TEST_F(Draws, ASampleOfOneWithoutHaplotypeZeroEndsOnThePresentHaplotype)
{
    // n = 1: every random number is 0, which cannot select an absent haplotype
    // 0 and would be drawn again for ever.
    Coef_Admixture& c = fill({{{1, {0, 0, 1, 0}}, {2, {2, 0, 0, 0}}, {2, {2, 0, 0, 0}}}}, 1);
    corvane::srand(5);
    const std::vector<int> numbers = next_numbers(10);
    corvane::srand(5);
    c.bootstrap_pops();
    EXPECT_EQ(resampled(0, 0), (std::vector<int>{0, 0, 1, 0}));
    EXPECT_EQ(corvane::rand(), numbers[1 + 2 + 2]) << "one number for the sample of one";
    EXPECT_EQ(_console.str(), "");
}

TEST_F(Draws, ASampleSmallerThanItsCountsDrawsOnlyTheFirstNumbers)
{
    // Counts (5, 5) with n = 5: random numbers 0 to 4 all fall within haplotype 0.
    Coef_Admixture& c = fill({{{5, {5, 5}}, {2, {1, 1}}, {2, {2, 0}}}}, 1);
    for (unsigned seed : {3u, 2024u}) {
        corvane::srand(seed);
        for (int replicate = 0; replicate < 4; ++replicate) {
            c.bootstrap_pops();
            EXPECT_EQ(resampled(0, 0), (std::vector<int>{5, 0}));
            EXPECT_EQ(resampled(0, 1), (std::vector<int>{2, 0})) << "(1, 1), n = 2: 0 and 1 both select 0";
        }
    }
}

TEST_F(Draws, SamplesOf32768OrMoreReachEveryCopy)
{
    // n = 60000, haplotype 0 holding 24000 copies (40 %) and haplotype 1 36000.
    // One generator output reaches at most 32767 and would give haplotype 0 to
    // 73 % of the draws. Each number is (first output x 32768 + second) mod n,
    // worked out here from the generator's outputs; 0 and 1 to 24000 select
    // haplotype 0.
    Coef_Admixture& c = fill({{{60000, {24000, 36000}}, {2, {2, 0}}, {2, {0, 2}}}}, 1);
    for (unsigned seed : {5u, 6u}) {
        corvane::srand(seed);
        const std::vector<int> numbers = next_numbers(120000);
        int haplotype_0 = 0;
        for (int draw = 0; draw < 60000; ++draw)
            haplotype_0 += (numbers[2 * draw] * 32768 + numbers[2 * draw + 1]) % 60000 <= 24000 ? 1 : 0;
        corvane::srand(seed);
        c.bootstrap_pops();
        EXPECT_EQ(resampled(0, 0), (std::vector<int>{haplotype_0, 60000 - haplotype_0}));
        // Sampling error: the binomial standard deviation is 120 copies.
        EXPECT_NEAR(haplotype_0, 24000, 6 * 120);
    }
}

// The loci of a locus-bootstrap replicate are drawn evenly. With 20000 loci one
// output modulo 20000 would give the loci below 12768 two outputs each and the
// others one: 78 % of the draws would land below 12768 instead of 64 %.
TEST(EvenDraws, EveryLocusIsReachedEquallyOften)
{
    corvane::srand(2024);
    const int draws = 200000;
    int below = 0;
    int top = 0;
    for (int draw = 0; draw < draws; ++draw) {
        const std::int64_t locus = even_random_below(20000);
        ASSERT_GE(locus, 0);
        ASSERT_LT(locus, 20000);
        below += locus < 12768 ? 1 : 0;
        top += locus == 19999 ? 1 : 0;
    }
    // Binomial standard deviations: about 215 draws below 12768, 3.2 at the top.
    EXPECT_NEAR(below, draws / 20000 * 12768, 6 * 215);
    EXPECT_GT(top, 0);
    // A fair part that is a whole multiple of n: 4 loci take the outputs as they come.
    corvane::srand(11);
    const std::vector<int> numbers = next_numbers(4);
    corvane::srand(11);
    for (int number : numbers)
        EXPECT_EQ(even_random_below(4), number % 4);
}

TEST_F(Draws, LargeSamplesFollowTheSameMappingAsSmallOnes)
{
    // Counts (0, 3000, 2000), n = 5000: above the sizes whose numbers are
    // tabled, the draw bisects the running totals, with the same rule: 0 is drawn
    // again, 1 to 3000 select haplotype 1 and 3001 to 4999 haplotype 2.
    std::vector<int> table(5000, 2);
    table[0] = -1;
    for (int r = 1; r <= 3000; ++r)
        table[r] = 1;
    Coef_Admixture& c = fill({{{5000, {0, 3000, 2000}}, {2, {2, 0, 0}}, {2, {0, 0, 2}}}}, 1);
    corvane::srand(77);
    const std::vector<int> numbers = next_numbers(6000);
    const auto [want, used] = counts_from_table(numbers, 5000, table, 3);
    corvane::srand(77);
    c.bootstrap_pops();
    EXPECT_EQ(resampled(0, 0), want);
    EXPECT_GT(used, 5000) << "the seed must make some 0 be drawn again";
}

TEST_F(Draws, EveryReplicateStartsFromZeroAndLeavesTheObservedCountsAlone)
{
    Coef_Admixture& c = fill({{{6, {1, 2, 3}}, {4, {2, 2, 0}}, {5, {0, 1, 4}}},
                              {{3, {3, 0}}, {4, {1, 3}}, {2, {1, 1}}}},
                             1);
    corvane::srand(8);
    for (int replicate = 0; replicate < 10; ++replicate) {
        c.bootstrap_pops();
        for (int l = 0; l < 2; ++l)
            for (int p = 0; p <= 2; ++p) {
                int total = 0;
                for (int copies : resampled(l, p))
                    total += copies;
                EXPECT_EQ(total, c._sample_sizes[l][p]) << "locus " << l << " population " << p;
            }
    }
    EXPECT_EQ(std::vector<int>(c._freq_haplotypes[0][2], c._freq_haplotypes[0][2] + 3),
              (std::vector<int>{0, 1, 4}));
    EXPECT_EQ(std::vector<int>(c._freq_haplotypes[1][0], c._freq_haplotypes[1][0] + 2), (std::vector<int>{3, 0}));
}

TEST_F(Draws, EachReplicateIsLoggedAfterItsDraws)
{
    Coef_Admixture& c = fill({{{2, {0, 2}}, {3, {3, 0}}, {0, {0, 0}}}, {{1, {1}}, {2, {2}}, {2, {2}}}}, 1);
    corvane::srand(1);
    c.bootstrap_pops();
    c.bootstrap_pops();
    c.log_file.flush();
    const std::string block = "-----\n"
                              "Bootstrapped frequencies:\n"
                              "Locus 0:\n"
                              "Population 0: 0 2 \n"
                              "Population 1: 3 0 \n"
                              "Population 2: 0 0 \n"
                              "Locus 1:\n"
                              "Population 0: 1 \n"
                              "Population 1: 2 \n"
                              "Population 2: 2 \n";
    EXPECT_EQ(file_contents("log_file_admix.txt"), block + block);
}

// ---------------------------------------------------------------------------
// Means and standard deviations

using Summary = Sample;

TEST_F(Summary, OneReplicateIsItsOwnMeanWithNoSpread)
{
    Coef_Admixture& c = fill({}, 1);
    c._admixture_coef_boot[0][0] = 0.3f;
    c._admixture_coef_boot[0][1] = 0.7f;
    c.compute_mean_sd_bootstrap();
    EXPECT_EQ(c._admix_coef_mean_boot[0], 0.3f);
    EXPECT_EQ(c._admix_coef_mean_boot[1], 0.7f);
    EXPECT_EQ(c._admix_coef_sd_boot[0], 0.0f);
    EXPECT_EQ(c._admix_coef_sd_boot[1], 0.0f);
}

TEST_F(Summary, TwoReplicatesGiveTheSampleStandardDeviation)
{
    Coef_Admixture& c = fill({}, 2);
    c._admixture_coef_boot[0][0] = 0.2f;
    c._admixture_coef_boot[1][0] = 0.4f;
    c._admixture_coef_boot[0][1] = 0.8f;
    c._admixture_coef_boot[1][1] = 0.6f;
    c.compute_mean_sd_bootstrap();
    EXPECT_EQ(format_real(c._admix_coef_mean_boot[0]), "0.3");
    EXPECT_EQ(format_real(c._admix_coef_mean_boot[1]), "0.7");
    // The square root of 0.02 (divisor B - 1 = 1); the divisor B would give 0.1.
    EXPECT_EQ(format_real(c._admix_coef_sd_boot[0]), "0.141421");
    EXPECT_EQ(format_real(c._admix_coef_sd_boot[1]), "0.141421");
}

TEST_F(Summary, SumsAreKeptInExtendedPrecision)
{
    // 16777216 + 1 + 1: a single-precision running sum would lose both ones
    // (mean 5592405.5); the extended sum is 16777218, mean 5592406 exactly.
    // Deviations 11184810, -5592405, -5592405: sqrt(187649962104150 / 2) is
    // 9686329.6, stored as 9686330.
    Coef_Admixture& c = fill({}, 3);
    const float values[] = {16777216.0f, 1.0f, 1.0f};
    for (int b = 0; b < 3; ++b) {
        c._admixture_coef_boot[b][0] = values[b];
        c._admixture_coef_boot[b][1] = 0.25f;
    }
    c.compute_mean_sd_bootstrap();
    EXPECT_EQ(c._admix_coef_mean_boot[0], 5592406.0f);
    EXPECT_EQ(c._admix_coef_sd_boot[0], 9686330.0f);
    EXPECT_EQ(c._admix_coef_mean_boot[1], 0.25f);
    EXPECT_EQ(c._admix_coef_sd_boot[1], 0.0f);
}

// ---------------------------------------------------------------------------
// Data that cannot be resampled

using Possible = InScratchFolder;

struct Refusal {
    const char* situation;
    std::vector<int> sizes;    // hybrid, parental 1, parental 2
    bool accepted;
    std::vector<std::string> message_parts;
};

TEST_F(Possible, SampleSizesMustAllowEveryReplicate)
{
    // Counts at locus 1: hybrid (2, 1), parental 1 (3, 0), parental 2 (1, 3).
    const std::vector<Refusal> situations = {
        {"sizes equal to the sums", {3, 3, 4}, true, {}},
        {"sizes below the sums", {1, 2, 2}, true, {}},
        {"a size above the sum", {3, 4, 4}, false,
         {"locus 1", "population 1", "is 4", "larger than the sum of its counts, 3"}},
        {"a parental size of 1", {3, 3, 1}, false, {"locus 1", "population 2", "is 1", "at least 2", "sum to 4"}},
        {"a parental size of 0", {3, 0, 4}, false, {"locus 1", "population 1", "is 0", "at least 2"}},
        {"a hybrid size of 0", {0, 3, 4}, false, {"locus 1", "population 0 (the hybrid)", "is 0", "at least 1"}},
    };
    for (const Refusal& situation : situations) {
        std::istringstream typed("");
        ConsoleInput in(typed);
        std::ostringstream console;
        Coef_Admixture c(in, console);
        c._nb_parent_pops = 2;
        c._nb_loci = 2;
        c.allocate_space({2, 2});
        const int counts[2][3][2] = {{{2, 2}, {2, 0}, {0, 2}}, {{2, 1}, {3, 0}, {1, 3}}};
        const int sizes0[3] = {4, 2, 2};
        for (int l = 0; l < 2; ++l) {
            for (int p = 0; p < 3; ++p) {
                c._sample_sizes[l][p] = l == 0 ? sizes0[p] : situation.sizes[p];
                for (int h = 0; h < 2; ++h)
                    c._freq_haplotypes[l][p][h] = counts[l][p][h];
            }
        }
        c._nb_bootstrap = 10;
        EXPECT_EQ(c.check_bootstrap_possible(), situation.accepted ? 1 : 0) << situation.situation;
        for (const std::string& part : situation.message_parts)
            EXPECT_NE(c.error_message().find(part), std::string::npos)
                << situation.situation << ": \"" << part << "\" missing from " << c.error_message();
        c.de_allocate_space();
    }
}

// The quantiles of the command line's table, type 7: h = (n - 1) p between the
// order statistics x[floor(h)] and x[floor(h) + 1].
TEST(Quantiles, InterpolateBetweenTheNeighbouringOrderStatistics)
{
    // Unsorted on purpose. Sorted: 1, 2, 4, 8. p = 0.025: h = 0.075, 1 + 0.075 x 1.
    // p = 0.975: h = 2.925, 4 + 0.925 x 4 = 7.7. p = 0.5: h = 1.5, 2 + 0.5 x 2 = 3.
    const std::vector<double> values = {8, 1, 4, 2};
    EXPECT_DOUBLE_EQ(quantile_type7(values, 0.025), 1.075);
    EXPECT_DOUBLE_EQ(quantile_type7(values, 0.975), 7.7);
    EXPECT_DOUBLE_EQ(quantile_type7(values, 0.5), 3.0);
    EXPECT_DOUBLE_EQ(quantile_type7(values, 1.0), 8.0);
    EXPECT_DOUBLE_EQ(quantile_type7({-0.5}, 0.025), -0.5);
    EXPECT_TRUE(std::isnan(quantile_type7({}, 0.5)));
}

// ---------------------------------------------------------------------------
// Whole runs

using WholeRun = InScratchFolder;

const char* const two_loci_data = "10 0.001\n2 2\n"
                                  "A 2\n0\n1.5 0\n"
                                  "B 3\n0\n1 0\n0.3 0.7 0\n"
                                  "A\n4 3 4\n2 3 1\n2 0 3\n"
                                  "B\n2 2 3\n0 2 0\n1 0 1\n1 0 2\n";

std::map<std::string, std::string> run_with_seed(const std::string& seed)
{
    std::ofstream("two_loci.txt") << two_loci_data;
    std::istringstream typed("two_loci.txt\ny\ny\n12\n" + seed + "\nq\n");
    std::ostringstream console;
    std::map<std::string, std::string> files;
    files["status"] = std::to_string(run_corvane(typed, console));
    files["stdout"] = console.str();
    for (const char* name : {"bootstrap.txt", "result_admix.txt", "log_file_admix.txt"})
        files[name] = file_contents(name);
    return files;
}

TEST_F(WholeRun, TheSameSeedGivesTheSameFilesEveryTime)
{
    const auto first = run_with_seed("2024");
    const auto second = run_with_seed("2024");
    const auto other = run_with_seed("2025");
    ASSERT_EQ(first.at("status"), "1");
    EXPECT_NE(first.at("stdout").find("Bootstrap # 10/12\n"), std::string::npos);
    EXPECT_EQ(first.at("bootstrap.txt").rfind("Bootstrap values\n1\tmY1\t0.187977\tmY2\t0.812023\t\n", 0), 0u);
    for (const char* name : {"status", "stdout", "bootstrap.txt", "result_admix.txt", "log_file_admix.txt"})
        EXPECT_EQ(first.at(name), second.at(name)) << name;
    EXPECT_NE(first.at("bootstrap.txt"), other.at("bootstrap.txt"));
    EXPECT_NE(first.at("log_file_admix.txt"), other.at("log_file_admix.txt"));
}

// The data file cut into its sections, token by token: the header (time, rate,
// P, L), then per locus its distance section and its count section.
struct DataFileSections {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> distances, counts;
};

DataFileSections sections_of(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;)
        tokens.push_back(token);
    DataFileSections file{{tokens.begin(), tokens.begin() + 4}, {}, {}};
    const int populations = std::stoi(tokens[2]) + 1, loci = std::stoi(tokens[3]);
    std::size_t at = 4;
    std::vector<int> haplotypes;
    auto take = [&](std::size_t length) {
        at += length;
        return std::vector<std::string>(tokens.begin() + (at - length), tokens.begin() + at);
    };
    for (int l = 0; l < loci; ++l) {
        haplotypes.push_back(std::stoi(tokens[at + 1]));
        file.distances.push_back(take(2 + haplotypes[l] * (haplotypes[l] + 1) / 2));
    }
    for (int l = 0; l < loci; ++l)
        file.counts.push_back(take(1 + populations * (1 + haplotypes[l])));
    return file;
}

// Blocks of a log, each the text after a line "-----".
std::vector<std::string> log_blocks(const std::string& log)
{
    std::vector<std::string> blocks;
    for (std::size_t at = 0; (at = log.find("-----\n", at)) != std::string::npos; at += 6)
        blocks.push_back(log.substr(at + 6, log.find("-----\n", at + 6) - at - 6));
    return blocks;
}

std::uint32_t bits_of(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

RunOutcome run_in(const std::string& answers, const std::string& folder, Resampling resampling)
{
    std::filesystem::create_directories(folder);
    std::istringstream typed(answers);
    std::ostringstream console;
    ConsoleInput in(typed);
    ConsoleDialogue dialogue(in, console);
    RunSettings settings;
    settings.output_folder = folder;
    settings.resampling = resampling;
    return run_estimate(dialogue, settings);
}

// Each locus-bootstrap replicate equals, to the last bit, the plain estimate of
// a data file holding the loci its log block lists, in that order, cut from the
// data file's own text; its times and equations are logged as that run logs
// them (with the pair sums of the last locus drawn).
TEST_F(WholeRun, ALocusReplicateIsThePlainEstimateOfTheLociItDrew)
{
    const std::string data = file_contents(CORVANE_EXAMPLES_DIR "/four_loci_three_parents.txt");
    std::ofstream("four.txt") << data;
    const RunOutcome loci = run_in("four.txt\ny\ny\n8\n11\nq\n", "loci", Resampling::loci);
    ASSERT_EQ(loci.status, 1);
    const std::vector<std::string> blocks = log_blocks(file_contents("loci/log_file_admix.txt"));
    const DataFileSections file = sections_of(data);
    int replicate = 0;
    std::set<std::string> orders;
    for (std::size_t b = 0; b + 2 < blocks.size(); ++b) {
        if (blocks[b].rfind("Bootstrapped loci:\n", 0) != 0)
            continue;
        std::istringstream drawn(blocks[b].substr(19));
        std::ostringstream cut;
        std::vector<int> order;
        for (const std::string& token : file.header)
            cut << token << "\n";
        for (int locus; drawn >> locus;)
            order.push_back(locus);
        for (const auto* section : {&file.distances, &file.counts})
            for (const int locus : order)
                for (const std::string& token : (*section)[locus])
                    cut << token << "\n";
        orders.insert(blocks[b]);
        const std::string name = "replicate" + std::to_string(replicate);
        std::ofstream(name + ".txt") << cut.str();
        const RunOutcome plain = run_in(name + ".txt\ny\nn\nx\n", name, Resampling::copies);
        ASSERT_EQ(plain.status, 1);
        for (std::size_t p = 0; p < plain.estimates.size(); ++p)
            EXPECT_EQ(bits_of(plain.estimates[p]), bits_of(loci.replicate_estimates.at(replicate * plain.estimates.size() + p))) << name;
        const std::vector<std::string> plain_blocks = log_blocks(file_contents(name + "/log_file_admix.txt"));
        EXPECT_EQ(plain_blocks.at(1), blocks[b + 1]) << name << ": times";
        EXPECT_EQ(plain_blocks.at(2), blocks[b + 2]) << name << ": equations";
        ++replicate;
    }
    EXPECT_EQ(replicate, 8);
    EXPECT_GT(orders.size(), 4u);  // the replicates drew different loci
}

}  // namespace
