// The converters' shared writer: the token layout the estimator reads, the key
// file, and the data sets it refuses to write.

#include <gtest/gtest.h>

#include <sstream>

#include "dataset.h"

namespace {

// The data file's example: one locus, two parental populations, three haplotypes.
dataset::DataSet three_haplotype_example()
{
    dataset::DataSet data;
    data.time_since_admixture = 50;
    data.mutation_rate = 0.0001;
    data.populations = {"hybrid", "north", "south"};
    dataset::Locus locus;
    locus.name = "L1";
    locus.haplotypes = {"A", "B", "C"};
    locus.distances = {{0, 1, 2}, {1, 0, 1}, {2, 1, 0}};
    locus.counts = {{5, 3, 2}, {2, 6, 4}, {0, 1, 7}};
    data.loci.push_back(locus);
    return data;
}

TEST(DatasetWriter, WritesTheTokenLayoutWithSampleSizesFromTheCounts)
{
    std::ostringstream out;
    dataset::write_data_file(out, three_haplotype_example());
    EXPECT_EQ(out.str(), "50 0.0001\n2 1\nL1 3\n0\n1 0\n2 1 0\nL1\n10 12 8\n5 2 0\n3 6 1\n2 4 7\n");
}

TEST(DatasetWriter, KeyFileNamesEveryHaplotypeWithItsCounts)
{
    std::ostringstream out;
    dataset::write_key_file(out, three_haplotype_example(), {"made by a test"});
    EXPECT_EQ(out.str(),
              "# made by a test\nlocus\tindex\thaplotype\thybrid\tnorth\tsouth\n"
              "L1\t0\tA\t5\t2\t0\nL1\t1\tB\t3\t6\t1\nL1\t2\tC\t2\t4\t7\n");
}

TEST(DatasetWriter, RealsAndLabelsAreSingleTokens)
{
    EXPECT_EQ(dataset::real_text(0.1), "0.1");
    EXPECT_EQ(dataset::real_text(-3), "-3");
    EXPECT_EQ(dataset::real_text(1.0 / 3), "0.3333333333333333");
    EXPECT_EQ(dataset::label_token("mt DNA\tcontrol", 0), "mt_DNA_control");
    EXPECT_EQ(dataset::label_token("", 4), "locus5");
}

TEST(DatasetWriter, RefusesWhatTheEstimatorCannotRead)
{
    dataset::DataSet data = three_haplotype_example();
    EXPECT_EQ(dataset::problem_with(data), "");
    data.populations.pop_back();
    EXPECT_NE(dataset::problem_with(data).find("at least 2 parental"), std::string::npos);

    data = three_haplotype_example();
    data.loci[0].counts[1][2] = -1;
    EXPECT_NE(dataset::problem_with(data).find("negative"), std::string::npos);

    data = three_haplotype_example();
    data.loci[0].haplotypes.assign(1001, "h");
    EXPECT_NE(dataset::problem_with(data).find("at most 1000"), std::string::npos);

    data = three_haplotype_example();
    data.loci[0].counts[0][0] = 2147483647;
    EXPECT_NE(dataset::problem_with(data).find("2147483647"), std::string::npos);
}

}  // namespace
