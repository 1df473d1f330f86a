#include "admixture_model.h"

#include <limits>
#include <string>

namespace simulate {

namespace {

// The genealogy of one locus. The sampled copies are nodes 0 .. n-1 in sample
// order (hybrid first); every coalescence adds a node, so an ancestor always
// has a larger index than its descendants and the last node is the root.
struct Genealogy {
    std::vector<std::int64_t> parent;
    std::vector<double> time;

    std::int64_t add_node(double at)
    {
        parent.push_back(-1);
        time.push_back(at);
        return static_cast<std::int64_t>(parent.size()) - 1;
    }
    std::int64_t root() const { return static_cast<std::int64_t>(parent.size()) - 1; }
};

// The nodes of the lineages present in one population.
using Lineages = std::vector<std::int64_t>;

std::uint64_t pairs_among(std::size_t lineages)
{
    return lineages < 2 ? 0 : static_cast<std::uint64_t>(lineages) * (lineages - 1) / 2;
}

void merge_random_pair(Lineages& lineages, double at, Genealogy& genealogy, RandomDraws& draws)
{
    const std::uint64_t first = draws.index_below(lineages.size());
    std::uint64_t second = draws.index_below(lineages.size() - 1);
    if (second >= first)
        ++second;
    const std::int64_t ancestor = genealogy.add_node(at);
    genealogy.parent[lineages[first]] = ancestor;
    genealogy.parent[lineages[second]] = ancestor;
    lineages[first] = ancestor;
    lineages[second] = lineages.back();
    lineages.pop_back();
}

// Coalescence within each population from time `from` until `until`: with k_i
// lineages in population i, the next event comes after an exponential time of
// rate sum_i k_i (k_i - 1) / 2 and merges a pair chosen uniformly among all of
// them. An event past `until` is dropped: waiting times have no memory, so the
// next epoch starts afresh.
void coalesce_within(std::vector<Lineages>& populations, double from, double until, Genealogy& genealogy,
                     RandomDraws& draws)
{
    for (double now = from; now < until;) {
        std::uint64_t pairs = 0;
        for (const Lineages& lineages : populations)
            pairs += pairs_among(lineages.size());
        if (pairs == 0)
            return;
        now += draws.exponential() / static_cast<double>(pairs);
        if (now >= until)
            return;
        std::uint64_t pick = draws.index_below(pairs);
        for (Lineages& lineages : populations) {
            if (pick < pairs_among(lineages.size())) {
                merge_random_pair(lineages, now, genealogy, draws);
                break;
            }
            pick -= pairs_among(lineages.size());
        }
    }
}

// The parental population (0-based) that a hybrid lineage joins at the
// admixture event, for a uniform draw u: the first k with u < m_1 + ... + m_k;
// should rounding leave u above the whole sum, the last contributing one.
std::size_t source_of_hybrid_lineage(const std::vector<double>& mix, double u)
{
    double cumulative = 0;
    std::size_t last_contributing = 0;
    for (std::size_t k = 0; k < mix.size(); ++k) {
        if (mix[k] > 0)
            last_contributing = k;
        cumulative += mix[k];
        if (u < cumulative)
            return k;
    }
    return last_contributing;
}

Genealogy draw_genealogy(const Scenario& scenario, RandomDraws& draws)
{
    Genealogy genealogy;
    std::vector<Lineages> populations(scenario.copies.size());
    for (std::size_t p = 0; p < populations.size(); ++p)
        for (std::int64_t c = 0; c < scenario.copies[p]; ++c)
            populations[p].push_back(genealogy.add_node(0));

    // Hybrid and parental populations side by side until the admixture event.
    coalesce_within(populations, 0, scenario.admixture_time, genealogy, draws);
    for (std::int64_t lineage : populations[0])
        populations[1 + source_of_hybrid_lineage(scenario.mix, draws.uniform())].push_back(lineage);
    populations[0].clear();

    // The parental populations alone until the split, then the ancestral one.
    coalesce_within(populations, scenario.admixture_time, scenario.split_time, genealogy, draws);
    std::vector<Lineages> ancestral(1);
    for (const Lineages& lineages : populations)
        ancestral[0].insert(ancestral[0].end(), lineages.begin(), lineages.end());
    coalesce_within(ancestral, scenario.split_time, std::numeric_limits<double>::infinity(), genealogy, draws);
    return genealogy;
}

// Mutations on the path from the root to every node, each branch receiving a
// Poisson number with mean theta/2 times its length; and for every node the
// highest node reached from it through branches without mutation. Two copies
// carry the same sequence exactly when they reach the same such node.
struct Mutations {
    std::vector<std::int64_t> from_root;
    std::vector<std::int64_t> identical_up_to;
};

Mutations drop_mutations(const Genealogy& genealogy, double theta, RandomDraws& draws)
{
    const std::int64_t root = genealogy.root();
    Mutations mutations{std::vector<std::int64_t>(root + 1, 0), std::vector<std::int64_t>(root + 1, root)};
    for (std::int64_t node = root - 1; node >= 0; --node) {
        const std::int64_t up = genealogy.parent[node];
        const std::int64_t on_branch = draws.poisson(theta / 2 * (genealogy.time[up] - genealogy.time[node]));
        mutations.from_root[node] = mutations.from_root[up] + on_branch;
        mutations.identical_up_to[node] = on_branch == 0 ? mutations.identical_up_to[up] : node;
    }
    return mutations;
}

std::int64_t common_ancestor(const Genealogy& genealogy, std::int64_t a, std::int64_t b)
{
    while (a != b) {
        if (a < b)
            a = genealogy.parent[a];
        else
            b = genealogy.parent[b];
    }
    return a;
}

// Groups the copies into haplotypes in order of first appearance and counts
// each population's copies of each; returns the node that stands for each
// haplotype.
std::vector<std::int64_t> group_copies(const Scenario& scenario, const Mutations& mutations, dataset::Locus& locus)
{
    std::vector<std::int64_t> haplotype_of_node(mutations.from_root.size(), -1);
    std::vector<std::int64_t> representatives;
    locus.counts.assign(scenario.copies.size(), {});
    std::int64_t copy = 0;
    for (std::size_t p = 0; p < scenario.copies.size(); ++p) {
        for (std::int64_t c = 0; c < scenario.copies[p]; ++c, ++copy) {
            const std::int64_t top = mutations.identical_up_to[copy];
            if (haplotype_of_node[top] < 0) {
                haplotype_of_node[top] = static_cast<std::int64_t>(representatives.size());
                representatives.push_back(top);
                for (auto& counts : locus.counts)
                    counts.push_back(0);
            }
            ++locus.counts[p][haplotype_of_node[top]];
        }
    }
    return representatives;
}

}  // namespace

dataset::Locus simulate_locus(const Scenario& scenario, RandomDraws& draws, std::int64_t locus_index)
{
    const Genealogy genealogy = draw_genealogy(scenario, draws);
    const Mutations mutations = drop_mutations(genealogy, scenario.theta, draws);
    dataset::Locus locus;
    locus.name = "locus" + std::to_string(locus_index + 1);
    const std::vector<std::int64_t> representatives = group_copies(scenario, mutations, locus);
    const std::size_t n = representatives.size();
    if (n > static_cast<std::size_t>(dataset::max_haplotypes_per_locus))
        throw UnwritableLocus("the simulated locus " + std::to_string(locus_index + 1) + " of " +
                              std::to_string(scenario.loci) + " holds " + std::to_string(n) +
                              " distinct haplotypes, more than the " +
                              std::to_string(dataset::max_haplotypes_per_locus) + " a data file takes at one locus");
    locus.distances.assign(n, std::vector<double>(n, 0));
    for (std::size_t i = 0; i < n; ++i) {
        locus.haplotypes.push_back("hap" + std::to_string(i + 1));
        for (std::size_t j = 0; j < i; ++j) {
            const std::int64_t a = representatives[i], b = representatives[j];
            const std::int64_t ancestor = common_ancestor(genealogy, a, b);
            const std::int64_t sites =
                mutations.from_root[a] + mutations.from_root[b] - 2 * mutations.from_root[ancestor];
            locus.distances[i][j] = locus.distances[j][i] = static_cast<double>(sites);
        }
    }
    return locus;
}

dataset::DataSet simulate_data_set(const Scenario& scenario)
{
    dataset::DataSet data;
    data.time_since_admixture = scenario.admixture_time;
    data.mutation_rate = scenario.theta / 2;
    data.populations.push_back("hybrid");
    for (std::size_t k = 1; k <= scenario.mix.size(); ++k)
        data.populations.push_back("parent" + std::to_string(k));
    RandomDraws draws(scenario.seed);
    for (std::int64_t l = 0; l < scenario.loci; ++l)
        data.loci.push_back(simulate_locus(scenario, draws, l));
    return data;
}

}  // namespace simulate
