#ifndef CORVANE_TEST_ENGINE_FIXTURE_H
#define CORVANE_TEST_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "COEF_ADMIX.h"

// One locus of hand-made data: the distance matrix (full square, symmetric) and
// the counts, one row per population, hybrid first.
struct LocusData {
    std::vector<std::vector<float>> distances;
    std::vector<std::vector<int>> counts;
};

// Runs each test in a fresh temporary folder, since the record opens its log in
// the working folder, and gives it a record that talks to string streams.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _previous = std::filesystem::current_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        _folder = std::filesystem::temp_directory_path() /
                  ("corvane_unit_" + std::string(info->test_suite_name()) + "_" + info->name());
        std::filesystem::remove_all(_folder);
        std::filesystem::create_directories(_folder);
        std::filesystem::current_path(_folder);
        _console = std::make_unique<ConsoleInput>(typed);
        record = std::make_unique<Coef_Admixture>(*_console, printed);
    }

    void TearDown() override
    {
        if (record) {
            record->de_allocate_space_for_bootstrap(record->_nb_bootstrap);
            record->de_allocate_space();
            record.reset();
        }
        std::filesystem::current_path(_previous);
        std::filesystem::remove_all(_folder);
    }

    // Fills the record as the data file reader would.
    void load(float time_since_admixture, float mutation_rate, const std::vector<LocusData>& loci)
    {
        Coef_Admixture& c = *record;
        c._time_to_admix_event = time_since_admixture;
        c._mutation_rate_per_year = mutation_rate;
        c._nb_parent_pops = static_cast<int>(loci.at(0).counts.size()) - 1;
        c._nb_loci = static_cast<int>(loci.size());
        std::vector<int> haplotypes_per_locus;
        for (const LocusData& locus : loci)
            haplotypes_per_locus.push_back(static_cast<int>(locus.distances.size()));
        ASSERT_EQ(c.allocate_space(haplotypes_per_locus), 1);
        for (int l = 0; l < c._nb_loci; ++l) {
            const LocusData& locus = loci[l];
            for (std::size_t x = 0; x < locus.distances.size(); ++x)
                for (std::size_t y = 0; y < locus.distances.size(); ++y)
                    c._dist_haplotypes[l][x][y] = locus.distances[x][y];
            for (int p = 0; p <= c._nb_parent_pops; ++p) {
                int size = 0;
                for (std::size_t h = 0; h < locus.counts[p].size(); ++h) {
                    c._freq_haplotypes[l][p][h] = locus.counts[p][h];
                    size += locus.counts[p][h];
                }
                c._sample_sizes[l][p] = size;
            }
        }
    }

    std::vector<std::string> log_lines()
    {
        record->log_file.flush();
        std::ifstream log("log_file_admix.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);)
            lines.push_back(line);
        return lines;
    }

    std::istringstream typed;
    std::ostringstream printed;
    std::unique_ptr<Coef_Admixture> record;

private:
    std::filesystem::path _previous;
    std::filesystem::path _folder;
    std::unique_ptr<ConsoleInput> _console;
};

#endif
