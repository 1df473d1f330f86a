// Whole runs on large data files, driven in process, each in a fresh temporary
// working folder: 1000 haplotypes at one locus, 200 loci, and counts next to the
// largest 32-bit value. Under `make check` these run with
// UndefinedBehaviorSanitizer, which stops a test at the first overflow.
//
// The expected lines were worked out with tests/tools/exact_estimate.py from the
// same data (exact fractions, rounded to a 64-bit significand after each
// operation and to single precision where a value is stored), not taken from
// the program.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "run_driver.h"

namespace {

class LargeInputRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        _previous_folder = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-large-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        _folder = pattern;
        std::filesystem::current_path(_folder);
    }

    void TearDown() override
    {
        std::filesystem::current_path(_previous_folder);
        std::filesystem::remove_all(_folder);
    }

    static void write_file(const std::string& name, const std::string& text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }

    static std::string read_file(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The log without its data echo: the block of the coalescence times onwards.
    static std::string log_after_echo()
    {
        const std::string log = read_file("log_file_admix.txt");
        const std::size_t times = log.find("-----\nTime to admix event:");
        return times == std::string::npos ? log : log.substr(times);
    }

    int run(const std::string& console)
    {
        std::istringstream in(console);
        std::ostringstream out;
        const int status = run_corvane(in, out);
        console_output = out.str();
        return status;
    }

    std::string console_output;

private:
    std::filesystem::path _previous_folder;
    std::filesystem::path _folder;
};

const char* const one_locus_report_head = "-----\nAdmixture proportions:\n";

// 1000 haplotypes, the most a locus may hold. Haplotypes j > k lie at distance
// ((j + k) mod 5 + 1) / 2, every haplotype at 0 from itself. The hybrid holds
// h mod 3 copies of haplotype h, parental population 1 two copies of every odd
// haplotype, parental population 2 three copies of every fifth and one of the
// others.
std::string thousand_haplotype_file()
{
    const int n = 1000;
    const char* const distance_text[] = {"0.5", "1", "1.5", "2", "2.5"};
    std::string text = "50 0.0001\n2 1\nmany 1000\n";
    for (int j = 0; j < n; ++j) {
        for (int k = 0; k < j; ++k) {
            text += distance_text[(j + k) % 5];
            text += ' ';
        }
        text += "0\n";
    }
    text += "many\n999 1000 1400\n";
    for (int h = 0; h < n; ++h)
        text += std::to_string(h % 3) + " " + std::to_string(h % 2 * 2) + " " + (h % 5 == 0 ? "3" : "1") + "\n";
    return text;
}

TEST_F(LargeInputRun, ThousandHaplotypesAtOneLocusAreAllReadAndCounted)
{
    write_file("thousand.txt", thousand_haplotype_file());
    ASSERT_EQ(run("thousand.txt y n x"), 1) << console_output;
    EXPECT_EQ(log_after_echo(),
              "-----\n"
              "Time to admix event: 50\n"
              "Hybrid-parental 0: Tot_diff:1.497e+06 Count_diff:999000 Times:1.4985\n"
              "Hybrid-parental 1: Tot_diff:2.096e+06 Count_diff:1.3986e+06 Times:1.49864\n"
              "Parentals 0,0: Tot_diff:748500 Count_diff:499500 Times:1.4985\n"
              "Parentals 0,1: Tot_diff:2.0983e+06 Count_diff:1.4e+06 Times:1.49879\n"
              "Parentals 1,1: Tot_diff:1.38885e+06 Count_diff:979300 Times:1.41821\n"
              "-----\n"
              "Linear equations of admixture coefficients !\n"
              "0.00507571mu1=0.0049685\n");
    // Pair counts by hand: 999 x 1000 between the hybrid and population 1,
    // 1000 x 1400 between the parents, 1000 x 999 / 2 and 1400 x 1399 / 2 within.
    EXPECT_EQ(read_file("result_admix.txt"), std::string(one_locus_report_head) +
                                                 "Contribution of parental population 1: mY1 = 0.978878\n"
                                                 "Contribution of parental population 2: mY2 = 0.0211219\n");
}

