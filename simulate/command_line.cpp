#include "command_line.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace simulate {

namespace {

const char* const model_description = R"(
The model, with time in units of 2N generations: P parental populations of N
individuals split from one ancestral population tau ago. The hybrid
population, also of size N, was founded t ago (t <= tau): each of its lineages
still separate at t moves to parental population k with probability m_k.
Within each population every pair of lineages coalesces at rate 1; before tau
all lineages are in the ancestral population. Mutations fall at rate theta/2
per lineage under infinite sites: a haplotype is a distinct sequence, a
distance the number of sites at which two haplotypes differ. Loci are
independent, each with its own genealogy.

Expected distances between two copies: theta within a parental population,
theta (1 + tau) between two of them, theta [m_k (1 + t) + (1 - m_k)(1 + tau)]
between the hybrid and parental population k.

The data file's first line is T = t and mu = theta/2, so that the estimator's
correction 2*T*mu equals theta*t: the extra distance that the time since the
admixture adds between a hybrid copy and a copy of the parental population its
lineage joined.

On success the true proportions go to standard error, one line:
  True admixture proportions (seed 7): mY1 = 0.3, mY2 = 0.7
The same options and seed give the same data file on every machine.

Exit status: 0 done; 1 the data cannot be written (a locus with more than 1000
distinct haplotypes, a file that cannot be written); 2 a usage error.

Example:
  corvane-simulate --mix 0.3,0.7 --split 1 --admixture-time 0.2 --theta 4 \
      --copies 20 --loci 100 --seed 7 -o sim.txt
)";

std::string quoted(const std::string& token)
{
    return "\"" + token + "\"";
}

std::string six_digits(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::vector<std::string> comma_separated(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
        parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The whole token as a number of type T, or a UsageError that names the option.
template <typename T>
T number(const std::string& option, const std::string& token, const char* kind)
{
    T value{};
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value);
    bool whole_token = error == std::errc() && stop == end && !token.empty();
    if constexpr (std::is_floating_point_v<T>)
        whole_token = whole_token && std::isfinite(value);
    if (!whole_token)
        throw UsageError(option + ": expected " + kind + ", found " + quoted(token));
    return value;
}

double decimal(const std::string& option, const std::string& token)
{
    return number<double>(option, token, "a decimal number");
}

std::int64_t whole(const std::string& option, const std::string& token)
{
    return number<std::int64_t>(option, token, "a whole number");
}

void require(bool holds, const std::string& option, const std::string& token, const std::string& rule)
{
    if (!holds)
        throw UsageError(option + " " + token + ": " + rule);
}

// The option texts as typed, with the defaults of those left out.
struct Typed {
    std::string parents;
    std::string mix;
    std::string split = "1";
    std::string admixture_time = "0";
    std::string theta = "1";
    std::string copies = "20";
    std::string loci = "10";
    std::string seed = "1";
    std::string output;
    bool parents_given = false;
    bool mix_given = false;
    bool output_given = false;
};

std::vector<double> mix_of(const Typed& typed)
{
    std::vector<double> mix;
    if (!typed.mix_given) {
        const std::int64_t parents = typed.parents_given ? whole("--parents", typed.parents) : 2;
        require(parents >= 2, "--parents", typed.parents, "at least 2 parental populations are needed");
        require(parents <= max_copies_per_locus / 2, "--parents", typed.parents,
                "each parental population needs 2 copies, and a locus holds at most " +
                    std::to_string(max_copies_per_locus));
        return std::vector<double>(parents, 1.0 / parents);
    }
    double sum = 0;
    for (const std::string& part : comma_separated(typed.mix)) {
        mix.push_back(decimal("--mix", part));
        require(mix.back() >= 0 && mix.back() <= 1, "--mix", typed.mix,
                "every proportion lies between 0 and 1, found " + quoted(part));
        sum += mix.back();
    }
    require(mix.size() >= 2, "--mix", typed.mix, "at least 2 parental populations are needed");
    require(std::fabs(sum - 1) <= mix_sum_tolerance, "--mix", typed.mix,
            "the proportions sum to " + six_digits(sum) + ", not to 1");
    if (typed.parents_given)
        require(whole("--parents", typed.parents) == static_cast<std::int64_t>(mix.size()), "--parents",
                typed.parents, "--mix gives " + std::to_string(mix.size()) + " proportions");
    return mix;
}

std::vector<std::int64_t> copies_of(const std::string& typed, std::size_t parents)
{
    std::vector<std::int64_t> copies;
    for (const std::string& part : comma_separated(typed))
        copies.push_back(whole("--copies", part));
    if (copies.size() == 1)
        copies.assign(parents + 1, copies[0]);
    require(copies.size() == parents + 1, "--copies", typed,
            "give one sample size for all populations or " + std::to_string(parents + 1) +
                ", the hybrid's first");
    std::int64_t total = 0;
    for (std::size_t p = 0; p < copies.size(); ++p) {
        const std::string population = p == 0 ? "the hybrid sample" : "parental population " + std::to_string(p);
        require(copies[p] >= (p == 0 ? 1 : 2), "--copies", typed,
                population + " needs at least " + (p == 0 ? "1 copy" : "2 copies") + ", found " +
                    std::to_string(copies[p]));
        require(copies[p] <= max_copies_per_locus - total, "--copies", typed,
                "a locus holds at most " + std::to_string(max_copies_per_locus) + " copies in all");
        total += copies[p];
    }
    return copies;
}

Request checked(const Typed& typed)
{
    Request request;
    Scenario& s = request.scenario;
    s.mix = mix_of(typed);
    s.split_time = decimal("--split", typed.split);
    require(s.split_time > 0, "--split", typed.split, "the split time must be greater than 0");
    s.admixture_time = decimal("--admixture-time", typed.admixture_time);
    require(s.admixture_time >= 0 && s.admixture_time <= s.split_time, "--admixture-time", typed.admixture_time,
            "the admixture time lies between 0 and the split time, " + typed.split);
    s.theta = decimal("--theta", typed.theta);
    require(s.theta > 0, "--theta", typed.theta, "the mutation parameter must be greater than 0");
    require(s.theta * (1 + s.split_time) <= max_parental_distance, "--theta", typed.theta,
            "theta (1 + tau), the expected distance between copies of two parental populations, is " +
                six_digits(s.theta * (1 + s.split_time)) + "; at most " + six_digits(max_parental_distance) +
                " differing sites are simulated");
    s.copies = copies_of(typed.copies, s.mix.size());
    s.loci = whole("--loci", typed.loci);
    require(s.loci >= 1 && s.loci <= std::numeric_limits<std::int32_t>::max(), "--loci", typed.loci,
            "the number of loci lies between 1 and 2147483647");
    s.seed = number<std::uint64_t>("--seed", typed.seed, "a whole number from 0 to 18446744073709551615");
    require(!typed.output_given || !typed.output.empty(), "-o", quoted(typed.output), "a file name is needed");
    request.output_path = typed.output;
    return request;
}

}  // namespace

