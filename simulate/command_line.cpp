#include "command_line.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>
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
per lineage. Under infinite sites (--mutation sites) a haplotype is a distinct
sequence, a distance the number of sites at which two haplotypes differ; under
the stepwise model (--mutation smm) each mutation adds or removes one repeat
with equal chance, and a distance is the squared difference of two repeat
numbers (corvane-prepare --distance repeats2). Loci are independent, each with
its own genealogy.

Expected distances between two copies, under either mutation model: theta
within a parental population, theta (1 + tau) between two of them,
theta [m_k (1 + t) + (1 - m_k)(1 + tau)] between the hybrid and parental
population k.

With references: --tree gives the populations' history as a Newick tree in
place of the star above, e.g.
  --tree "((A:0.5,B:0.5):0.7,(C:0.2,D:0.2):1);" --admixture A:0.3,C:0.7 --hybrid H
Every leaf is a sampled population, every inner node the population its
children merge into at its height; the root's population reaches back without
end. The tree must be ultrametric (the leaves' depths below the root may
differ by 1e-6 of the largest). The hybrid H takes its lineages from the
sources named in --admixture at t, which must not be older than the height
where a source joins its ancestor. The data file holds H, then every leaf in
the tree's order as a candidate parental population (proportion 0 unless a
source), with a key file naming them beside it (data.txt: data.haplotypes.tsv;
--key to choose). Two leaves whose lineages first meet at height h are
theta (1 + h) apart, the hybrid and leaf l theta sum_k m_k (1 + h_kl), with t
for h_ll. The star is the tree with one inner node, at tau.

The data file's first line is T = t and mu = theta/2, so that the estimator's
correction 2*T*mu equals theta*t: the extra distance that the time since the
admixture adds between a hybrid copy and a copy of the parental population its
lineage joined.

On success the true proportions go to standard error, one line:
  True admixture proportions (seed 7): mY1 = 0.3, mY2 = 0.7
  True admixture proportions (seed 7): A = 0.3, B = 0, C = 0.7, D = 0
(the second with --tree). The same options and seed give the same data file
on every machine. -o FILE is written under a temporary name beside FILE and
renamed when whole, so an existing FILE is kept when the write fails.

Exit status: 0 done; 1 the data cannot be written (a locus with more than 1000
distinct haplotypes, a data set larger than the machine's memory, a file that
cannot be written); 2 a usage error.

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
    std::string tree;
    std::string admixture;
    std::string hybrid = "hybrid";
    std::string mutation = "sites";
    std::string key;
    bool parents_given = false;
    bool mix_given = false;
    bool split_given = false;
    bool output_given = false;
    bool tree_given = false;
    bool admixture_given = false;
    bool hybrid_given = false;
    bool key_given = false;
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

// The name of sampled population p (1-based) in messages: the star's are
// numbered, the tree's named.
std::string population_text(const Scenario& s, bool named, std::size_t p)
{
    if (p == 0)
        return "the hybrid sample";
    return named ? "population " + s.tree.leaf(p - 1).name : "parental population " + std::to_string(p);
}

std::vector<std::int64_t> copies_of(const std::string& typed, const Scenario& s, bool named)
{
    const std::size_t parents = s.tree.leaves.size();
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
        const std::string population = population_text(s, named, p);
        require(copies[p] >= (p == 0 ? 1 : 2), "--copies", typed,
                population + " needs at least " + (p == 0 ? "1 copy" : "2 copies") + ", found " +
                    std::to_string(copies[p]));
        require(copies[p] <= max_copies_per_locus - total, "--copies", typed,
                "a locus holds at most " + std::to_string(max_copies_per_locus) + " copies in all");
        total += copies[p];
    }
    return copies;
}

// The star model: --parents or --mix, and --split.
void check_star(const Typed& typed, Scenario& s)
{
    s.mix = mix_of(typed);
    const double split_time = decimal("--split", typed.split);
    require(split_time > 0, "--split", typed.split, "the split time must be greater than 0");
    s.tree = star_tree(s.mix.size(), split_time);
    s.admixture_time = decimal("--admixture-time", typed.admixture_time);
    require(s.admixture_time >= 0 && s.admixture_time <= split_time, "--admixture-time", typed.admixture_time,
            "the admixture time lies between 0 and the split time, " + typed.split);
}