// 200 loci of three haplotypes (about 800 MB of distance rows, allocated and
// released in full). The counts change from locus to locus, so the mean over the
// loci is not the value of any one locus.
std::string two_hundred_loci_file()
{
    std::string text = "50 0.0001\n2 200\n";
    for (int l = 0; l < 200; ++l)
        text += "d" + std::to_string(l) + " 3\n0\n1 0\n2 1 0\n";
    for (int l = 0; l < 200; ++l) {
        const int counts[3][3] = {{5 + l % 3, 3, 2}, {2, 6 + l % 4, 4}, {0, 1, 7 + l % 5}};
        text += "c" + std::to_string(l) + "\n";
        for (int p = 0; p < 3; ++p)
            text += std::to_string(counts[p][0] + counts[p][1] + counts[p][2]) + (p < 2 ? " " : "\n");
        for (int h = 0; h < 3; ++h)
            text += std::to_string(counts[0][h]) + " " + std::to_string(counts[1][h]) + " " +
                    std::to_string(counts[2][h]) + "\n";
    }
    return text;
}

TEST_F(LargeInputRun, TwoHundredLociAreAveragedWithEqualWeights)
{
    write_file("loci.txt", two_hundred_loci_file());
    ASSERT_EQ(run("loci.txt y n x"), 1) << console_output;
    // Tot_diff and Count_diff are those of the last locus (l = 199); the times
    // are the means over all 200.
    EXPECT_EQ(log_after_echo(),
              "-----\n"
              "Time to admix event: 50\n"
              "Hybrid-parental 0: Tot_diff:146 Count_diff:165 Times:0.902097\n"
              "Hybrid-parental 1: Tot_diff:173 Count_diff:132 Times:1.29509\n"
              "Parentals 0,0: Tot_diff:70 Count_diff:105 Times:0.725358\n"
              "Parentals 0,1: Tot_diff:149 Count_diff:180 Times:0.80966\n"
              "Parentals 1,1: Tot_diff:11 Count_diff:66 Times:0.204141\n"
              "-----\n"
              "Linear equations of admixture coefficients !\n"
              "0.360162mu1=0.636856\n");
    EXPECT_EQ(read_file("result_admix.txt"), std::string(one_locus_report_head) +
                                                 "Contribution of parental population 1: mY1 = 1.76825\n"
                                                 "Contribution of parental population 2: mY2 = -0.768247\n");
}

// Counts of 2147483647 copies, the largest a count may be. The hybrid and
// parental population 1 both hold a = 2147483647 copies of each haplotype, so
// the weight of their pair of different haplotypes is a * a + a * a =
// 9223372028264841218, less than 8.6e9 below the largest 64-bit integer; far
// beyond 32 bits, a product there would be undefined behaviour. Worked out by
// hand as a check on the exact model: between the hybrid and population 1, 2a^2
// pairs lie at distance 0 and 2a^2 at 0.3, so Count_diff = 4a^2 = 1.84467e+19
// and the time is 0.15; population 2, holding 1 and a copies, has a (a - 1) / 2
// pairs at 0 and a pairs at 0.3 within itself, a mean of 2.79397e-10.
TEST_F(LargeInputRun, CountsAtTheLargestWholeNumberGiveExactPairWeights)
{
    write_file("at_limit.txt",
               "50 0.0001\n2 1\nL1 2\n0\n0.3 0\nL1\n2147483647 2147483647 2147483647\n"
               "2147483647 2147483647 1\n2147483647 2147483647 2147483647\n");
    ASSERT_EQ(run("at_limit.txt y n x"), 1) << console_output;
    EXPECT_EQ(log_after_echo(),
              "-----\n"
              "Time to admix event: 50\n"
              "Hybrid-parental 0: Tot_diff:2.76701e+18 Count_diff:1.84467e+19 Times:0.15\n"
              "Hybrid-parental 1: Tot_diff:1.38351e+18 Count_diff:9.22337e+18 Times:0.15\n"
              "Parentals 0,0: Tot_diff:1.38351e+18 Count_diff:9.22337e+18 Times:0.15\n"
              "Parentals 0,1: Tot_diff:1.38351e+18 Count_diff:9.22337e+18 Times:0.15\n"
              "Parentals 1,1: Tot_diff:6.44245e+08 Count_diff:2.30584e+18 Times:2.79397e-10\n"
              "-----\n"
              "Linear equations of admixture coefficients !\n"
              "0.0197mu1=0.0196\n");
    EXPECT_EQ(read_file("result_admix.txt"), std::string(one_locus_report_head) +
                                                 "Contribution of parental population 1: mY1 = 0.994924\n"
                                                 "Contribution of parental population 2: mY2 = 0.00507611\n");
}

}  // namespace