std::optional<Request> parse_command_line(int argc, const char* const* argv, std::ostream& out)
{
    CLI::App app{"Simulates a data file for corvane with known admixture proportions.", "corvane-simulate"};
    app.footer(model_description);
    app.set_version_flag("--version", std::string("corvane-simulate ") + CORVANE_SIMULATE_VERSION +
                                          "\nrandom numbers: std::mt19937_64 with the program's own transforms"
                                          "\noptions read with CLI11 " CLI11_VERSION);
    Typed typed;
    app.add_option("--parents", typed.parents, "number P of parental populations (default 2, or the count of --mix)")
        ->option_text("P");
    app.add_option("--mix", typed.mix, "admixture proportions m1,...,mP, summing to 1 (default equal)")
        ->option_text("m1,m2,...");
    app.add_option("--split", typed.split, "time tau since the parental populations split (default 1)")
        ->option_text("tau");
    app.add_option("--admixture-time", typed.admixture_time,
                   "time t since the hybrid population was founded, 0 <= t <= tau (default 0)")
        ->option_text("t");
    app.add_option("--theta", typed.theta, "mutation parameter: theta/2 mutations per lineage per unit of T (default 1)")
        ->option_text("theta");
    app.add_option("--copies", typed.copies,
                   "copies sampled per population, or n0,n1,...,nP with the hybrid first (default 20)")
        ->option_text("n");
    app.add_option("--loci", typed.loci, "number L of independent loci (default 10)")->option_text("L");
    app.add_option("--seed", typed.seed, "seed of the random number generator (default 1)")->option_text("S");
    app.add_option("-o", typed.output, "data file to write (default: standard output)")->option_text("FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << '\n';
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    typed.parents_given = app.count("--parents") > 0;
    typed.mix_given = app.count("--mix") > 0;
    typed.output_given = app.count("-o") > 0;
    return checked(typed);
}

}  // namespace simulate