// The leaf of the tree that `name` names, or a UsageError.
std::size_t leaf_named(const PopulationTree& tree, const std::string& name, const std::string& typed)
{
    for (std::size_t k = 0; k < tree.leaves.size(); ++k)
        if (tree.leaf(k).name == name)
            return k;
    std::string names;
    for (std::size_t k = 0; k < tree.leaves.size(); ++k)
        names += (k ? ", " : "") + tree.leaf(k).name;
    throw UsageError("--admixture " + typed + ": the tree has no population " + quoted(name) + "; it has " + names);
}

// --admixture NAME:m,NAME:m,...: the sources' proportions, every other leaf's
// 0; `named` marks the sources.
std::vector<double> sources_of(const std::string& typed, const PopulationTree& tree, std::vector<bool>& named)
{
    std::vector<double> mix(tree.leaves.size(), 0);
    named.assign(tree.leaves.size(), false);
    double sum = 0;
    for (const std::string& part : comma_separated(typed)) {
        const std::size_t colon = part.rfind(':');
        require(colon != std::string::npos, "--admixture", typed,
                "each source is NAME:proportion, found " + quoted(part));
        const std::size_t k = leaf_named(tree, part.substr(0, colon), typed);
        require(!named[k], "--admixture", typed, "the source " + tree.leaf(k).name + " is named twice");
        named[k] = true;
        mix[k] = decimal("--admixture", part.substr(colon + 1));
        require(mix[k] >= 0 && mix[k] <= 1, "--admixture", typed,
                "every proportion lies between 0 and 1, found " + quoted(part));
        sum += mix[k];
    }
    require(std::fabs(sum - 1) <= mix_sum_tolerance, "--admixture", typed,
            "the proportions sum to " + six_digits(sum) + ", not to 1");
    return mix;
}

// The tree model: --tree, --admixture and --hybrid. A source must still be
// apart from its sister populations when the pulse comes.
void check_tree(const Typed& typed, Scenario& s)
{
    for (const auto& [given, option] : {std::pair{typed.parents_given, "--parents"},
                                        std::pair{typed.mix_given, "--mix"}, std::pair{typed.split_given, "--split"}})
        if (given)
            throw UsageError(std::string(option) + " is for the star model; with --tree the tree gives the "
                             "populations and --admixture the sources");
    if (!typed.admixture_given)
        throw UsageError("--tree needs --admixture, the sources among its leaves and their proportions, "
                         "e.g. --admixture A:0.3,C:0.7");
    try {
        s.tree = parse_newick(typed.tree);
    } catch (const NewickError& error) {
        throw UsageError("--tree " + quoted(typed.tree) + ": " + error.what());
    }
    std::vector<bool> sources;
    s.mix = sources_of(typed.admixture, s.tree, sources);
    require(is_population_name(typed.hybrid), "--hybrid", quoted(typed.hybrid),
            "a name is letters, digits, '_', '.' and '-'");
    for (std::size_t k = 0; k < s.tree.leaves.size(); ++k)
        require(s.tree.leaf(k).name != typed.hybrid, "--hybrid", typed.hybrid,
                "the tree has a population of that name; the hybrid population is a new one, named with --hybrid");
    s.hybrid = typed.hybrid;
    s.admixture_time = decimal("--admixture-time", typed.admixture_time);
    require(s.admixture_time >= 0, "--admixture-time", typed.admixture_time, "the admixture time is at least 0");
    for (std::size_t k = 0; k < sources.size(); ++k) {
        const double joins = s.tree.nodes[s.tree.leaf(k).parent].height;
        require(!sources[k] || s.admixture_time <= joins, "--admixture-time", typed.admixture_time,
                "the source " + s.tree.leaf(k).name + " joins its ancestor " + six_digits(joins) +
                    " ago; the pulse comes at that time or more recently");
    }
}

