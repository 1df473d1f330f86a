// Parts of corvane-prepare whose faults the end-to-end cases would not show:
// the haplotype order, the distance rules and the refusals of the data set builder.

#include <gtest/gtest.h>

#include <cmath>

#include "build_dataset.h"
#include "errors.h"

namespace prepare {
namespace {

TEST(PrepareHaplotypeOrder, NamesCompareDigitRunsByValue)
{
    EXPECT_TRUE(natural_less("A2", "A10"));
    EXPECT_TRUE(natural_less("98", "100"));
    EXPECT_FALSE(natural_less("100", "98"));
    EXPECT_TRUE(natural_less("H", "H1"));
}

TEST(PrepareHaplotypeOrder, SizesAndRepeatVectorsCompareNumerically)
{
    const Haplotype small{"98", "", {}, {98}}, large{"100", "", {}, {100}};
    EXPECT_TRUE(comes_before(small, large));
    const Haplotype missing{"m", "", {}, {12, std::nan("")}}, typed{"t", "", {}, {12, 30}};
    EXPECT_TRUE(comes_before(typed, missing));
}

TEST(PrepareDistances, OnlySitesWithBasesInBothCountAndFractionalRepeatsAreKept)
{
    const Haplotype a{"a", "ACGTNA-", {}, {}}, b{"b", "ACTTAGC", {}, {}};
    EXPECT_EQ(distance_between(a, b, Payload::sequence, Distance::sites, 1), 2);  // sites 3 and 6
    const Haplotype s{"101", "", {}, {101}}, t{"104", "", {}, {104}};
    EXPECT_EQ(distance_between(s, t, Payload::sizes, Distance::repeats2, 2), 2.25);
    const Haplotype u{"u", "", {}, {12, std::nan(""), 3}}, v{"v", "", {}, {10, 9, 4}};
    EXPECT_EQ(distance_between(u, v, Payload::repeat_numbers, Distance::repeats2, 1), 5);
    const Haplotype x{"x", "", {0, missing_state, 1}, {}}, y{"y", "", {1, 0, 1}, {}};
    EXPECT_EQ(distance_between(x, y, Payload::states, Distance::sites, 1), 1);
}

RawData locus_of_many_haplotypes(std::size_t haplotypes)
{
    RawData raw;
    for (const char* population : {"hyb", "north", "south"})
        raw.population_index(population);
    RawLocus locus;
    locus.name = "D-loop";
    for (std::size_t h = 0; h < haplotypes; ++h)
        locus.add_copies(h % 3, locus.haplotype_index(Haplotype{"h" + std::to_string(h), "", {}, {}}), 2);
    raw.loci.push_back(locus);
    return raw;
}

TEST(PrepareBuilder, RefusesMoreThan1000HaplotypesNamingTheLocus)
{
    Choice choice;
    choice.hybrid = "hyb";
    choice.parents = {"north", "south"};
    EXPECT_EQ(build_dataset(locus_of_many_haplotypes(1000), choice).data.loci[0].haplotypes.size(), 1000u);
    try {
        build_dataset(locus_of_many_haplotypes(1001), choice);
        FAIL() << "1001 haplotypes were accepted";
    } catch (const DataError& error) {
        EXPECT_STREQ(error.what(),
                     "locus \"D-loop\" holds 1001 distinct haplotypes in the chosen populations; the data file "
                     "accepts at most 1000: choose shorter regions (fewer sites per locus) or fewer populations");
    }
    choice.parents = {"north", "east"};  // a population the input does not hold
    EXPECT_THROW(build_dataset(locus_of_many_haplotypes(3), choice), UsageError);
}

}  // namespace
}  // namespace prepare
