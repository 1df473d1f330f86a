#ifndef CORVANE_SIMULATE_COMMAND_LINE_H
#define CORVANE_SIMULATE_COMMAND_LINE_H

// The options of corvane-simulate, read with CLI11 and checked against the
// model: every value is parsed here, so that every refusal names the option and
// the token it found.

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "admixture_model.h"

namespace simulate {

// A command line that asks for something the program cannot do; exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Request {
    Scenario scenario;
    std::string output_path;  // empty: standard output
    std::string key_path;     // empty: no key file
    bool named_populations = false;  // the tree's names rather than the star's numbers
};

// The request, or nothing when --help or --version was answered on `out`.
// Throws UsageError.
std::optional<Request> parse_command_line(int argc, const char* const* argv, std::ostream& out);

// Largest total sample per locus: the genealogy of every copy is held in memory.
constexpr std::int64_t max_copies_per_locus = 1000000;
// Largest theta (1 + tau): every mutation is drawn one by one, so the run time
// grows with the distances, and a million sites is more than any locus has.
constexpr double max_parental_distance = 1e6;
// The distance between the mix's sum and 1 that is put down to rounding.
constexpr double mix_sum_tolerance = 1e-6;

}  // namespace simulate

#endif
