#ifndef CORVANE_SCAN_OPTIONS_H
#define CORVANE_SCAN_OPTIONS_H

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace scan {

struct Options {
    std::string data_file;
    std::string key_file;                 // empty: the default key beside the data file
    int fewest_sources = 2;               // the model sizes to try
    int most_sources = 2;
    std::vector<std::string> candidates;  // empty: every population but the hybrid
    std::vector<std::string> model;       // one model, sources in this order
    int replicates = 0;
    std::uint32_t seed = 1;
    std::string resample = "loci";
    int threads = 1;
    std::string output_folder;
    bool quiet = false;
};

// The options of the command line (argv[0] excluded); nothing when --help or
// --version was answered on `out`. Throws UsageError.
std::optional<Options> parse_options(const std::vector<std::string>& arguments, std::ostream& out);

}  // namespace scan

#endif
