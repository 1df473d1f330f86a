// Parts of corvane-prepare whose faults the end-to-end cases would not show:
// the haplotype order, the distance rules and the refusals of the data set builder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <sstream>

#include "build_dataset.h"
#include "errors.h"
#include "run_prepare.h"

// While this counts down from N, the N-th allocation after it was set fails once,
// so that memory running out can be tried at every point of a run.
static long allocations_until_failure = -1;

void* operator new(std::size_t size)
{
    if (allocations_until_failure >= 0 && allocations_until_failure-- == 0)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (allocations_until_failure >= 0 && allocations_until_failure-- == 0)
        return nullptr;
    return std::malloc(size ? size : 1);
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace prepare {
namespace {

TEST(PrepareRun, MemoryRunningOutAnywhereIsAnErrorThatLeavesNoFile)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("prepare_memory_" + std::to_string(::getpid()));
    const std::string table = std::string(PREPARE_INPUTS) + "/round_trip_sequences.tsv";
    const std::string output = (folder / "data.txt").string();
    const char* const argv[] = {"corvane-prepare", "--table", table.c_str(), "--hybrid", "hyb", "--parents",
                                "north,south", "-o", output.c_str(), "--quiet"};
    bool reached = true;
    int refusals = 0;
    for (long n = 0; reached; n += 3) {
        fs::remove_all(folder);
        fs::create_directory(folder);
        std::ostringstream out, err;
        allocations_until_failure = n;
        const int status = run_prepare(10, argv, out, err);
        reached = allocations_until_failure < 0;
        allocations_until_failure = -1;
        if (status == 0)
            continue;
        ++refusals;
        EXPECT_EQ(status, 1) << "allocation " << n;
        EXPECT_EQ(err.str(), "corvane-prepare: error: not enough memory for the data of these inputs\n");
        EXPECT_TRUE(fs::is_empty(folder)) << "allocation " << n;
    }
    fs::remove_all(folder);
    EXPECT_GT(refusals, 100);
}

TEST(PrepareHaplotypeOrder, NamesCompareDigitRunsByValue)
{
    EXPECT_TRUE(natural_less("A2", "A10"));
    EXPECT_TRUE(natural_less("98", "100"));
    EXPECT_FALSE(natural_less("100", "98"));
    EXPECT_TRUE(natural_less("H", "H1"));
    EXPECT_TRUE(natural_less("01", "2"));
    EXPECT_FALSE(natural_less("2", "01"));
    EXPECT_TRUE(natural_less("07", "7"));  // equal values: byte order
    EXPECT_FALSE(natural_less("7", "07"));
    EXPECT_TRUE(natural_less("x1b", "x2"));  // a run is compared by its digits alone
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