Mutation mutation_of(const std::string& typed)
{
    if (typed == "sites")
        return Mutation::infinite_sites;
    if (typed == "smm")
        return Mutation::stepwise;
    throw UsageError("--mutation: expected sites or smm, found " + quoted(typed));
}

Request checked(const Typed& typed)
{
    Request request;
    Scenario& s = request.scenario;
    require(typed.tree_given || !typed.admixture_given, "--admixture", typed.admixture,
            "the sources are leaves of a --tree, which is missing");
    require(typed.tree_given || !typed.hybrid_given, "--hybrid", typed.hybrid,
            "names the hybrid population of a --tree, which is missing");
    request.named_populations = typed.tree_given;
    if (typed.tree_given)
        check_tree(typed, s);
    else
        check_star(typed, s);
    s.mutation = mutation_of(typed.mutation);
    s.theta = decimal("--theta", typed.theta);
    require(s.theta > 0, "--theta", typed.theta, "the mutation parameter must be greater than 0");
    const double deepest = s.tree.root().height;
    const char* const tau = typed.tree_given ? "the root's height" : "tau";
    require(s.theta * (1 + deepest) <= max_parental_distance, "--theta", typed.theta,
            std::string("theta (1 + ") + tau + "), the expected distance between copies of two " +
                (typed.tree_given ? "populations split at the root" : "parental populations") + ", is " +
                six_digits(s.theta * (1 + deepest)) + "; at most " + six_digits(max_parental_distance) +
                " differing sites are simulated");
    s.copies = copies_of(typed.copies, s, typed.tree_given);
    s.loci = whole("--loci", typed.loci);
    require(s.loci >= 1 && s.loci <= std::numeric_limits<std::int32_t>::max(), "--loci", typed.loci,
            "the number of loci lies between 1 and 2147483647");
    s.seed = number<std::uint64_t>("--seed", typed.seed, "a whole number from 0 to 18446744073709551615");
    require(!typed.output_given || !typed.output.empty(), "-o", quoted(typed.output), "a file name is needed");
    request.output_path = typed.output;
    require(!typed.key_given || !typed.key.empty(), "--key", quoted(typed.key), "a file name is needed");
    request.key_path = typed.key_given ? typed.key
                       : typed.tree_given && !typed.output.empty() ? dataset::key_file_beside(typed.output)
                                                                    : std::string();
    require(request.key_path.empty() || request.key_path != request.output_path, "--key", typed.key,
            "the data file and the key file are both " + quoted(typed.output) + "; choose another --key");
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
    app.add_option("--tree", typed.tree,
                   "the populations' history as an ultrametric Newick tree, named leaves, branch lengths in units "
                   "of 2N generations, e.g. \"((A:0.5,B:0.5):0.5,C:1);\" (instead of --parents, --mix, --split)")
        ->option_text("NEWICK");
    app.add_option("--admixture", typed.admixture,
                   "with --tree: the sources among the leaves and their proportions, summing to 1")
        ->option_text("A:m,C:m,...");
    app.add_option("--hybrid", typed.hybrid, "with --tree: the hybrid population's name (default hybrid)")
        ->option_text("H");
    app.add_option("--mutation", typed.mutation,
                   "sites (infinite sites; distance = differing sites) or smm (stepwise, one repeat per mutation; "
                   "distance = squared repeat difference) (default sites)")
        ->option_text("sites|smm");
    app.add_option("-o", typed.output, "data file to write (default: standard output)")->option_text("FILE");
    app.add_option("--key", typed.key,
                   "key file naming the populations and haplotypes (default with --tree and -o: beside the data "
                   "file, its name ending .haplotypes.tsv; otherwise none)")
        ->option_text("FILE");
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
    typed.split_given = app.count("--split") > 0;
    typed.output_given = app.count("-o") > 0;
    typed.tree_given = app.count("--tree") > 0;
    typed.admixture_given = app.count("--admixture") > 0;
    typed.hybrid_given = app.count("--hybrid") > 0;
    typed.key_given = app.count("--key") > 0;
    return checked(typed);
}

}  // namespace simulate
